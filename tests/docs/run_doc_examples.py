"""Compiles every C and C++ block of a Markdown page against the library:
a block with a main function is linked and run, and when the next block is
a text block, the program's output (GBK, shown as UTF-8) must be that text;
any other block must build as a shared module.
Usage: run_doc_examples.py PAGE INCLUDE_DIR LIBRARY_DIR"""
import os
import re
import subprocess
import sys
import tempfile

page, include, libdir = sys.argv[1:4]
blocks = re.findall(r"^```(\w*)\n(.*?)^```$", open(page, encoding="utf-8").read(), re.M | re.S)
failures = 0
ran = 0
with tempfile.TemporaryDirectory() as work:
    for index, (language, code) in enumerate(blocks):
        if language not in ("c", "cpp"):
            continue
        source = os.path.join(work, "example%d.%s" % (index, language))
        binary = os.path.join(work, "example%d" % index)
        with open(source, "w", encoding="utf-8") as f:
            f.write(code)
        compiler = ["cc", "-std=c99"] if language == "c" else ["c++", "-std=c++17"]
        runs = re.search(r"\bint main\(", code) is not None
        command = compiler + ["-Wall", "-Wextra", "-Werror", "-I", include, source]
        command += ["-L", libdir, "-lqoTool_NoQO", "-Wl,-rpath," + libdir, "-o", binary]
        if not runs:
            command += ["-shared", "-fPIC"]
        built = subprocess.run(command, capture_output=True, text=True)
        if built.returncode != 0:
            print("block %d of %s does not build:\n%s" % (index, page, built.stderr))
            failures += 1
            continue
        if not runs:
            continue
        ran += 1
        result = subprocess.run([binary], capture_output=True, env=dict(os.environ, QO_UI="silent"), timeout=60)
        output = result.stdout.decode("gbk", errors="replace").replace("\r\n", "\n")
        expected = blocks[index + 1][1] if index + 1 < len(blocks) and blocks[index + 1][0] == "text" else None
        if result.returncode != 0 or (expected is not None and output != expected):
            print("block %d of %s: exit %d, output:\n%s\nexpected:\n%s" % (index, page, result.returncode, output, expected))
            failures += 1
print("%d programs ran, %d failures" % (ran, failures))
sys.exit(1 if failures or ran == 0 else 0)
