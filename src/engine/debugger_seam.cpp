#include "engine/debugger_seam.h"

#include <algorithm>
#include <mutex>
#include <utility>

#include "engine/error_site.h"
#include "engine/run_context.h"
#include "engine/step_budget.h"
#include "engine/var_tables.h"
#include "qotool/qolanguage.h"

namespace qotool::engine {

CQoLanguage* RunOwner(const QoLRunContext* run) { return run ? run->owner : nullptr; }

int RunLevel(const QoLRunContext* run) { return run ? run->level : 0; }

const char* LevelText(const QoLRunContext* run, int lv) {
    if (!run || lv < 0 || (size_t)lv >= run->levelStart.size()) return nullptr;
    return run->levelStart[(size_t)lv];
}

bool ErrorsWithoutPosition(const QoLRunContext* run) { return run && (run->traceFlags & 8); }

std::string_view CurrentFile(const QoLRunContext* run) { return run ? run->currentFile.view() : std::string_view(); }

std::string_view TableBufferName(const QoLRunContext* run) {
    return run ? run->tableBufferName.view() : std::string_view();
}

namespace {

// The positions of scope level `scope` in a table of `size` entries, from
// the sizes the scope table recorded (first: variables, second: arrays).
ScopeRange ScopeIn(const CQoLanguage* qo, int scope, int size, bool arrays) {
    const int top = qo->m_nScopeLevel < 0 ? 0 : qo->m_nScopeLevel;
    auto bound = [&](int level) {
        if (level < 0 || (size_t)level >= qo->m_scopeTable.size()) return size;
        const auto& sizes = qo->m_scopeTable[(size_t)level];
        const int v = arrays ? sizes.second : sizes.first;
        return v < 0 ? 0 : (v > size ? size : v);
    };
    ScopeRange range;
    range.begin = scope == 0 ? 0 : bound(scope);
    range.end = scope == top ? size : bound(scope + 1);
    if (range.end < range.begin) range.end = range.begin;
    return range;
}

}  // namespace

int VariableCount(const CQoLanguage* qo) { return qo && qo->m_pVars ? qo->m_pVars->variables.size() : 0; }

const QoLVarDefine* VariableAt(const CQoLanguage* qo, int index) {
    if (index < 0 || index >= VariableCount(qo)) return nullptr;
    return qo->m_pVars->variables[index];
}

int ArrayCount(const CQoLanguage* qo) { return qo && qo->m_pVars ? qo->m_pVars->arrays.size() : 0; }

ArrayShape ArrayAt(const CQoLanguage* qo, int index) {
    ArrayShape shape;
    if (index < 0 || index >= ArrayCount(qo)) return shape;
    const VarArray* a = qo->m_pVars->arrays[index];
    shape.name = a->name.view();
    shape.rows = a->Rows();
    shape.columns = a->Columns();
    return shape;
}

ScopeRange VariablesOfScope(const CQoLanguage* qo, int scope) {
    return qo ? ScopeIn(qo, scope, VariableCount(qo), false) : ScopeRange();
}

ScopeRange ArraysOfScope(const CQoLanguage* qo, int scope) {
    return qo ? ScopeIn(qo, scope, ArrayCount(qo), true) : ScopeRange();
}

const QoLVarDefine* ArrayCell(const CQoLanguage* qo, int array, int row, int column) {
    if (array < 0 || array >= ArrayCount(qo)) return nullptr;
    const VarArray* a = qo->m_pVars->arrays[array];
    if (row < 0 || row >= a->Rows() || column < 0 || column >= a->Columns()) return nullptr;
    return a->CellIfCreated(row, column);
}

void VisitSystemVariables(const std::function<void(const QoLVarDefine&)>& visit) {
    std::lock_guard<std::recursive_mutex> lock(SystemStoreMutex());
    VarTables& system = SystemTables();
    for (int i = 0; i < system.variables.size(); ++i) visit(*system.variables[i]);
}

long OffsetInSource(const char* text, long offset, std::string_view source) {
    if (!text) return -1;
    ErrorSite site;
    site.text = text;
    site.offset = (int)offset;
    return SiteOffsetInSource(site, source);
}

AsideResult EvaluateAside(CQoLanguage* qo, const char* text, long steps) {
    AsideResult result;
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

    qo->m_modeFlags |= 0x10;
    // "$$$" holds the error back from the caller.
    std::string buffer = "$$$";
    buffer += text;
    try {
        StepLimit limit(steps);
        qo->DoQol(buffer.c_str(), nullptr);
        result.type = qo->m_cType;
        result.number = qo->m_dValue;
        if (result.type != 'X' && result.type != 'Z') result.text = qo->GetValueString().view();
    } catch (...) {
        result.type = 'X';
    }
    if (result.type == 'X') {
        result.error = qo->m_strError.view();
        result.error.resize(std::min(result.error.size(), result.error.find("【位于】")));
        while (!result.error.empty() && (result.error.back() == '\n' || result.error.back() == '\r'))
            result.error.pop_back();
        result.stepsSpent = result.error == kStepBudgetSpent;
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
    return result;
}

}  // namespace qotool::engine
