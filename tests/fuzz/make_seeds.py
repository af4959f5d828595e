#!/usr/bin/env python3
"""Writes the fuzzing seed corpus: every QOL text of tests/qol/*.cases as a
script input (selector '0', GBK, lines joined with CR LF as the conformance
runner joins them), and a few inputs for each text function.

    make_seeds.py OUTPUT_DIR [CASES_NAME...]

With names (system, timers, ...), only those case files, and no inputs of
the text functions.
"""
import pathlib
import sys

ROOT = pathlib.Path(__file__).resolve().parents[2]


def case_texts(path):
    """The texts of a case file: a block's lines up to "---", or, in a
    block without "---", the text before " => " of each row."""
    blocks, block = [], None
    for line in path.read_text(encoding="utf-8").splitlines():
        if line.startswith("==="):
            block = []
            blocks.append(block)
        elif block is not None:
            block.append(line)
    for block in blocks:
        if "---" in block:
            yield block[: block.index("---")]
        else:
            for row in block:
                if " => " in row:
                    yield [row[: row.index(" => ")]]


def gbk(text):
    return text.encode("gbk", errors="replace")


# Inputs of the text functions: selector, then texts separated by zero bytes.
TEXT_SEEDS = [
    b"4" + b"a*b?c#%\x00axxbyc1",
    b"4" + gbk("z*;x% //N") + b"\x00" + gbk("张三 123"),
    b"4" + b"!abc\x00abd",
    b"5" + b"a*\x00abc\x00ab  \x00xyz\x00abc\x00a",
    b"6" + b"name=x;age=3;\x00age\x00;\x00none",
    b"6" + gbk("甲,乙,丙") + b"\x00,\x00" + b"?",
    b"7" + b"select a from t where x=(select 1 from u) group by a order by b\x00SELECT,FROM,WHERE",
    b"7" + b"update t set a='x from y' where [b]=2\x00update,set,where",
    b"8" + b"\x00\x00\x00\x00\x00\x00\xf0\x3f\x00first\x00second",
    b"8" + gbk('name="张三";age=30;') + b"\x00name\x00age",
    b"9" + b"if(a) { b='x;y'; } else c(1,[2]); d",
    b"9" + b"FUNCTION: f(x) { return \"a\\x41\" 'b'; } g",
]


def main():
    out = pathlib.Path(sys.argv[1])
    out.mkdir(parents=True, exist_ok=True)
    only = set(sys.argv[2:])
    count = 0
    for cases in sorted((ROOT / "tests" / "qol").glob("*.cases")):
        if only and cases.stem not in only:
            continue
        for n, lines in enumerate(case_texts(cases)):
            while lines and not lines[-1]:
                lines.pop()
            if any("200000" in line for line in lines):
                continue  # the deep texts of robustness.cases: slow, and their shapes are known
            data = b"0" + gbk("\r\n".join(lines))
            (out / f"{cases.stem}-{n:03d}").write_bytes(data)
            count += 1
    for n, data in enumerate([] if only else TEXT_SEEDS):
        (out / f"text-{n:03d}").write_bytes(data)
        count += 1
    print(f"{count} seeds in {out}")


if __name__ == "__main__":
    main()
