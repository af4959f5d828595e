#!/usr/bin/env python3
"""Writes tools/qol/startup_order.ld: the functions a start of qol runs, placed together.

    tools/qol/startup_order.py [--build DIR]

A start of qol runs a few hundred functions scattered over two megabytes of
code; each 64 KiB of code that a start touches costs the process one page
fault, and on a virtual machine a fault costs as much as tens of thousands
of instructions. The linker script this writes gathers those functions
(each compiled in a section of its own) into one output section in front of
the rest of the code, so that a start touches four such windows instead of
twenty-five.

The functions are those that `qol -e 1` and `qol examples/hello.qol` run
under valgrind's callgrind (valgrind must be installed; run it on an
optimised build, after changes to the start-up path). A function missing
from the list only costs speed: the script names sections, and a name that
no longer exists matches nothing.
"""
import argparse
import os
import re
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
OUT = os.path.join(HERE, "startup_order.ld")

HEADER = """\
/* The functions a start of qol runs, gathered in front of the rest of the
   code (startup_order.py wrote this file: run it again after changes to the
   start-up path). First the code the exit runs ahead of the program's own
   (.fini, the start files' parts in their order), the start files' code and
   libc_nonshared.a's, then the functions of `qol -e 1`, then those a script
   file adds. */
SECTIONS
{
  .text.qol_start :
  {
    KEEP (*(SORT_NONE(.fini)))
    *crt1.o(.text .text.*)
    *crtbegin*.o(.text .text.*)
    *libc_nonshared.a:*(.text .text.*)
"""
FOOTER = """\
  }
}
INSERT BEFORE .text;
"""


def called_functions(profile):
    """The function names of a callgrind profile (written with --demangle=no), in order of first appearance."""
    names, seen, table = [], set(), {}
    with open(profile) as f:
        for line in f:
            m = re.match(r"^c?fn=\((\d+)\)(?: (.*))?$", line.rstrip("\n"))
            if not m:
                continue
            ident, name = m.groups()
            if name is not None:
                table[ident] = name
            name = table.get(ident)
            if name and name not in seen:
                seen.add(name)
                names.append(name)
    return names


def text_symbols(binary):
    """name -> address, and address -> names, of the functions defined in binary."""
    out = subprocess.run(["nm", "--defined-only", binary], capture_output=True, text=True, check=True).stdout
    address_of, names_at = {}, {}
    for line in out.splitlines():
        parts = line.split()
        if len(parts) == 3 and parts[1] in "tTwW":
            address_of[parts[2]] = parts[0]
            names_at.setdefault(parts[0], []).append(parts[2])
    return address_of, names_at


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", default=os.path.join(ROOT, "build"))
    args = parser.parse_args()
    qol = os.path.join(args.build, "tools", "qol", "qol")
    if not os.access(qol, os.X_OK):
        print(f"startup_order.py: no qol at {qol} (build first)", file=sys.stderr)
        return 2
    runs = [[qol, "-e", "1"], [qol, os.path.join(ROOT, "examples", "hello.qol")]]
    order = []
    with tempfile.TemporaryDirectory() as tmp:
        for i, argv in enumerate(runs):
            profile = os.path.join(tmp, f"callgrind.{i}")
            subprocess.run(["valgrind", "--tool=callgrind", "--demangle=no", f"--callgrind-out-file={profile}"]
                           + argv, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            # Each run's new names sorted, so that the file changes only
            # where the start-up path does.
            order += sorted(set(called_functions(profile)) - set(order))
    address_of, names_at = text_symbols(qol)
    lines, done = [], set()
    for name in order:
        address = address_of.get(name)
        if address is None or address in done:
            continue
        done.add(address)
        # A constructor's or destructor's complete-object and base-object
        # names share one body, in a section named after one of them; the
        # compiler puts functions it sees run only at start or exit in
        # .text.startup.* and .text.exit.*.
        sections = []
        for alias in sorted(names_at[address]):
            sections += [f".text{part}.{alias}" for part in ("", ".startup", ".exit")]
        lines.append("    *(" + " ".join(sections) + ")\n")
    with open(OUT, "w") as f:
        f.write(HEADER + "".join(lines) + FOOTER)
    print(f"startup_order.py: {len(lines)} functions in {OUT}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
