// The terminal UI of qol, installed into the library through its UI
// callback table:
//   - message boxes print "[caption] text" on standard error and, when
//     standard input is a terminal, ask for a button (Enter takes the
//     default); otherwise the library's headless answer stands (the default
//     button, or QO_MSGBOX_ANSWER);
//   - the edit dialog opens $VISUAL or $EDITOR (else vi) on a temporary copy
//     of the text in the terminal's encoding and reads it back; leaving the
//     editor with a failure status, or standard input not being a terminal,
//     cancels;
//   - the prompt window prints its text; a prompt with a time-out waits for
//     it (Enter closes it early) when standard input is a terminal;
//   - diagnostics print "[caption] text" unless QO_UI=silent.
#ifndef QOTOOL_TOOLS_QOL_TERMINAL_UI_H
#define QOTOOL_TOOLS_QOL_TERMINAL_UI_H

#include "runner.h"

namespace qol {

// Installs the terminal UI; texts are converted as the encoding says.
void InstallTerminalUi(Encoding encoding);

}  // namespace qol

#endif
