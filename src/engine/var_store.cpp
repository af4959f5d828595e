// The variable store's entry point: name normalisation, scope bounds,
// links, arrays, and storing and loading values as text.
#include "engine/var_store.h"
#include "engine/error_site.h"

#include <cxxabi.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "engine/debugger_seam.h"
#include "engine/number_memo.h"
#include "engine/run_context.h"
#include "engine/unwind.h"
#include "engine/var_names.h"
#include "engine/var_tables.h"
#include "platform/number_text.h"
#include "qotool/qolanguage.h"

namespace qotool::engine {

namespace {

using platform::FormatNumber15;
using platform::ParseDouble;

// What removals and whole-array operations return: a non-null address that
// is no live record (IsLiveRecord says no, so it is never dereferenced as
// a variable). Callers must not write it.
QoLVarDefine g_presentMarker;

// ---- errors -----------------------------------------------------------------

// Reports message (which unwinds: the store always runs with a catcher
// raised) and makes sure control does not come back.
[[noreturn]] void Fail(CQoLanguage* qo, const char* message) {
    qo->ReportError(message, nullptr);
    ThrowUnwind(qo, "DoVariable()");
}

template <class... Args>
[[noreturn]] void FailFormat(CQoLanguage* qo, const char* format, Args... args) {
    CString message;
    message.Format(format, args...);
    Fail(qo, message.c_str());
}

[[noreturn]] void FailSystemName(CQoLanguage* qo, const char* name) {
    FailFormat(qo, "系统变量 %s 跨实例全局共享，不能进行private声明或被其他变量链接", name);
}

bool IsSystemName(std::string_view name) { return name.substr(0, 7) == "system_"; }

// ---- scopes -----------------------------------------------------------------

struct Access {
    CQoLanguage* qo;
    VarTables* tables;
    bool system;  // the process-wide store: no scopes
    int level;    // current scope level (0 or more)
};

// Search bounds in one table and the scope level that a new entry joins.
struct Range {
    int lower;
    int end;
    int insertLevel;
};

void EnsureScopeTable(CQoLanguage* qo) {
    auto& table = qo->m_scopeTable;
    const size_t need = (size_t)std::max(qo->m_nScopeLevel, 0) + 2;
    if (table.size() >= need) return;
    const std::pair<int, int> last = table.empty() ? std::pair<int, int>{0, 0} : table.back();
    table.resize(need, last);
}

int Boundary(const Access& a, int k, bool arrays) {
    const int size = arrays ? a.tables->arrays.size() : a.tables->variables.size();
    const auto& entry = a.qo->m_scopeTable[(size_t)k];
    const int v = arrays ? entry.second : entry.first;
    return std::clamp(v, 0, size);
}

// The lookup bounds of op (see var_store.h for the public declaration's
// target scope).
Range RangeFor(const Access& a, char op, bool arrays) {
    if (a.system) {
        const int size = arrays ? a.tables->arrays.size() : a.tables->variables.size();
        return {0, size, -1};
    }
    const int L = a.level;
    const int end = Boundary(a, L + 1, arrays);
    const int check = (int)a.qo->m_pRun->checkLevel;
    switch (op) {
    case 'z':
    case 'r':
        return {Boundary(a, L, arrays), end, L};
    case 'd':
        if (check) return {Boundary(a, std::min(check, L), arrays), end, L};
        return {0, end, L};
    case 'g': {
        const int target = std::min(check, L);
        if (target == L) return {Boundary(a, L, arrays), end, L};
        return {0, Boundary(a, target + 1, arrays), target};
    }
    default:
        return {0, end, L};
    }
}

// Adds an entry at the end of scope level `level`'s region; the boundaries
// of the levels after it move up by one.
template <class T>
T* InsertEntry(const Access& a, IndexedTable<T>& table, bool arrays, int level, std::unique_ptr<T> item) {
    if (a.system || level < 0) return table.Append(std::move(item));
    const int pos = Boundary(a, level + 1, arrays);
    T* added = table.Insert(pos, std::move(item));
    auto& scopes = a.qo->m_scopeTable;
    for (size_t k = (size_t)level + 1; k < scopes.size(); ++k) {
        int& v = arrays ? scopes[k].second : scopes[k].first;
        v = std::max(v, pos) + 1;
    }
    return added;
}

template <class T>
void EraseEntry(const Access& a, IndexedTable<T>& table, bool arrays, int pos) {
    table.Erase(pos);
    if (a.system) return;
    for (auto& entry : a.qo->m_scopeTable) {
        int& v = arrays ? entry.second : entry.first;
        if (v > pos) --v;
    }
}

// ---- values -----------------------------------------------------------------

bool IsValueOp(char op) {
    switch (op) {
    case 0:
    case '+':
    case '-':
    case 'z':
    case 'g':
    case 'r':
    case 'd':
        return false;
    default:
        return true;
    }
}

// The type and text an assignment stores. Numbers are formatted on the
// stack so that storing into a variable whose buffer is its own allocates
// nothing.
struct StoredValue {
    char type = 'Z';
    bool isNumber = false;
    int digitsLength = 0;
    char digits[32];
    double number = 0;  // what digits were written from
    CString text;
};

void PrepareValue(CQoLanguage* qo, char op, StoredValue* v) {
    v->type = op == 'a' ? qo->m_cType : op;
    switch (v->type) {
    case '#':
    case '&':
    case 'F':
        v->text = qo->m_strValue;
        break;
    case 'N':
        if (std::isinf(qo->m_dValue)) Fail(qo, "数值范围超界");
        v->number = qo->m_dValue;
        v->digitsLength = FormatNumber15(v->number, v->digits);
        v->isNumber = true;
        break;
    case 'S':
        v->text = qo->m_strValue;
        break;
    case 'P':
        qo->PointerToText(v->text);
        break;
    case 'X':
        v->text = qo->m_strError;
        break;
    default:  // 'Z' and letters without a text
        break;
    }
}

// The texts of the whole numbers 0 to kSharedWholes - 1, made once and
// shared by the records that hold one (texts are shared and copied on
// write anyway): storing a small number then allocates nothing, which is
// what makes an array of flags or counters cheap to fill. Never freed, so
// that records destroyed while the process exits can still let theirs go.
constexpr int kSharedWholes = 256;
const CString* SharedWholeTexts() {
    static const CString* const texts = [] {
        CString* made = new CString[kSharedWholes];
        char digits[8];
        for (int i = 0; i < kSharedWholes; ++i)
            made[i] = std::string_view(digits, (size_t)platform::FormatWhole(i, digits));
        return made;
    }();
    return texts;
}

// The text of a number into a record that holds no pointer value; whole
// numbers are written as their exact digits and keep their number beside.
void WriteNumberText(QoLVarDefine* record, double number, const char* digits, int length, bool exact) {
    record->m_cType = 'N';
    // Only into a record without a text of its own yet or holding a shared
    // one: a text of its own is rewritten where it is.
    const CString* shared = nullptr;
    if (exact && number >= 0 && number < kSharedWholes) {
        const CString* texts = SharedWholeTexts();
        const CString& current = record->m_strDef;
        const double held = record->m_memoNumber;
        if (current.IsEmpty() || (held >= 0 && held < kSharedWholes && held == (int)held &&
                                  current.c_str() == texts[(int)held].c_str())) {
            shared = &texts[(int)number];
            if (shared->GetLength() != length || std::memcmp(shared->c_str(), digits, (size_t)length) != 0)
                shared = nullptr;
        }
    }
    if (shared)
        record->m_strDef = *shared;
    else
        record->m_strDef = std::string_view(digits, (size_t)length);
    if (exact) KeepNumber(record, digits, length, number);
}

void Store(QoLVarDefine* record, const StoredValue& v) {
    if (record->m_cType != 'P' && v.type != 'P') {
        // No pointer involved: nobody to notify.
        record->m_cType = v.type;
        if (v.isNumber) {
            WriteNumberText(record, v.number, v.digits, v.digitsLength, platform::IsExactWhole(v.number));
        } else {
            record->m_strDef = v.text;
        }
        return;
    }
    record->SetValue(v.type, v.isNumber ? CString(v.digits, v.digitsLength) : v.text);
}

void StoreNumber(QoLVarDefine* record, double value) {
    StoredValue v;
    v.type = 'N';
    v.isNumber = true;
    v.number = value;
    v.digitsLength = FormatNumber15(value, v.digits);
    Store(record, v);
}

// Loads the record's type and text into the interpreter's value.
void Load(CQoLanguage* qo, const QoLVarDefine* record) {
    const CString& text = record->m_strDef;
    switch (record->m_cType) {
    case 'N':
        qo->m_cType = 'N';
        qo->m_dValue = RecordNumber(record);
        break;
    case 'S':
        qo->m_cType = 'S';
        qo->m_strValue = text;
        break;
    case 'P':
        qo->PointerFromText(text.c_str());
        break;
    case 'X':
        qo->m_cType = 'X';
        qo->m_strError = text;
        break;
    case 'Z':
        qo->m_cType = 'Z';
        break;
    default:  // definitions, functions, '?'
        qo->m_cType = record->m_cType;
        qo->m_strValue = text;
        break;
    }
}

// ---- operations -------------------------------------------------------------

// A fresh record named `name` of type 'Z' with an empty text: a spare of the
// table when there is one (its buffers are written over, not allocated).
// Without `clear` a spare keeps its old text (type 'Z' all the same, so
// that no pointer text is notified), for a caller that writes a text next.
std::unique_ptr<QoLVarDefine> NewRecord(IndexedTable<QoLVarDefine>& table, std::string_view name,
                                        bool clear = true) {
    std::unique_ptr<QoLVarDefine> record = table.TakeSpare();
    if (!record) return std::make_unique<QoLVarDefine>(std::string(name).c_str(), 'Z', CString());
    record->m_strName = name;
    record->m_cType = 'Z';
    record->m_memoLength = 0;
    if (clear) record->m_strDef = std::string_view();
    return record;
}

// True when the store takes name as it is: nothing for normalisation to
// remove, no subscript, not a "system_" name (the same two-byte stepping as
// NormalizedName and ParseCellName). *hash receives HashName(name).
bool IsPlainName(std::string_view name, uint32_t* hash) {
    if (name.empty() || (name[0] == 's' && IsSystemName(name))) return false;
    uint32_t h = 2166136261u;
    const size_t n = name.size();
    for (size_t i = 0; i < n; ++i) {
        const unsigned char c = (unsigned char)name[i];
        if (c >= 0x80 && i + 1 < n) {
            h = (h ^ c) * 16777619u;
            ++i;
            h = (h ^ (unsigned char)name[i]) * 16777619u;
            continue;
        }
        if (c == ' ' || c == '\t' || c == '@' || c == '[') return false;
        h = (h ^ c) * 16777619u;
    }
    *hash = h;
    return true;
}

// While the debugger or a watcher follows the run, every store operation
// shows itself: only the general path does that.
bool Traced() { return (diag::g_debugSwitch & 1) || diag::g_pauseKeyWatch || diag::g_interruptRequest; }

Access LocalAccess(CQoLanguage* qo) {
    EnsureScopeTable(qo);
    Access a;
    a.qo = qo;
    a.tables = qo->m_pVars;
    a.system = false;
    a.level = std::max(qo->m_nScopeLevel, 0);
    return a;
}

QoLVarDefine* CellOperation(Access& a, const char* fullName, const CellName& cell, char op, char mode,
                            const StoredValue& value, bool followLinks, bool mustExist);

// The entry a link points to: the name after the first '#' that follows the
// link text's first character, searched from the entry below the link (or,
// for a link held by an array cell, from the visible end) down to lower.
// One level only: a target that is itself a link is returned as it is.
QoLVarDefine* FollowLink(Access& a, const char* linkName, const QoLVarDefine* link, int lower, int below,
                         char op, char mode, const StoredValue& value) {
    const CString& text = link->m_strDef;
    const char* p = text.c_str();
    const int length = (int)strlen(p);
    int i = length > 0 ? (IsGbkLead(p[0]) && length > 1 ? 2 : 1) : 0;
    while (i < length && p[i] != '#') i += (IsGbkLead(p[i]) && i + 1 < length) ? 2 : 1;
    NormalizedName target(i < length ? p + i + 1 : "");
    const std::string_view t = target.view();
    if (!t.empty()) {
        if (IsSystemName(t)) FailSystemName(a.qo, target.c_str());
        CellName cell;
        if (ParseCellName(t, &cell)) {
            if (!cell.array.empty()) {
                QoLVarDefine* record =
                    CellOperation(a, target.c_str(), cell, op, mode, value, /*followLinks=*/false,
                                  /*mustExist=*/true);
                if (record) return record;
            }
        } else {
            const int k = a.tables->variables.FindLast(t, lower, below);
            if (k >= 0) return a.tables->variables[k];
        }
    }
    FailFormat(a.qo, "%s 变量试图链接一个先前不存在的变量 %s", linkName, target.c_str());
}

char FixedCellType(char first) {
    const char type = (char)(first >= 'a' && first <= 'z' ? first - 32 : first);
    return (type == 'N' || type == 'S' || type == 'P') ? type : 'Z';
}

char Upper(char c) { return (char)(c >= 'a' && c <= 'z' ? c - 32 : c); }

QoLVarDefine* CellOperation(Access& a, const char* fullName, const CellName& cell, char op, char mode,
                            const StoredValue& value, bool followLinks, bool mustExist) {
    CQoLanguage* qo = a.qo;
    auto& arrays = a.tables->arrays;
    if (op == 'r' || op == 'd') {
        if (!cell.whole) FailFormat(qo, "不能去掉数组单元 %s ，只能去掉整个数组", fullName);
        const Range r = RangeFor(a, op, true);
        const int j = arrays.FindLast(cell.array, r.lower, r.end);
        if (j < 0) return nullptr;
        if (!(a.system && qo->m_bSyntaxCheck)) EraseEntry(a, arrays, true, j);
        return &g_presentMarker;
    }
    // A fixed global array is visible from every scope and lives in the
    // outermost one.
    const bool fixed = cell.array.size() >= 2 && cell.array[1] == '#';
    const Range r = RangeFor(a, fixed ? 0 : op, true);
    const int j = arrays.FindLast(cell.array, r.lower, r.end);
    VarArray* array = j >= 0 ? arrays[j] : nullptr;
    const bool reading = op == 0 || op == '+' || op == '-';
    QoLVarDefine* record;
    if (reading || (mustExist && !array)) {
        if (!array) return nullptr;
        if (cell.whole && op == 0 && mode != 'B') return &g_presentMarker;
        if (cell.row < 0 || cell.row >= array->Rows())
            FailFormat(qo, "数组元素 %s 的行号超界（合法行号0~%d）", fullName, array->Rows() - 1);
        if (cell.column < 0 || cell.column >= array->Columns())
            FailFormat(qo, "数组元素 %s 的列号超界（合法列号0~%d）", fullName, array->Columns() - 1);
        record = array->Cell(cell.row, cell.column);
    } else {
        const bool declaring = op == 'z' || op == 'g';
        const int insertLevel = fixed ? 0 : r.insertLevel;
        const char cellType = fixed ? FixedCellType(cell.array[0]) : 'Z';
        if (cell.whole && declaring) {
            if (!array) InsertEntry(a, arrays, true, insertLevel, std::make_unique<VarArray>(cell.array, cellType));
            return &g_presentMarker;
        }
        if (cell.row < 0) FailFormat(qo, "数组元素 %s 的行号不能为负数  %d", fullName, cell.row);
        if (cell.column < 0 || cell.column > 254)
            FailFormat(qo, "数组元素 %s 的列号 %d 超出0至254", fullName, cell.column);
        if (fixed && !declaring && Upper(value.type) != Upper(cell.array[0]))
            FailFormat(qo, "固态全局数组元素 %s 不能赋值为 %c 型", fullName, value.type);
        if (!array)
            array = InsertEntry(a, arrays, true, insertLevel, std::make_unique<VarArray>(cell.array, cellType));
        array->Grow((int64_t)cell.row + 1, (int64_t)cell.column + 1);
        record = array->Cell(cell.row, cell.column);
    }
    if (followLinks && record->m_cType == '&' && !a.system) {
        if (op == 'z' && qo->m_bSyntaxCheck) return nullptr;
        const Range vr = RangeFor(a, op, false);
        record = FollowLink(a, fullName, record, vr.lower, vr.end, op, mode, value);
    }
    return record;
}

QoLVarDefine* VariableOperation(Access& a, const char* name, char op, char mode, const StoredValue& value) {
    CQoLanguage* qo = a.qo;
    auto& variables = a.tables->variables;
    const std::string_view n(name);
    const Range r = RangeFor(a, op, false);
    if (op == 'r' || op == 'd') {
        const bool keep = a.system && qo->m_bSyntaxCheck;
        const int i = variables.FindLast(n, r.lower, r.end);
        if (i >= 0) {
            if (!keep) EraseEntry(a, variables, false, i);
            return &g_presentMarker;
        }
        const Range ar = RangeFor(a, op, true);
        const int j = a.tables->arrays.FindLast(n, ar.lower, ar.end);
        if (j < 0) return nullptr;
        if (!keep) EraseEntry(a, a.tables->arrays, true, j);
        return &g_presentMarker;
    }
    if (op != '&') {  // a link is recorded without a search
        const int i = variables.FindLast(n, r.lower, r.end);
        if (i >= 0) {
            QoLVarDefine* record = variables[i];
            if (record->m_cType != '&' || a.system) return record;
            if (op == 'z' && qo->m_bSyntaxCheck) return nullptr;
            return FollowLink(a, name, record, r.lower, i, op, mode, value);
        }
    }
    if (op == 0 || op == '+' || op == '-') return nullptr;
    return InsertEntry(a, variables, false, r.insertLevel, NewRecord(variables, name));
}

// Applies op to the record that the lookup found or created.
void Apply(CQoLanguage* qo, QoLVarDefine* record, const char* name, bool isCell, char op, char mode,
           const StoredValue& value) {
    switch (op) {
    case 0:
        if (mode == 'B') Load(qo, record);
        break;
    case '+':
    case '-': {
        if (record->m_cType != 'N' && record->m_cType != '?')
            FailFormat(qo, "++/--操作不能针对非数值型%s：%s", isCell ? "数组元素" : "变量", name);
        const double number = RecordNumber(record) + (op == '+' ? 1.0 : -1.0);
        StoreNumber(record, number);
        qo->m_cType = 'N';
        qo->m_dValue = number;
        break;
    }
    case 'z':
    case 'g':
        break;  // a declaration leaves an existing value alone
    default:
        Store(record, value);
        break;
    }
    if ((diag::g_debugSwitch & 1) && !qo->m_bSyntaxCheck) {
        // The debugger shows the last variable touched; during a syntax
        // check the same text holds the check's undefined names instead.
        CString& shown = qo->m_pRun->undefinedNames;
        shown = name;
        shown += '=';
        shown += record->m_cType;
        shown += ':';
        shown += record->m_strDef;
    }
}

QoLVarDefine* Execute(CQoLanguage* qo, const NormalizedName& normalized, char op, char mode) {
    const std::string_view name = normalized.view();
    if (name.empty()) Fail(qo, "变量名不能为空");
    Access a;
    a.qo = qo;
    a.system = IsSystemName(name);
    a.tables = a.system ? &SystemTables() : qo->m_pVars;
    a.level = std::max(qo->m_nScopeLevel, 0);
    if (!a.system) EnsureScopeTable(qo);
    if (a.system && (op == 'z' || op == '&')) FailSystemName(qo, normalized.c_str());

    StoredValue value;
    if (IsValueOp(op)) PrepareValue(qo, op, &value);

    CellName cell;
    const bool isCell = ParseCellName(name, &cell);
    QoLVarDefine* record;
    if (isCell) {
        if (cell.array.empty()) Fail(qo, "变量名不能为空");
        record = CellOperation(a, normalized.c_str(), cell, op, mode, value, /*followLinks=*/true,
                               /*mustExist=*/false);
    } else {
        record = VariableOperation(a, normalized.c_str(), op, mode, value);
    }
    if (!record || record == &g_presentMarker) return record;
    Apply(qo, record, normalized.c_str(), isCell, op, mode, value);
    return record;
}

}  // namespace

CString StoredText(CQoLanguage* qo) {
    StoredValue value;
    PrepareValue(qo, 'a', &value);
    return value.isNumber ? CString(value.digits, value.digitsLength) : value.text;
}

QoLVarDefine* DoVariable(CQoLanguage* qo, const char* name, char op, char mode) {
    if (!qo || !qo->m_pRun || !qo->m_pVars) return nullptr;
    if (!name || !*name) {
        qo->ReportError("变量名不能为空", nullptr);
        return nullptr;
    }
    if (op != 0 && (qo->m_modeFlags & 0x10)) {
        qo->ReportError("不能改写、新建和移去变量、数组或字段", nullptr);
        return nullptr;
    }
    const NormalizedName normalized(name);
    QoLVarDefine* result = nullptr;
    bool failed = false;
    // A system_ name works on the shared store: the whole operation (the
    // value it loads or stores included) holds its lock.
    std::unique_lock<std::recursive_mutex> systemLock(SystemStoreMutex(), std::defer_lock);
    if (IsSystemName(normalized.view())) systemLock.lock();
    {
        CatchScope catcher(qo->m_pRun);
        try {
            result = Execute(qo, normalized, op, mode);
        } catch (abi::__forced_unwind&) {
            throw;
        } catch (...) {
            failed = true;
        }
    }
    if (failed) {
        if (!(qo->m_cType == 'X' && !qo->m_strError.IsEmpty())) {
            CString message(normalized.view());
            message += " QOL变元操作失败，可能是变元操作越界或存储体被破坏";
            qo->ErrorString(message.c_str());
        }
        qo->Unwind("DoVariable()异常");
        return nullptr;
    }
    diag::Trace(qo->m_pRun, qo->m_pRun->statementStart, "=变元");
    return result;
}

QoLVarDefine* FindPlainName(CQoLanguage* qo, std::string_view name, bool* decided) {
    *decided = false;
    uint32_t hash;
    if (!qo || !qo->m_pRun || !qo->m_pVars || !IsPlainName(name, &hash) || Traced()) return nullptr;
    EnsureScopeTable(qo);
    // An ordinary lookup searches every visible entry, below the end of the
    // current level.
    const auto& variables = qo->m_pVars->variables;
    const int i = variables.FindLast(name, hash, 0, VisibleVariableEnd(qo));
    QoLVarDefine* record = i >= 0 ? variables[i] : nullptr;
    if (record && record->m_cType == '&') return nullptr;  // links are followed by the general path
    *decided = true;
    return record;
}

QoLVarDefine* AddValueRecord(CQoLanguage* qo, std::string_view name) {
    uint32_t hash;
    if (!qo || !qo->m_pRun || !qo->m_pVars || (qo->m_modeFlags & 0x10) || !IsPlainName(name, &hash) || Traced())
        return nullptr;
    if (!(qo->m_cType == 'S' || (qo->m_cType == 'N' && !std::isinf(qo->m_dValue)))) return nullptr;
    const Access a = LocalAccess(qo);
    StoredValue value;
    PrepareValue(qo, 'a', &value);
    // Store writes the type and the text of the new record.
    QoLVarDefine* record =
        InsertEntry(a, a.tables->variables, false, a.level, NewRecord(a.tables->variables, name, false));
    Store(record, value);
    return record;
}

VarArray* FindArray(CQoLanguage* qo, std::string_view name) {
    if (!qo || !qo->m_pVars || name.empty()) return nullptr;
    if (IsSystemName(name)) {
        auto& arrays = SystemTables().arrays;
        const int j = arrays.FindLast(name, 0, arrays.size());
        return j >= 0 ? arrays[j] : nullptr;
    }
    EnsureScopeTable(qo);
    auto& arrays = qo->m_pVars->arrays;
    const int level = std::max(qo->m_nScopeLevel, 0);
    const int end = std::clamp(qo->m_scopeTable[(size_t)level + 1].second, 0, arrays.size());
    const int j = arrays.FindLast(name, 0, end);
    return j >= 0 ? arrays[j] : nullptr;
}

void LoadRecord(CQoLanguage* qo, const QoLVarDefine* record) { Load(qo, record); }

int VisibleVariableEnd(const CQoLanguage* qo) {
    const int level = std::max(qo->m_nScopeLevel, 0);
    if (qo->m_scopeTable.size() < (size_t)level + 2) return -1;
    return std::clamp(qo->m_scopeTable[(size_t)level + 1].first, 0, qo->m_pVars->variables.size());
}

QoLVarDefine* FindVisibleVariable(CQoLanguage* qo, std::string_view name, int end) {
    auto& variables = qo->m_pVars->variables;
    const int i = variables.FindLast(name, 0, end);
    return i >= 0 ? variables[i] : nullptr;
}

int VisibleArrayEnd(const CQoLanguage* qo) {
    const int level = std::max(qo->m_nScopeLevel, 0);
    if (qo->m_scopeTable.size() < (size_t)level + 2) return -1;
    return std::clamp(qo->m_scopeTable[(size_t)level + 1].second, 0, qo->m_pVars->arrays.size());
}

VarArray* FindVisibleArray(CQoLanguage* qo, std::string_view name, int end) {
    auto& arrays = qo->m_pVars->arrays;
    const int j = arrays.FindLast(name, 0, end);
    return j >= 0 ? arrays[j] : nullptr;
}

bool StoreSmallWhole(QoLVarDefine* record, int number) {
    if (number < 0 || number >= kSharedWholes || record->m_cType == 'P') return false;
    static const CString* const texts = SharedWholeTexts();
    const CString& shared = texts[number];
    const CString& current = record->m_strDef;
    const double held = record->m_memoNumber;
    const int length = number < 10 ? 1 : number < 100 ? 2 : 3;  // the shared text's
    // Holding it already, its number kept: nothing changes.
    if (current.c_str() == shared.c_str() && record->m_cType == 'N' && held == number &&
        record->m_memoLength == length)
        return true;
    if (!(current.IsEmpty() ||
          (held >= 0 && held < kSharedWholes && held == (int)held && current.c_str() == texts[(int)held].c_str())))
        return false;
    record->m_cType = 'N';
    record->m_strDef = shared;
    if (CachesOff()) {
        record->m_memoLength = 0;
    } else {
        const char* digits = shared.c_str();
        for (int i = 0; i < length; ++i) record->m_memoText[i] = digits[i];
        record->m_memoLength = (unsigned char)length;
        record->m_memoNumber = number;
    }
    return true;
}

void StoreNumberDigits(QoLVarDefine* record, double number, const char* digits, int length, bool exact) {
    if (record->m_cType != 'P') {
        WriteNumberText(record, number, digits, length, exact);
        return;
    }
    StoredValue v;
    v.type = 'N';
    v.isNumber = true;
    v.number = number;
    v.digitsLength = length;
    std::memcpy(v.digits, digits, (size_t)length);
    Store(record, v);
}

void StoreCurrentValue(CQoLanguage* qo, QoLVarDefine* record) {
    StoredValue value;
    PrepareValue(qo, 'a', &value);
    Store(record, value);
}

ScopeMark MarkScopeEnd(CQoLanguage* qo) {
    const int level = std::max(qo->m_nScopeLevel, 0);
    EnsureScopeTable(qo);
    return {level, qo->m_scopeTable[(size_t)level], qo->m_scopeTable[(size_t)level + 1]};
}

void CutBackToMark(CQoLanguage* qo, const ScopeMark& mark) {
    EnsureScopeTable(qo);
    auto& table = qo->m_scopeTable;
    if ((size_t)mark.level + 1 >= table.size()) return;
    const std::pair<int, int> start = table[(size_t)mark.level];
    const std::pair<int, int> end = {mark.end.first + start.first - mark.start.first,
                                     mark.end.second + start.second - mark.start.second};
    table[(size_t)mark.level + 1] = end;
    qo->m_pVars->CutBack(end.first, end.second);
}

void RecordUndefinedName(CQoLanguage* qo, const char* name) {
    if (!qo || !qo->m_pRun || !name) return;
    const NormalizedName normalized(name);
    CString& list = qo->m_pRun->undefinedNames;
    if (qo->m_bSyntaxCheck) {
        // The check's list: "<mode>," then "name," per undefined name, each once.
        std::string key = ",";
        key.append(normalized.view());
        key += ',';
        if (list.view().find(key) == std::string_view::npos) {
            list += normalized.view();
            list += ',';
            NoteUndefinedName(qo, normalized.view());
        }
    } else if (diag::g_debugSwitch & 1) {
        list = normalized.c_str();
        list += "=X:※未定义";
    }
}

bool IsLiveRecord(CQoLanguage* qo, const void* address) {
    if (!address || address == &g_presentMarker) return false;
    if (qo && qo->m_pVars && qo->m_pVars->Holds(address)) return true;
    std::lock_guard<std::recursive_mutex> lock(SystemStoreMutex());
    return SystemTables().Holds(address);
}

void ClearSystemStore() {
    std::lock_guard<std::recursive_mutex> lock(SystemStoreMutex());
    SystemTables().Clear();
}

void AddTextBlock(CQoLanguage* qo, const QoLVarDefine* record, size_t size) {
    std::lock_guard<std::recursive_mutex> lock(SystemStoreMutex());
    if (qo->m_pVars && qo->m_pVars->blocks.Add(*qo->m_pVars, record, size)) return;
    SystemTables().blocks.Add(SystemTables(), record, size);
}

TextBlockAccess::TextBlockAccess(CQoLanguage* qo, uintptr_t address) : lock_(SystemStoreMutex()) {
    if (qo->m_pVars) room_ = qo->m_pVars->blocks.Room(*qo->m_pVars, address);
    if (room_ < 0) room_ = SystemTables().blocks.Room(SystemTables(), address);
}

}  // namespace qotool::engine
