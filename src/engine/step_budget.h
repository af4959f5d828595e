// Budgets of executor activations, so that a text that loops for ever ends:
// - a process-wide one, a seam for fuzzing and crash replays (tests set it);
// - one per thread, which a StepLimit puts on a piece of work for its
//   lifetime: the debugger evaluates watches, conditions and its eval
//   command under one, so that `while(1);` typed there cannot hang the
//   paused run.
// While a budget is set every DoSentence (and every run of a compiled form)
// spends one step of each budget that applies; a run that finds one spent
// fails with kStepBudgetSpent, and so does everything it then tries (its
// catch clauses included), so the run ends at once. With none set anywhere
// it costs one relaxed load per activation.
#ifndef QOTOOL_ENGINE_STEP_BUDGET_H
#define QOTOOL_ENGINE_STEP_BUDGET_H

#include <atomic>

class CQoLanguage;

namespace qotool::engine {

extern std::atomic<long> g_stepBudget;     // the process-wide budget; -1: off
extern std::atomic<int> g_stepBudgetsSet;  // budgets set now, process-wide and per thread
extern const char kStepBudgetSpent[];      // "step budget spent" (the debugger shows its own text)

// Whether any budget is set: the activations' fast test.
inline bool StepsCounted() { return g_stepBudgetsSet.load(std::memory_order_relaxed) != 0; }

// steps < 0: off.
void SetStepBudgetForTest(long steps);

// Spends one step of each budget that applies; false when one is spent.
bool TakeStep();
// Spends one step; reports kStepBudgetSpent at cursor when none is left.
void SpendStep(CQoLanguage* qo, char* cursor);

// This thread's budget while it lives: steps, or what an enclosing limit
// has left when that is less. What is spent inside counts for the
// enclosing limit too.
class StepLimit {
public:
    explicit StepLimit(long steps);
    ~StepLimit();
    StepLimit(const StepLimit&) = delete;
    StepLimit& operator=(const StepLimit&) = delete;

private:
    long saved_, start_;
};

}  // namespace qotool::engine

#endif
