// The terminal debugger of qol --debug, installed into the library through
// its debugger callback table (qotool/debug_view.h).
//
// On a terminal every stop draws a screen: the title, the level list, the
// source lines around the current position with its "【n】" marker, the
// variables pane and the watches, then a "debug>" prompt. When standard
// input is not a terminal the session is scriptable: one command per line,
// and each stop prints one line "EVENT level N line L: SENTENCE" on
// standard output, followed by the watch results and the answers of eval,
// value and vars. Progress refreshes (filtered events shown after a second)
// do not read a command there. The end of the input acts as close.
//
// Commands (each word may be shortened to any prefix that names one
// command; "help" lists them): step, fast, close, terminate, until EXPR,
// pace MS, eval EXPR, watch N EXPR (N 1-3), live, level block|sentence|
// step, entry, exit, lower, run LINE, up, down, vars, wide, value [EXPR].
//
// Ctrl-C during a run reads as Alt+Pause (the debugger opens when the
// script has set the pause key mode); a second Ctrl-C before the run took
// the first ends qol with status 130.
#ifndef QOTOOL_TOOLS_QOL_TERMINAL_DEBUGGER_H
#define QOTOOL_TOOLS_QOL_TERMINAL_DEBUGGER_H

#include <string>

#include "runner.h"

namespace qol {

// Installs the debugger view and the Ctrl-C key latch, and turns the debug
// switch of the shared interpreter on.
void InstallTerminalDebugger(Encoding encoding);

// A debugger command line parsed: kind (QO_DEBUG_*), number and text (as
// typed), or kind -1 with an error message in text. help sets kind -2.
struct ParsedCommand {
    int kind = -1;
    int number = 0;
    std::string text;
};
ParsedCommand ParseDebuggerCommand(const std::string& line);

}  // namespace qol

#endif
