// The syntax check of ErrorCheck blocks: a block runs with the interpreter's
// syntax-check flag set, so statements and built-ins only look at its form
// (they run each part once, open no file, show nothing), while every
// variable lives on a copy that is thrown away afterwards.
#ifndef QOTOOL_ENGINE_SYNTAX_CHECK_H
#define QOTOOL_ENGINE_SYNTAX_CHECK_H

#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "qotool/cstring.h"

class CQoLanguage;
class QoLVarDefine;

namespace qotool::engine {

struct VarTables;

// Puts copies of every visible variable and array of an interpreter (and of
// every entry of the process-wide system store) after the originals, so
// that lookups find the copies first and all writes land on them. Restore
// (also run by the destructor) removes the copies and whatever was created
// after them, puts the scope table back and gives every original record the
// type and text it had (a write through an address taken before reaches an
// original).
class VariableSnapshot {
public:
    explicit VariableSnapshot(CQoLanguage* qo);
    ~VariableSnapshot();
    VariableSnapshot(const VariableSnapshot&) = delete;
    VariableSnapshot& operator=(const VariableSnapshot&) = delete;
    void Restore();

private:
    struct SavedValue {
        QoLVarDefine* record;
        char type;
        CString text;
    };
    struct TableState {
        VarTables* tables = nullptr;
        int variables = 0, arrays = 0;          // sizes before the copies
        int variableAt = 0, arrayAt = 0;        // where the copies start
        int variableCopies = 0, arrayCopies = 0;
    };
    void CopyTables(TableState& state, int variableEnd, int arrayEnd);
    void SaveValues(const TableState& state);
    static void CutCopies(const TableState& state);

    // The check works on copies of the shared system_ store: other threads
    // wait for it until the values are back.
    std::unique_lock<std::recursive_mutex> systemLock_;
    CQoLanguage* qo_;
    bool restored_ = false;
    int scopeLevel_ = 0;
    std::vector<std::pair<int, int>> scopeTable_;
    TableState own_, system_;
    std::vector<SavedValue> saved_;
};

// Runs text (a whole block, "{...}") as the syntax check of the given mode
// (0, 1 or 2; see below). Nothing is executed for real: variables, scope
// state, mode flags, control state and the table buffer name are as before
// afterwards. The undefined-name list (the run context's undefinedNames)
// starts as "<mode>," and collects "name," per undefined name, each once;
// in mode 1 a name's text between its first '[' and its last ']' is left
// out ("a[i]" and "a[j]" are the one name "a[]"); in mode 2 nothing is kept.
// Returns the result text: in mode 2 the string the block's last statement
// left; otherwise "语法错误=" and the error text when the check ended with
// an error, "未定义变元=" and the names found (without the mode prefix and
// the final ','), else empty. An error in mode 2 also gives "语法错误=".
// Call it only while no check is active (run context checkLevel 0).
CString RunSyntaxCheck(CQoLanguage* qo, const CString& text, unsigned char mode);

// The undefined-name list without its mode prefix and final ',' (empty
// when it holds no name, or when no check has started one).
CString UndefinedNameList(CQoLanguage* qo);

}  // namespace qotool::engine

#endif
