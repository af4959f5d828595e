#include "diag/debug_eval.h"

#include <string>
#include <utility>

#include "engine/debugger_seam.h"

namespace qotool::diag {

const char kCannotCompute[] = "无法计算";

// Activations one evaluation may spend: far beyond any watch or condition,
// yet an endless loop typed there gives up within about a second, and
// shows as a failed evaluation.
constexpr long kEvaluationSteps = 5000000;

Evaluation EvaluateReadOnly(CQoLanguage* qo, const char* text) {
    Evaluation result;
    // The debugger's own hook stays quiet while its text runs.
    const unsigned char savedSwitch = g_debugSwitch;
    g_debugSwitch &= (unsigned char)~1;
    engine::AsideResult aside = engine::EvaluateAside(qo, text, kEvaluationSteps);
    g_debugSwitch = (unsigned char)((g_debugSwitch & ~1) | (savedSwitch & 1));
    result.type = aside.type;
    result.number = aside.number;
    result.text = std::move(aside.text);
    result.error = std::move(aside.error);
    if (aside.stepsSpent)
        result.error = "no result within " + std::to_string(kEvaluationSteps) + " steps (an endless loop?)";
    return result;
}

std::string ShownEvaluation(const Evaluation& e) {
    if (e.type == 'X') return kCannotCompute;
    if (e.type == 'Z') return std::string();
    std::string out(1, e.type);
    out += ':';
    out += e.text;
    return out;
}

std::string EvaluateQuietly(CQoLanguage* qo, const char* text) { return ShownEvaluation(EvaluateReadOnly(qo, text)); }

char EvaluateValue(CQoLanguage* qo, const char* text, std::string& value) {
    Evaluation e = EvaluateReadOnly(qo, text);
    value = e.text;
    return e.type;
}

}  // namespace qotool::diag
