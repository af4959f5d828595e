// Evaluating text of the debugger's own (watches, the condition of
// "至条件", "运算") on a paused interpreter without changing its run: the
// value, strings, positions, flags and extra text are saved and restored,
// the debug switch is off and variables are read-only (mode 0x10)
// meanwhile, and a failure never unwinds into the run.
#ifndef QOTOOL_DIAG_DEBUG_EVAL_H
#define QOTOOL_DIAG_DEBUG_EVAL_H

#include <string>

class CQoLanguage;

namespace qotool::diag {

extern const char kCannotCompute[];  // "无法计算"

struct Evaluation {
    char type = 'X';  // 'X' when the evaluation failed
    double number = 0;
    std::string text;  // the value's full text
    std::string error;  // on failure: the error message without its position text
};

// Evaluates text (statements separated by ";").
Evaluation EvaluateReadOnly(CQoLanguage* qo, const char* text);
// As a watch shows it: "%c:%s", "" for a Z result, "无法计算" on failure.
std::string ShownEvaluation(const Evaluation& e);
std::string EvaluateQuietly(CQoLanguage* qo, const char* text);
// The type letter ('X' on failure) and the value text.
char EvaluateValue(CQoLanguage* qo, const char* text, std::string& value);

}  // namespace qotool::diag

#endif
