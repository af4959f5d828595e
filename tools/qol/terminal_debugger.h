// The terminal debugger of qol --debug, installed into the library through
// its debugger callback table (qotool/debug_view.h).
//
// On a terminal (/dev/tty, whatever standard input and output are) every
// stop draws one screen fitted to the window, on the terminal's alternate
// screen: a title line (the stop's event and FILE:LINE:COLUMN), the level
// list cut to the rows it gets, the file's lines around the stop with their
// numbers in the margin, the watches and the variables (the stopped level's
// first, those of the stopped sentence before the others), the answer of the
// last command and a "debug>" prompt. The screen is drawn again when the
// window changes size, and the terminal's own screen comes back whenever the
// run goes on and on every way out (the end, an error, a signal).
//
// Scripted sessions (--debug-commands FILE, or standard input when there is
// no terminal; a terminal that cannot draw, TERM dumb or unset, gives its
// commands the same way after a prompt) read one command per line and print
// each stop as one line
// "FILE:LINE:COLUMN: EVENT level N: SENTENCE" on standard output, followed
// by the watch results and the answers of eval, value and vars. Progress
// refreshes (filtered events shown after a second) do not read a command
// there. The end of the commands acts as close.
//
// Commands: see kHelp in terminal_debugger.cpp ("help" prints it).
//
// Ctrl-C while a run goes on pauses it in the debugger (ruqo_InterruptRun(2)),
// every time; at the prompt it does nothing.
#ifndef QOTOOL_TOOLS_QOL_TERMINAL_DEBUGGER_H
#define QOTOOL_TOOLS_QOL_TERMINAL_DEBUGGER_H

#include <string>

#include "runner.h"

namespace qol {

// Installs the debugger view and the Ctrl-C handler, gives the debugger the
// settings file of the user ($XDG_CONFIG_HOME/qol/QolDebug.ini, else
// ~/.config/qol/, unless QO_DEBUG_SETTINGS names one), and turns the debug
// switch of the shared interpreter on. commandFile: the file of scripted
// commands (empty: the terminal, else standard input). Returns false after
// a message on standard error when that file cannot be opened.
bool InstallTerminalDebugger(Encoding encoding, const std::string& commandFile);

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
