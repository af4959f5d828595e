// The seam between the engine and the debugger (src/diag), and the
// debugger's one door into the engine.
//
// The hook: what the engine calls on every step, error and trace, and the
// debugger window. The debugger defines these (src/diag/debugger.cpp). The
// process-wide debugger switch lives here; while its bit 0 is clear the
// step hook costs one test, the only cost of this seam on the interpreter's
// path.
//
// The view: what the debugger may read of a run and of an interpreter (the
// levels of this thread's entry stack, each level's text, a run's owner
// and current file, the variables by scope, the arrays and their cells, the
// system variables, places in a source) and what it may do in a run:
// evaluate text aside, with the run's state saved and put back. The
// interpreter's value and flags are the public members of CQoLanguage.
#ifndef QOTOOL_ENGINE_DEBUGGER_SEAM_H
#define QOTOOL_ENGINE_DEBUGGER_SEAM_H

#include <functional>
#include <string>
#include <string_view>
#include <vector>

class CQoLanguage;
class QoLRunContext;
class QoLVarDefine;

namespace qotool::diag {

// Bit 0: the debugger is active.
extern unsigned char g_debugSwitch;
// True while a key provider can report Alt+Pause: the hook then also runs
// with the switch off (for interpreters in pause-key mode).
extern bool g_pauseKeyWatch;
// 1: a run was asked to end (ruqo_InterruptRun, from a signal handler);
// 2: that run is ending. The hook runs whatever the switch says meanwhile.
extern volatile unsigned char g_interruptRequest;

// The debugger's trace hook. It may unwind (QolUnwind) when the person
// terminates the run, never for "S", "E" and "X" events.
void TraceEvent(QoLRunContext* run, const char* position, const char* event);

inline void Trace(QoLRunContext* run, const char* position, const char* event) {
    if ((g_debugSwitch & 1) || g_pauseKeyWatch || g_interruptRequest) TraceEvent(run, position, event);
}

// Shows and focuses the debugger window; false when there is none.
bool ShowDebuggerWindow(QoLRunContext* run);
// True while a debugger window exists, and its recorded guard depth.
bool DebuggerWindowExists(int* recordedDepth);
void RefreshDebugger();

}  // namespace qotool::diag

namespace qotool::engine {

// What the error unwind throws; catchers use the interpreter's error text.
struct QolUnwind {
    const char* text;
};

// This thread's entry stack of the level guards: the number of entries and
// the run context of entry `index` (0 the oldest), or null.
int EntryStackSize();
QoLRunContext* EntryStackAt(int index);

// A run's interpreter; its nesting level (0 when idle); the first character
// of the text of its level lv (null when that level has none); whether its
// errors carry no position text; the file it reads; its table buffer's name.
CQoLanguage* RunOwner(const QoLRunContext* run);
int RunLevel(const QoLRunContext* run);
const char* LevelText(const QoLRunContext* run, int lv);
bool ErrorsWithoutPosition(const QoLRunContext* run);
std::string_view CurrentFile(const QoLRunContext* run);
std::string_view TableBufferName(const QoLRunContext* run);

// The live interpreters (instance.h says what stays true of the answers).
bool IsLiveInterpreter(const CQoLanguage* qo);
std::vector<CQoLanguage*> LiveInterpreters();

// An interpreter's variable and array tables, by position. Scope level k
// holds the positions [begin, end); the innermost level is the
// interpreter's m_nScopeLevel (at least 0).
struct ScopeRange {
    int begin = 0, end = 0;
};
ScopeRange VariablesOfScope(const CQoLanguage* qo, int scope);
ScopeRange ArraysOfScope(const CQoLanguage* qo, int scope);
int VariableCount(const CQoLanguage* qo);
const QoLVarDefine* VariableAt(const CQoLanguage* qo, int index);
struct ArrayShape {
    std::string_view name;
    int rows = 0, columns = 0;
};
int ArrayCount(const CQoLanguage* qo);
ArrayShape ArrayAt(const CQoLanguage* qo, int index);
// A cell that has been created, else null (also out of range).
const QoLVarDefine* ArrayCell(const CQoLanguage* qo, int array, int row, int column);
// Each process-wide "system_" variable in turn, under the store's lock.
void VisitSystemVariables(const std::function<void(const QoLVarDefine&)>& visit);

// Where offset in text (one of a run's level texts) lies in the source
// that was run, as the error reports find it: a byte offset in source, or
// -1 (error_site.h).
long OffsetInSource(const char* text, long offset, std::string_view source);
// 1-based line and column of a byte offset in a GBK text: lines end at '\n';
// the column counts characters (a two-byte character is one column).
void LineAndColumn(std::string_view gbk, long offset, int& line, int& column);

// Runs text (statements separated by ";") on a paused interpreter without
// changing its run: the value, its strings and pointer, the control and
// mode flags, the host data, the scopes, the run's positions, levels,
// pending goto, call name, undefined names and write-backs are saved and put
// back. Meanwhile variables are read-only (mode 0x10), the error is held
// back from the caller, at most `steps` activations run, and a failure
// never unwinds into the run.
struct AsideResult {
    char type = 'X';     // 'X' when the evaluation failed
    double number = 0;
    std::string text;    // the value's text; empty for 'X' and 'Z'
    std::string error;   // on failure: the error message without its position text
    bool stepsSpent = false;  // the failure was the end of the steps
};
AsideResult EvaluateAside(CQoLanguage* qo, const char* text, long steps);

}  // namespace qotool::engine

#endif
