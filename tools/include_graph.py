#!/usr/bin/env python3
"""The include graph of the source tree, by folder, and its layer rule.

Reads the #include lines of every source file under src/, include/ and
tools/ of a tree, resolves each against the tree (the including file's
folder, then src/, then include/), counts the include edges between folders
and checks two rules:

- every edge points down the layer order below (or stays in one layer);
- a folder with a door into another includes only the door's headers there;
- the leaf headers below include no header of the tree but those listed;
- no file reaches itself through its includes.

  include_graph.py [--root DIR] --check    report a broken rule (exit 1)
  include_graph.py [--root DIR] --write    also write docs/dev/layout.md

Python 3 alone; nothing to install.
"""
import argparse
import collections
import os
import re
import sys

# The layers, lowest first: a file may include files of its own layer and of
# the layers before it. A folder not listed belongs to the layer of its
# nearest listed parent.
LAYERS = [
    ("platform", ["src/platform"], "stand-ins for the OS facilities, CString"),
    ("api", ["include/qotool"], "the public headers"),
    ("textutil", ["src/textutil"], "pattern matching, cutting, paths"),
    ("engine", ["src/engine"], "the interpreter, its hooks for the layers above"),
    ("diag", ["src/diag"], "message log, debugger, browser (reads engine/debugger_seam.h)"),
    ("builtins", ["src/builtins"], "the built-in functions"),
    ("tables", ["src/tables"], "rule tables, row index, code table"),
    ("host", ["src/host"], "load and unload, the C API, modules"),
    ("analysis", ["src/analysis"], "static analysis (qol --check, --lsp)"),
    ("tools", ["tools"], "the qol runner and generators"),
]

# Folders that may include from a lower folder only through the named
# headers: the debugger reads the engine through its one seam.
DOORS = {
    ("src/diag", "src/engine"): {"src/engine/debugger_seam.h"},
}

# Headers that must stay leaves: the headers of the tree each may include.
LEAVES = {
    "src/engine/scanner.h": {"include/qotool/cstring.h", "src/platform/cstring.h", "src/platform/export.h"},
}

SOURCE_ROOTS = ("src", "include", "tools")
SUFFIXES = (".h", ".hpp", ".c", ".cpp", ".inc")
INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]')
DOC = "docs/dev/layout.md"


def source_files(root):
    files = []
    for top in SOURCE_ROOTS:
        for folder, dirs, names in os.walk(os.path.join(root, top)):
            dirs.sort()
            for name in sorted(names):
                if name.endswith(SUFFIXES):
                    files.append(os.path.relpath(os.path.join(folder, name), root).replace(os.sep, "/"))
    return files


def resolve(root, known, including, target, quoted):
    tries = [os.path.normpath(os.path.join(os.path.dirname(including), target))] if quoted else []
    tries += ["src/" + target, "include/" + target]
    for path in tries:
        path = path.replace(os.sep, "/")
        if path in known:
            return path
    return None


def include_edges(root):
    """(including file, included file) for every include of a file in the tree."""
    files = source_files(root)
    known = set(files)
    edges = []
    for path in files:
        with open(os.path.join(root, path), encoding="utf-8", errors="replace") as f:
            for line in f:
                m = INCLUDE.match(line)
                if m:
                    target = resolve(root, known, path, m.group(2), m.group(1) == '"')
                    if target:
                        edges.append((path, target))
    return files, edges


def folder_of(path):
    return os.path.dirname(path)


def layer_of(path):
    best, rank = None, None
    for index, (name, prefixes, _) in enumerate(LAYERS):
        for prefix in prefixes:
            if (path == prefix or path.startswith(prefix + "/")) and (best is None or len(prefix) > len(best)):
                best, rank = prefix, index
    return rank


def check(files, edges):
    problems = []
    for path in files:
        if layer_of(path) is None:
            problems.append(f"{path}: in no layer (add its folder to LAYERS)")
    for a, b in edges:
        la, lb = layer_of(a), layer_of(b)
        if la is not None and lb is not None and lb > la:
            problems.append(f"back edge {folder_of(a)} -> {folder_of(b)}: {a} includes {b} "
                            f"({LAYERS[la][0]} is below {LAYERS[lb][0]})")
    for (inside, into), doors in DOORS.items():
        for a, b in edges:
            if folder_of(a) == inside and (b.startswith(into + "/")) and b not in doors:
                problems.append(f"{a} includes {b}: {inside}/ reaches {into}/ only through "
                                + ", ".join(sorted(doors)))
    for leaf, allowed in LEAVES.items():
        for a, b in edges:
            if a == leaf and b not in allowed:
                problems.append(f"leaf {leaf} includes {b}")
    for circle in include_circles(edges):
        problems.append("include circle: " + " -> ".join(circle))
    return problems


