// The terminal debugger's screen: one stop of the debugger laid out as rows
// fitted to a window, and the pieces of text the scripted stop lines share
// with it. Texts of the library are GBK; the screen shows them in the
// terminal's encoding (UTF-8 unless the terminal takes GBK).
#ifndef QOTOOL_TOOLS_QOL_DEBUGGER_SCREEN_H
#define QOTOOL_TOOLS_QOL_DEBUGGER_SCREEN_H

#include <string>
#include <string_view>
#include <vector>

#include "qotool/debug_view.h"
#include "runner.h"

namespace qol::screen {

// The terminal's encoding, set when the debugger is installed.
extern Encoding g_encoding;

// A text of the library (GBK) in the terminal's encoding.
std::string Out(std::string_view gbk);

// The lines of a text, without their line ends ("\r\n" or "\n").
std::vector<std::string> SplitLines(std::string_view text);

// "FILE:LINE:COLUMN" of a stop, as the error reports name places (a run of
// -e TEXT reads no file).
std::string Place(const QoDebugSnapshot* s);

// "watch N TEXT = RESULT" of watch i (0-2).
std::string WatchLine(const QoDebugSnapshot* s, int i);

// A text as the terminal shows it (in its encoding) cut to width columns:
// tabs become blanks to the next multiple of 4, other control characters
// "?", so that nothing a script holds can move the cursor.
std::string Fit(const std::string& text, int width);

// The screen's rows above the prompt row, for a window of rows x columns:
// the title, the levels, the source, the variables and message, the last
// command's answer.
std::vector<std::string> Layout(const QoDebugSnapshot* s, const std::vector<std::string>& message, int rows,
                                int columns);

}  // namespace qol::screen

#endif
