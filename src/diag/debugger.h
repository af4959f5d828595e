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

#include "diag/debug_view.h"

class CQoLanguage;

namespace qotool::diag {

extern const char kDebugSection[];      // "QOL调试器"
extern const char kDebugRectKey[];      // "尺寸位置"
extern const char kTerminatedMessage[];  // "QOL程序运行被调试器强制终止"
extern const char kCannotCompute[];     // "无法计算"
extern const char kBrowseTitle[];       // the title of the browser opened from the debugger

// The settings file: QolDebug.ini in the library's directory, unless the
// environment variable QO_DEBUG_SETTINGS or a test names another.
std::string DebugSettingsPath();
void SetDebugSettingsPathForTest(const char* path);  // null: the default
// Reads the settings (defaults for missing or unreadable keys).
DebugSettings LoadDebugSettings(const std::string& path);
// Writes every key; a minimized window (hasRect false, not maximized)
// leaves "尺寸位置" as it was.
bool SaveDebugSettings(const std::string& path, const DebugSettings& settings);

// Evaluates text (statements separated by ";") on the interpreter without
// changing the run: value, strings, positions, flags and extra text are
// saved and restored, the debug switch is off and variables are read-only
// (mode 0x10) meanwhile. Returns "%c:%s", "" for a Z result, "无法计算"
// when the evaluation fails. fullValue: the text uncut.
std::string EvaluateQuietly(CQoLanguage* qo, const char* text);
// The same returning the type letter ('X' on failure) and the value text.
char EvaluateValue(CQoLanguage* qo, const char* text, std::string& value);

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
