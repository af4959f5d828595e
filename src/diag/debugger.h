// The debugger core: the trace hook's decisions (which events pause, when
// the display refreshes, how long a pause lasts), the panes and level rows
// it shows through the view (debug_view.h), the watches and the condition
// evaluated without changing the run, run-to-cursor, pace, terminate, and
// the settings file QolDebug.ini. One debugger exists per process; it
// belongs to the thread whose event opened its window until the window
// closes, and events of other threads meanwhile pass untouched.
#ifndef QOTOOL_DIAG_DEBUGGER_H
#define QOTOOL_DIAG_DEBUGGER_H

#include <string>

#include "diag/debug_eval.h"
#include "diag/debug_settings.h"
#include "diag/debug_view.h"

class CQoLanguage;

namespace qotool::diag {

extern const char kTerminatedMessage[];  // "QOL程序运行被调试器强制终止"
extern const char kBrowseTitle[];       // the title of the browser opened from the debugger

// The state the tests and the views read.
struct DebuggerState {
    bool open = false;
    int debuggerLevel = 0;
    bool fast = false, terminate = false, until = false, pace = false;
    bool runToSet = false;
    int64_t nextRefresh = 0;
    DebugSettings settings;
};
DebuggerState CurrentDebuggerState();
// Closes the window if open (settings saved) and forgets the pause state:
// for tests and library unload.
void ResetDebugger();

}  // namespace qotool::diag

#endif
