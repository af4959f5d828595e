// The syntax check: the variable snapshot that keeps a check from changing
// anything, and the check run itself with its undefined-name list.
#include "engine/syntax_check.h"

#include <algorithm>
#include <string>
#include <string_view>
#include <unordered_set>

#include "engine/debugger_seam.h"
#include "engine/run_context.h"
#include "engine/var_tables.h"
#include "qotool/qolanguage.h"

namespace qotool::engine {

namespace {

inline bool IsLead(char c) { return (unsigned char)c >= 0x80; }

// The type of the cells of an array that were never written: a fixed global
// array ("n#name") keeps the type of its first letter.
char UnwrittenCellType(std::string_view name) {
    if (name.size() < 2 || name[1] != '#') return 'Z';
    const char type = (char)(name[0] >= 'a' && name[0] <= 'z' ? name[0] - 32 : name[0]);
    return (type == 'N' || type == 'S' || type == 'P') ? type : 'Z';
}

std::unique_ptr<VarArray> CopyArray(const VarArray& array) {
    auto copy = std::make_unique<VarArray>(array.name.view(), UnwrittenCellType(array.name.view()));
    copy->Grow(array.Rows(), array.Columns());
    for (int r = 0; r < array.Rows(); ++r)
        for (int c = 0; c < array.Columns(); ++c)
            if (const QoLVarDefine* cell = array.CellIfCreated(r, c)) {
                QoLVarDefine* target = copy->Cell(r, c);
                target->m_strName = cell->m_strName;
                target->m_cType = cell->m_cType;
                target->m_strDef = cell->m_strDef;
            }
    return copy;
}

void CollectRecords(VarTables* tables, std::unordered_set<const void*>* live) {
    for (int i = 0; i < tables->variables.size(); ++i) live->insert(tables->variables[i]);
    for (int i = 0; i < tables->arrays.size(); ++i) {
        const VarArray* array = tables->arrays[i];
        for (int r = 0; r < array->Rows(); ++r)
            for (int c = 0; c < array->Columns(); ++c)
                if (const QoLVarDefine* cell = array->CellIfCreated(r, c)) live->insert(cell);
    }
}

}  // namespace

// ---- the variable snapshot ----

VariableSnapshot::VariableSnapshot(CQoLanguage* qo) : systemLock_(SystemStoreMutex()), qo_(qo) {
    scopeLevel_ = qo->m_nScopeLevel;
    scopeTable_ = qo->m_scopeTable;
    const int level = std::max(qo->m_nScopeLevel, 0);
    auto& scopes = qo->m_scopeTable;
    if (scopes.size() < (size_t)level + 2) {
        const std::pair<int, int> last = scopes.empty() ? std::pair<int, int>{0, 0} : scopes.back();
        scopes.resize((size_t)level + 2, last);
    }
    VarTables* own = qo->m_pVars;
    const std::pair<int, int> end = scopes[(size_t)level + 1];
    own_.tables = own;
    system_.tables = &SystemTables();
    SaveValues(TableState{own, own->variables.size(), own->arrays.size()});
    SaveValues(TableState{system_.tables, system_.tables->variables.size(), system_.tables->arrays.size()});
    CopyTables(own_, std::clamp(end.first, 0, own->variables.size()), std::clamp(end.second, 0, own->arrays.size()));
    CopyTables(system_, system_.tables->variables.size(), system_.tables->arrays.size());
    // The copies belong to the current level: its end and every later entry
    // move past them.
    for (size_t k = (size_t)level + 1; k < scopes.size(); ++k) {
        scopes[k].first = std::max(scopes[k].first, own_.variableAt) + own_.variableCopies;
        scopes[k].second = std::max(scopes[k].second, own_.arrayAt) + own_.arrayCopies;
    }
}

VariableSnapshot::~VariableSnapshot() { Restore(); }

void VariableSnapshot::SaveValues(const TableState& state) {
    VarTables* tables = state.tables;
    for (int i = 0; i < state.variables; ++i) {
        QoLVarDefine* record = tables->variables[i];
        saved_.push_back({record, record->m_cType, record->m_strDef});
    }
    for (int i = 0; i < state.arrays; ++i) {
        VarArray* array = tables->arrays[i];
        for (int r = 0; r < array->Rows(); ++r)
            for (int c = 0; c < array->Columns(); ++c)
                if (const QoLVarDefine* cell = array->CellIfCreated(r, c))
                    saved_.push_back({const_cast<QoLVarDefine*>(cell), cell->m_cType, cell->m_strDef});
    }
}

void VariableSnapshot::CopyTables(TableState& state, int variableEnd, int arrayEnd) {
    VarTables* tables = state.tables;
    state.variables = tables->variables.size();
    state.arrays = tables->arrays.size();
    state.variableAt = variableEnd;
    state.arrayAt = arrayEnd;
    for (int i = 0; i < variableEnd; ++i) {
        const QoLVarDefine* record = tables->variables[i];
        tables->variables.Insert(variableEnd + i,
                                 std::make_unique<QoLVarDefine>(record->m_strName.c_str(), record->m_cType,
                                                                record->m_strDef));
        ++state.variableCopies;
    }
    for (int i = 0; i < arrayEnd; ++i) {
        tables->arrays.Insert(arrayEnd + i, CopyArray(*tables->arrays[i]));
        ++state.arrayCopies;
    }
}

// Every block cuts the tables back to where it began, so after the check
// nothing lies beyond the copies but what the check itself created.
void VariableSnapshot::CutCopies(const TableState& state) {
    if (!state.tables) return;
    state.tables->variables.Truncate(std::min(state.variableAt, state.tables->variables.size()));
    state.tables->arrays.Truncate(std::min(state.arrayAt, state.tables->arrays.size()));
}

void VariableSnapshot::Restore() {
    if (restored_) return;
    restored_ = true;
    CutCopies(own_);
    CutCopies(system_);
    qo_->m_nScopeLevel = scopeLevel_;
    qo_->m_scopeTable = scopeTable_;
    std::unordered_set<const void*> live;
    CollectRecords(own_.tables, &live);
    CollectRecords(system_.tables, &live);
    for (SavedValue& value : saved_) {
        if (!live.count(value.record)) continue;
        value.record->m_cType = value.type;
        value.record->m_strDef = value.text;
    }
    saved_.clear();
    if (systemLock_.owns_lock()) systemLock_.unlock();
}

// ---- the undefined-name list ----

namespace {

// The names of a list "name,name,..." (a ',' inside brackets belongs to
// the name).
std::vector<std::string_view> SplitNames(std::string_view list) {
    std::vector<std::string_view> names;
    size_t start = 0;
    int depth = 0;
    for (size_t i = 0; i < list.size();) {
        const char c = list[i];
        if (IsLead(c) && i + 1 < list.size()) {
            i += 2;
            continue;
        }
        if (c == '[') ++depth;
        if (c == ']' && depth > 0) --depth;
        if (c == ',' && depth == 0) {
            names.push_back(list.substr(start, i - start));
            start = i + 1;
        }
        ++i;
    }
    if (start < list.size()) names.push_back(list.substr(start));
    return names;
}

// "a[i][j]" -> "a[]": the text between the first '[' and the last ']'.
std::string WithoutSubscripts(std::string_view name) {
    size_t first = std::string_view::npos, last = std::string_view::npos;
    for (size_t i = 0; i < name.size();) {
        if (IsLead(name[i]) && i + 1 < name.size()) {
            i += 2;
            continue;
        }
        if (name[i] == '[' && first == std::string_view::npos) first = i;
        if (name[i] == ']') last = i;
        ++i;
    }
    if (first == std::string_view::npos || last == std::string_view::npos || last < first) return std::string(name);
    return std::string(name.substr(0, first + 1)) + std::string(name.substr(last));
}

// Length of the "<mode>," prefix, or 0 when the text has none.
size_t ModePrefix(std::string_view list) {
    size_t i = 0;
    while (i < list.size() && list[i] >= '0' && list[i] <= '9') ++i;
    return (i > 0 && i < list.size() && list[i] == ',') ? i + 1 : 0;
}

// Applies the mode to the names the check recorded.
void FinishList(CString& list, unsigned char mode) {
    const std::string_view text = list.view();
    const size_t prefix = ModePrefix(text);
    if (mode == 2) {
        list = CString(text.substr(0, prefix));
        return;
    }
    if (mode != 1) return;
    std::string out(text.substr(0, prefix));
    std::vector<std::string> seen;
    for (std::string_view name : SplitNames(text.substr(prefix))) {
        std::string shortened = WithoutSubscripts(name);
        if (std::find(seen.begin(), seen.end(), shortened) != seen.end()) continue;
        out += shortened;
        out += ',';
        seen.push_back(std::move(shortened));
    }
    list = CString(std::string_view(out));
}

// Everything the check may touch besides the variables, put back on every
// way out.
class CheckState {
public:
    CheckState(CQoLanguage* qo, unsigned char mode)
        : qo_(qo),
          run_(qo->m_pRun),
          flag_(qo->m_bSyntaxCheck),
          level_(run_->checkLevel),
          modes_(qo->m_modeFlags),
          control_(qo->m_cControl),
          debug_(diag::g_debugSwitch),
          tableBuffer_(run_->tableBufferName),
          gotoLabel_(run_->gotoLabel),
          gotoLevel_(run_->gotoLevel),
          gotoCursor_(run_->gotoCursor),
          statementStart_(run_->statementStart) {
        qo->m_bSyntaxCheck = 1;
        run_->checkLevel = (unsigned short)(std::max(qo->m_nScopeLevel, 0) + 1);
        run_->undefinedNames.Format("%d,", (int)mode);
    }
    ~CheckState() {
        qo_->m_bSyntaxCheck = flag_;
        run_->checkLevel = level_;
        qo_->m_modeFlags = modes_;
        qo_->m_cControl = control_;
        diag::g_debugSwitch = debug_;
        run_->tableBufferName = tableBuffer_;
        run_->gotoLabel = gotoLabel_;
        run_->gotoLevel = gotoLevel_;
        run_->gotoCursor = gotoCursor_;
        // The check runs a private copy of its text, gone once it ends: the
        // statement start goes back to the caller's statement.
        run_->statementStart = statementStart_;
    }
    CheckState(const CheckState&) = delete;
    CheckState& operator=(const CheckState&) = delete;

private:
    CQoLanguage* qo_;
    QoLRunContext* run_;
    unsigned char flag_;
    unsigned short level_;
    unsigned char modes_;
    char control_;
    unsigned char debug_;
    CString tableBuffer_;
    CString gotoLabel_;
    short gotoLevel_;
    char* gotoCursor_;
    char* statementStart_;
};

}  // namespace

CString UndefinedNameList(CQoLanguage* qo) {
    if (!qo || !qo->m_pRun) return CString();
    std::string_view list = qo->m_pRun->undefinedNames.view();
    const size_t prefix = ModePrefix(list);
    if (prefix == 0) return CString();
    list.remove_prefix(prefix);
    if (!list.empty() && list.back() == ',') list.remove_suffix(1);
    return CString(list);
}

CString RunSyntaxCheck(CQoLanguage* qo, const CString& text, unsigned char mode) {
    QoLRunContext* run = qo->m_pRun;
    bool failed = false;
    {
        CheckState state(qo, mode);
        VariableSnapshot snapshot(qo);
        // The executor works on a private buffer that lives through the check.
        std::string program(text.view());
        CatchScope catcher(run);
        try {
            qo->ExecuteStatementAt(program.data());
            failed = qo->m_cType == 'X';
        } catch (const QolUnwind&) {
            failed = true;
        }
        snapshot.Restore();
    }
    FinishList(run->undefinedNames, mode);
    if (failed) {
        CString result = "语法错误=";
        result += qo->m_strError;
        return result;
    }
    if (mode == 2) return qo->m_cType == 'S' ? qo->m_strValue : qo->GetValueString();
    CString names = UndefinedNameList(qo);
    if (names.IsEmpty()) return CString();
    CString result = "未定义变元=";
    result += names;
    return result;
}

}  // namespace qotool::engine
