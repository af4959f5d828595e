// A seam for fuzzing and crash replays: a process-wide budget of executor
// activations, so that a script that loops for ever ends. While the budget
// is set (0 or more) every DoSentence spends one step; a run that finds none
// left fails with kStepBudgetSpent, and so does everything it then tries
// (its catch clauses included), so the run ends at once. Off (-1) unless a
// test sets it; then it costs one relaxed load per activation.
#ifndef QOTOOL_ENGINE_STEP_BUDGET_H
#define QOTOOL_ENGINE_STEP_BUDGET_H

#include <atomic>

class CQoLanguage;

namespace qotool::engine {

extern std::atomic<long> g_stepBudget;
extern const char kStepBudgetSpent[];  // "step budget spent" (never seen outside tests)

// steps < 0: off.
inline void SetStepBudgetForTest(long steps) { g_stepBudget.store(steps, std::memory_order_relaxed); }

// Spends one step; reports kStepBudgetSpent at cursor when none is left.
void SpendStep(CQoLanguage* qo, char* cursor);

}  // namespace qotool::engine

#endif
