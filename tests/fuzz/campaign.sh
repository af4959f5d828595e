#!/usr/bin/env bash
# Runs an AFL++ campaign over the fuzzing targets for MINUTES minutes:
# builds the persistent-mode harness with afl-g++ (classic mode) under
# AddressSanitizer and UndefinedBehaviorSanitizer in its own build folder,
# writes the seeds from tests/qol/*.cases, and fuzzes on one core.
#
#   tests/fuzz/campaign.sh [--services] MINUTES [BUILD_DIR]   (default build-afl)
#
# --services: the scripts use files, processes, timers, rule tables and
# memory blocks in the harness's private folder (services_sandbox.h), with
# the names of those built-ins as a second dictionary; the whole fuzzer runs
# in a PID namespace of its own where unshare allows one, so that what the
# scripts start and kill stays inside. Findings land in findings-services.
#
# Findings land in BUILD_DIR/findings (default/queue, crashes, hangs). Then:
#   minimise:  afl-cmin -i BUILD_DIR/findings/default/queue -o MIN -- BUILD_DIR/tests/fuzz/qotool_afl_harness
#   keep:      MIN replaces tests/fuzz/corpus; each crash or hang goes to tests/fuzz/crashes
# Run it niced (nice -n 19) on a shared machine.
set -euo pipefail
services=
if [ "${1:-}" = --services ]; then services=1; shift; fi
minutes=${1:?usage: campaign.sh [--services] MINUTES [BUILD_DIR]}
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(realpath -m "${2:-$root/build-afl}")

cmake -S "$root" -B "$build" -DCMAKE_C_COMPILER=afl-gcc -DCMAKE_CXX_COMPILER=afl-g++ \
  -DQOTOOL_SANITIZE=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --target qotool_afl_harness -j1
harness="$build/tests/fuzz/qotool_afl_harness"

seeds="$build/seeds"
rm -rf "$seeds"
if [ -n "$services" ]; then
  # The cases of the services, not the whole corpus: the queue starts
  # where the services are, and calibrates in minutes.
  python3 "$root/tests/fuzz/make_seeds.py" "$seeds" system timers rule_tables native paths interpreters
else
  python3 "$root/tests/fuzz/make_seeds.py" "$seeds"
  # The committed corpus and every known crash seed the campaign too.
  cp "$root"/tests/fuzz/corpus/* "$seeds"/ 2>/dev/null || true
fi
for f in "$root"/tests/fuzz/crashes/*; do cp "$f" "$seeds/crash-$(basename "$f")"; done

work="$build/fuzz-home"
mkdir -p "$work"
# Scripts write files with relative names: they land in the work folder, not
# in the folder the campaign was started from.
cd "$work"
export HOME="$work" QO_WORK_DIR="$work/" QO_UI=silent TZ=UTC
export ASAN_OPTIONS=abort_on_error=1:symbolize=0:detect_leaks=0:allocator_may_return_null=1:max_allocation_size_mb=32
export UBSAN_OPTIONS=halt_on_error=1:abort_on_error=1:print_stacktrace=1
# A second run with the same BUILD_DIR goes on from the queue it left.
export AFL_SKIP_CPUFREQ=1 AFL_NO_UI=1 AFL_I_DONT_CARE_ABOUT_MISSING_CRASHES=1 AFL_AUTORESUME=1

# -t: a script's step budget ends loops in milliseconds; 5 s leaves room
# for the sanitizers on a loaded machine. -m none: AddressSanitizer
# reserves terabytes of address space; its max_allocation_size_mb caps
# single allocations (32 MB: a script that doubles a text through deep
# recursion copies it into its error text at every level, which takes
# seconds with the bigger texts a normal build allows).
findings="$build/findings"
dictionaries=(-x "$root/tests/fuzz/qol.dict")
wrap=()
if [ -n "$services" ]; then
  findings="$build/findings-services"
  dictionaries+=(-x "$root/tests/fuzz/services.dict")
  export QOTOOL_FUZZ_SERVICES="$build/services-home"
  # A shell stays process 1 of the namespace: signals a script sends there
  # from inside are ignored, and afl-fuzz is not process 1.
  if unshare --pid --fork --mount-proc true 2>/dev/null; then
    wrap=(unshare --pid --fork --mount-proc sh -c '"$@"; exit $?' sh)
  else
    echo "no PID namespace here: the services campaign runs in the machine's own" >&2
  fi
fi
"${wrap[@]}" afl-fuzz -i "$seeds" -o "$findings" "${dictionaries[@]}" \
  -t 5000 -m none -V $((minutes * 60)) -- "$harness"

stats="$findings/default/fuzzer_stats"
grep -E '^(execs_done|execs_per_sec|corpus_count|bitmap_cvg|saved_crashes|saved_hangs|stability) ' "$stats"
