// The fuzzing targets shared by the AFL++ harness and the replay runner.
//
// An input's first byte selects the target (the digits '0' to '9' name them,
// any other byte counts modulo kTargetCount; '0' to '3' run a script);
// the rest is the text, or for the text functions several texts separated
// by zero bytes. Every target runs on fresh copies, so nothing an input
// does survives it but process-wide tables; a target that finds the
// library in a state it must never reach calls abort(), which is what the
// fuzzer and the replay count as a crash.
#ifndef QOTOOL_TESTS_FUZZ_FUZZ_TARGETS_H
#define QOTOOL_TESTS_FUZZ_FUZZ_TARGETS_H

#include <cstddef>
#include <cstdint>

namespace qotool::fuzz {

constexpr int kTargetCount = 10;
// Executor activations one script may take: enough for every conformance
// case, few enough that an endless loop ends in milliseconds.
constexpr long kStepBudget = 200000;

// Prepares the process once (silent UI, no step budget; with
// QOTOOL_FUZZ_SERVICES=FOLDER, the services sandbox in FOLDER).
void InitFuzzing();
// Runs one input through its target.
void RunFuzzInput(const uint8_t* data, size_t size);

}  // namespace qotool::fuzz

#endif
