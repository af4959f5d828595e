#!/bin/sh
# The include-graph check on a tree with one fault of each kind planted: it
# must fail and name each of them.
# Usage: planted_faults.sh INCLUDE_GRAPH_SCRIPT FIXTURE_TREE
out=$(python3 "$1" --check --root "$2" 2>&1) && { echo "FAIL: the check passed: $out"; exit 1; }
for want in \
  "back edge src/platform -> src/engine: src/platform/clock.h includes src/engine/run.h" \
  "src/diag/view.cpp includes src/engine/run.h: src/diag/ reaches src/engine/ only through" \
  "leaf src/engine/scanner.h includes src/engine/run.h" \
  "include circle: src/engine/run.h -> src/platform/clock.h"; do
  echo "$out" | grep -qF "$want" || { echo "FAIL: not reported: $want"; echo "$out"; exit 1; }
done
echo "all planted faults reported"