def include_circles(edges):
    """The circles of the file graph: its strongly connected parts of more
    than one file (Tarjan's method, without recursion)."""
    graph = collections.defaultdict(list)
    for a, b in edges:
        graph[a].append(b)
    index, low, stack, on_stack, circles = {}, {}, [], set(), []
    for start in sorted(graph):
        if start in index:
            continue
        work = [(start, iter(graph[start]))]
        index[start] = low[start] = len(index)
        stack.append(start)
        on_stack.add(start)
        while work:
            node, successors = work[-1]
            for nxt in successors:
                if nxt not in index:
                    index[nxt] = low[nxt] = len(index)
                    stack.append(nxt)
                    on_stack.add(nxt)
                    work.append((nxt, iter(graph[nxt])))
                    break
                if nxt in on_stack:
                    low[node] = min(low[node], index[nxt])
            else:
                work.pop()
                if work:
                    low[work[-1][0]] = min(low[work[-1][0]], low[node])
                if low[node] == index[node]:
                    part = []
                    while True:
                        member = stack.pop()
                        on_stack.discard(member)
                        part.append(member)
                        if member == node:
                            break
                    if len(part) > 1 or node in graph[node]:
                        circles.append(sorted(part))
    return circles


def folder_edges(edges):
    counts = collections.Counter()
    for a, b in edges:
        if folder_of(a) != folder_of(b):
            counts[(folder_of(a), folder_of(b))] += 1
    return counts


def node_id(folder):
    return re.sub(r"[^A-Za-z0-9]", "_", folder)


def render(files, edges):
    counts = folder_edges(edges)
    folders = sorted({folder_of(f) for f in files}, key=lambda f: (layer_of(f), f))
    out = ["# The include graph", "",
           "Generated by `tools/include_graph.py --write` from the `#include` lines of",
           "`src/`, `include/` and `tools/`; do not edit by hand. The ctest",
           "`layout_include_graph` runs the script with `--check`: it fails on an",
           "include from a lower layer into a higher one, on an include that passes",
           "by a folder's door, on a leaf header that includes more than it may and",
           "on a file that reaches itself through its includes.", "",
           "## Layers, lowest first", "",
           "| layer | folders | holds |", "|---|---|---|"]
    for name, prefixes, holds in LAYERS:
        out.append(f"| {name} | {', '.join('`' + p + '/`' for p in prefixes)} | {holds} |")
    out += [""]
    for (inside, into), doors in DOORS.items():
        out.append(f"`{inside}/` includes from `{into}/` only " + ", ".join(f"`{d}`" for d in sorted(doors)) + ".")
    out += ["", "Leaf headers: " + ", ".join(f"`{leaf}`" for leaf in LEAVES) + ".", "",
            "## Folders and their include edges", "",
            "Each arrow is labelled with the number of `#include` lines from files",
            "of one folder to files of the other.", "", "```mermaid", "flowchart BT"]
    for folder in folders:
        out.append(f'    {node_id(folder)}["{folder}/"]')
    for (a, b), n in sorted(counts.items(), key=lambda e: (layer_of(e[0][0]), e[0])):
        out.append(f"    {node_id(a)} -->|{n}| {node_id(b)}")
    out += ["```", "", "| from | to | includes |", "|---|---|---|"]
    for (a, b), n in sorted(counts.items(), key=lambda e: (layer_of(e[0][0]), e[0])):
        out.append(f"| `{a}/` | `{b}/` | {n} |")
    total = sum(counts.values())
    out += ["", f"{len(files)} files, {len(edges)} include lines inside the tree, "
            f"{total} of them between folders.", ""]
    return "\n".join(out)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--root", default=os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
    mode = parser.add_mutually_exclusive_group(required=True)
    mode.add_argument("--check", action="store_true", help="check the rules only")
    mode.add_argument("--write", action="store_true", help=f"check and write {DOC}")
    args = parser.parse_args()
    root = os.path.abspath(args.root)
    files, edges = include_edges(root)
    if not files:
        print(f"no source files under {root}", file=sys.stderr)
        return 2
    text = render(files, edges)
    doc = os.path.join(root, DOC)
    if args.write:
        os.makedirs(os.path.dirname(doc), exist_ok=True)
        with open(doc, "w", encoding="utf-8") as f:
            f.write(text)
    else:
        try:
            with open(doc, encoding="utf-8") as f:
                if f.read() != text:
                    print(f"note: {DOC} is out of date (run tools/include_graph.py --write)")
        except OSError:
            print(f"note: {DOC} is missing (run tools/include_graph.py --write)")
    problems = check(files, edges)
    for problem in problems:
        print(problem, file=sys.stderr)
    if problems:
        print(f"{len(problems)} layout problem(s)", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
