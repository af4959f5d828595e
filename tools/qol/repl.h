// The interactive prompt of the command-line runner.
#ifndef QOTOOL_TOOLS_QOL_REPL_H
#define QOTOOL_TOOLS_QOL_REPL_H

#include <string_view>

#include "runner.h"

namespace qol {

// Brackets ( [ { that the GBK text leaves open: openers minus closers,
// counting neither inside string literals (either quote, with backslash
// escapes) and comments nor the trail byte of a two-byte character.
int OpenBracketDepth(std::string_view gbk);

// Reads inputs from the terminal with line editing and history until the end
// of input, running each complete input with ruqo_ExecQol and printing its
// result text. An input continues on the next line while it leaves a bracket
// open.
void RunPrompt(Runner& runner);

}  // namespace qol

#endif
