// The interactive prompt of the command-line runner.
#ifndef QOTOOL_TOOLS_QOL_REPL_H
#define QOTOOL_TOOLS_QOL_REPL_H

#include "runner.h"

namespace qol {

// Reads inputs from the terminal with line editing and history until the end
// of input, running each complete input with ruqo_ExecQol and printing its
// result text. An input continues on the next line while it leaves a bracket
// open.
void RunPrompt(Runner& runner);

}  // namespace qol

#endif
