// The variable store: every variable, array cell and definition of an
// interpreter, and the process-wide store of "system_" variables.
#ifndef QOTOOL_ENGINE_VAR_STORE_H
#define QOTOOL_ENGINE_VAR_STORE_H

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string_view>
#include <utility>

#include "qotool/qolvardefine.h"

class CQoLanguage;
class QoLRunContext;

namespace qotool::engine {

class VarArray;

// The store's one entry point (the run context's DoVariable).
//
// name: a variable name, or an array cell in the normal subscript form
// "a[3]", "a[1][2]", "a[1,2]", "a[]" (spaces, tabs and '@' are removed
// first, stepping over two-byte characters). A name whose second character
// is '#' ("n#tab[2]") is a fixed global array: its cells only take values of
// the type named by its first letter (either case), and it lives in the
// outermost scope whatever block creates it.
// op and mode:
//   op 0, mode 0     look up only; returns the record (the &name address)
//   op 0, mode 'B'   read: the record's type and text are loaded into the
//                    interpreter's value; returns the record
//   'N','S','P','Z'  assign the interpreter's current value as that type
//                    (creating the variable); 'a' assigns with the current
//                    value's own type letter
//   '+', '-'         increment / decrement a numeric variable by 1 and leave
//                    the new number in the interpreter (never creates)
//   '#', '&'         record a definition: the interpreter's string member is
//                    stored unchanged with that type letter; '&' (a link)
//                    always adds a new entry without searching
//   'F'              store a user function (string member unchanged)
//   'z', 'g'         private / public declaration: create the variable (or
//                    the array, grown to hold the named cell) with type 'Z';
//                    an existing one is returned unchanged
//   'r', 'd'         remove the variable, or when there is none the whole
//                    array of that name ("a" or "a[]"); a single cell is
//                    refused
//
// Search bounds (last entry to first, below the visible end of the current
// scope level, m_scopeTable[level + 1]):
//   'z', 'r'   from the start of the current level;
//   'd'        from the start of the syntax-check level (run context
//              checkLevel) while an ErrorCheck is active, else all entries;
//   'g'        public scope = level checkLevel (0 outside an ErrorCheck: the
//              run's outermost scope; inside one, the level of the checked
//              block, whose variables the check discards). At that level
//              'g' acts as 'z'; below it, it searches the entries visible at
//              the public scope and creates a missing variable at the end of
//              that scope's region, shifting the later scope-table entries,
//              so the variable outlives the inner blocks;
//   others     all visible entries.
// A new entry joins the current level: it is inserted at the current end and
// m_scopeTable[level + 1] (and any later entry) advances. Entries of type
// '&' (links) found by any operation but removal are followed one level.
//
// Returns the record when the variable exists or was created, null when it
// does not exist. Removals and operations on a whole array ("a[]") return a
// non-null marker that is no record (IsLiveRecord is false for it; never
// write it). Errors are reported through the interpreter's error report
// (they unwind inside a run; with catch depth 0 the call returns null with
// the error value in place).
QoLVarDefine* DoVariable(CQoLanguage* qo, const char* name, char op, char mode);


// The array named `name` that an ordinary read finds (the innermost visible
// one; "system_" names in the process-wide store), or null.
VarArray* FindArray(CQoLanguage* qo, std::string_view name);

// Loads a record's type and text into the interpreter's value, as a read
// does.
void LoadRecord(CQoLanguage* qo, const QoLVarDefine* record);

// Stores the interpreter's current value into record with its own type, as
// an assignment does (an infinite number reports "数值范围超界").
void StoreCurrentValue(CQoLanguage* qo, QoLVarDefine* record);

// The record an ordinary read of the plain variable `name` finds (no
// subscript, no system_ name, the name already in normal form), without
// following a link; null when there is none. The search ends at `end`,
// the visible end of the current scope level (VisibleVariableEnd).
QoLVarDefine* FindVisibleVariable(CQoLanguage* qo, std::string_view name, int end);
// That end, or -1 while the scope table does not reach the current level.
int VisibleVariableEnd(const CQoLanguage* qo);

// The same for the array `name` (no system_ name) below `end`, the visible
// end of the arrays (VisibleArrayEnd, -1 while the scope table is short).
VarArray* FindVisibleArray(CQoLanguage* qo, std::string_view name, int end);
int VisibleArrayEnd(const CQoLanguage* qo);

// Stores a number into record as an assignment does, from its "%.15g"
// digits (the record holds no pointer value).
// exact: the number is whole and below 1e15 in size (IsExactWhole).
void StoreNumberDigits(QoLVarDefine* record, double number, const char* digits, int length, bool exact);
// The same for a whole number from 0 to 255 into a record without a text of
// its own (none yet, or a shared one), which then shares the number's text:
// false, with nothing changed, for any other number or record.
bool StoreSmallWhole(QoLVarDefine* record, int number);

// The end of the current scope level's region, remembered before a nested
// evaluation that declares variables at this level, and cut back to after
// it (a public declaration in between moves the region; the mark follows).
struct ScopeMark {
    int level;
    std::pair<int, int> start;
    std::pair<int, int> end;
};
ScopeMark MarkScopeEnd(CQoLanguage* qo);
void CutBackToMark(CQoLanguage* qo, const ScopeMark& mark);

// The text the interpreter's current value is stored as (an infinite
// number is the error "数值范围超界").
CString StoredText(CQoLanguage* qo);

// Records name as undefined: during a syntax check "name," is added to the
// check's list (once); otherwise, while the debugger is enabled, the
// debugger's text becomes "%s=X:※未定义".
void RecordUndefinedName(CQoLanguage* qo, const char* name);

// What DoVariable(qo, name, 0, 0) returns, found without its general path
// when that cannot differ: *decided is false (and the result null) for a
// name the store would normalise or split ("a b", "a@", "a[1]"), a
// "system_" name, a link found, or while the debugger or a watcher follows
// the run. No error is ever reported.
QoLVarDefine* FindPlainName(CQoLanguage* qo, std::string_view name, bool* decided);

// Appends a variable named `name` at the current scope level holding the
// interpreter's current value, as DoVariable(qo, name, '&', 'B') followed by
// storing that value would, without the general path. Null (and nothing
// done) where that path could behave differently: read-only mode, a traced
// run, a name FindPlainName would not decide, a value that is neither a
// string nor a finite number.
QoLVarDefine* AddValueRecord(CQoLanguage* qo, std::string_view name);

// True when address is a live variable record of qo or of the system store
// (a forged address is never dereferenced). Linear in the number of records.
bool IsLiveRecord(CQoLanguage* qo, const void* address);

// The process-wide store of "system_" variables.
void ClearSystemStore();

// Memory blocks (MemBuffer, see TextBlocks in var_tables.h): record, just
// returned by a store operation, lends its first size bytes to "%mem"
// pointers for as long as it keeps its text buffer.
void AddTextBlock(CQoLanguage* qo, const QoLVarDefine* record, size_t size);

// An access through a "%mem" pointer: while it lives, the store of system
// variables is locked, so the block found stays as it is (the interpreter's
// own store is used by its one thread).
class TextBlockAccess {
public:
    TextBlockAccess(CQoLanguage* qo, uintptr_t address);
    // Whether n bytes from the address lie in a live block of qo's store or
    // of the system store.
    bool Holds(size_t n) const { return room_ >= 0 && (uint64_t)n <= (uint64_t)room_; }
    // The bytes from the address to the end of its block (0 when none).
    size_t Room() const { return room_ > 0 ? (size_t)room_ : 0; }

private:
    std::lock_guard<std::recursive_mutex> lock_;
    int64_t room_ = -1;
};

}  // namespace qotool::engine

#endif
