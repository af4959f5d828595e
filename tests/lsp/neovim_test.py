#!/usr/bin/env python3
"""A real editor as the client: Neovim (headless, its built-in LSP client,
editors/vim loaded) opens a file with one undefined name and one built-in
call; the diagnostic and the hover text are read through Neovim's own API.
Usage: neovim_test.py QOL SOURCE_ROOT. Exits 77 (skipped) without nvim."""
import os
import shutil
import subprocess
import sys
import tempfile

qol, root = sys.argv[1], sys.argv[2]
nvim = shutil.which("nvim")
if not nvim:
    print("nvim is not installed")
    sys.exit(77)
with tempfile.TemporaryDirectory() as home:
    script = os.path.join(home, "check.qol")
    with open(script, "w", encoding="utf-8") as f:
        f.write("x = nosuch + 1;\ny = left('abc', 2);\n")
    result = os.path.join(home, "result.txt")
    env = dict(os.environ, HOME=home, XDG_CONFIG_HOME=home, XDG_DATA_HOME=home, XDG_STATE_HOME=home,
               QOL_BIN=qol, QOL_EDITORS_DIR=os.path.join(root, "editors", "vim"), QOL_RESULT=result,
               QOL_HOVER="1:5")
    subprocess.run([nvim, "--headless", "--clean", "-n", "-u", os.path.join(root, "tests", "lsp", "neovim_init.lua"),
                    script], env=env, timeout=120, stdin=subprocess.DEVNULL, capture_output=True)
    lines = open(result, encoding="utf-8").read().splitlines() if os.path.exists(result) else []
print("\n".join(lines))
expected_diagnostic = "diagnostic 0:4 1 'nosuch' is read, but no statement of the text assigns it"
ok = lines[:1] == ["filetype qol"] and expected_diagnostic in lines and \
    any(l.startswith("hover ### `left`") and "`left(s, n)`" in l for l in lines)
sys.exit(0 if ok else 1)
