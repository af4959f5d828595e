#include "diag/debug_eval.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "diag/debug_hooks.h"
#include "diag/debug_panes.h"
#include "engine/run_context.h"
#include "engine/step_budget.h"
#include "qotool/qolanguage.h"

namespace qotool::diag {

const char kCannotCompute[] = "无法计算";

// Activations one evaluation may spend: far beyond any watch or condition,
// yet an endless loop typed there gives up within about a second, and
// shows as a failed evaluation.
constexpr long kEvaluationSteps = 5000000;

Evaluation EvaluateReadOnly(CQoLanguage* qo, const char* text) {
    Evaluation result;
    if (!qo || !qo->m_pRun || !text) return result;
    QoLRunContext* run = qo->m_pRun;
    // Everything the run could notice.
    const char type = qo->m_cType;
    const double number = qo->m_dValue;
    const CString string = qo->m_strValue, error = qo->m_strError, ext = qo->m_strExtType, spare = qo->m_strSpare;
    const uintptr_t pointer = qo->m_pValue;
    const char control = qo->m_cControl;
    const unsigned char flags = qo->m_modeFlags;
    void* const host = qo->m_pHostData;
    const int scopeLevel = qo->m_nScopeLevel;
    const std::vector<std::pair<int, int>> scopes = qo->m_scopeTable;
    char* const statementStart = run->statementStart;
    const short bracket = run->bracketDepth, catchDepth = run->catchDepth, level = run->level;
    const std::vector<const char*> starts = run->levelStart;
    const CString gotoLabel = run->gotoLabel, callName = run->callName, undefined = run->undefinedNames;
    const short gotoLevel = run->gotoLevel;
    char* const gotoCursor = run->gotoCursor;
    const std::vector<QoLWriteBack> writeBack = run->writeBack;
    const unsigned char savedSwitch = g_debugSwitch;

    g_debugSwitch &= (unsigned char)~1;
    qo->m_modeFlags |= 0x10;
    // "$$$" holds the error back from the caller: a failing watch never
    // unwinds into the run.
    std::string buffer = "$$$";
    buffer += text;
    try {
        engine::StepLimit limit(kEvaluationSteps);
        qo->DoQol(buffer.c_str(), nullptr);
        result.type = qo->m_cType;
        result.number = qo->m_dValue;
        if (result.type != 'X') result.text = FullValue(qo);
    } catch (...) {
        result.type = 'X';
    }
    if (result.type == 'X') {
        result.error = qo->m_strError.view();
        result.error.resize(std::min(result.error.size(), result.error.find("【位于】")));
        while (!result.error.empty() && (result.error.back() == '\n' || result.error.back() == '\r'))
            result.error.pop_back();
        if (result.error == engine::kStepBudgetSpent)
            result.error = "no result within " + std::to_string(kEvaluationSteps) + " steps (an endless loop?)";
    }

    qo->m_cType = type;
    qo->m_dValue = number;
    qo->m_strValue = string;
    qo->m_strError = error;
    qo->m_strExtType = ext;
    qo->m_strSpare = spare;
    qo->m_pValue = pointer;
    qo->m_cControl = control;
    qo->m_modeFlags = flags;
    qo->m_pHostData = host;
    qo->m_nScopeLevel = scopeLevel;
    qo->m_scopeTable = scopes;
    run->statementStart = statementStart;
    run->bracketDepth = bracket;
    run->catchDepth = catchDepth;
    run->level = level;
    run->levelStart = starts;
    run->gotoLabel = gotoLabel;
    run->callName = callName;
    run->undefinedNames = undefined;
    run->gotoLevel = gotoLevel;
    run->gotoCursor = gotoCursor;
    run->writeBack = writeBack;
    g_debugSwitch = (unsigned char)((g_debugSwitch & ~1) | (savedSwitch & 1));
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
