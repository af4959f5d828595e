// Test support: runs the built qol as a child process, with standard input
// from a file or on a pseudo-terminal, and collects what it prints. A child
// that does not finish within a minute is killed and the test fails.
#ifndef QOTOOL_TESTS_SUPPORT_QOL_PROCESS_H
#define QOTOOL_TESTS_SUPPORT_QOL_PROCESS_H

#include <string>
#include <utility>
#include <vector>

namespace qotool::test {

using Args = std::vector<std::string>;
// Environment changes: a variable and its value (null removes it).
using EnvChanges = std::vector<std::pair<std::string, const char*>>;

struct Outcome {
    std::string out;  // standard output (on a terminal: everything it showed)
    std::string err;
    int status = -1;  // exit status; -1 when qol died of a signal or was killed
};

// Standard input reads `input`; standard output and standard error are
// captured apart. program: what to start instead of qol (an executable
// script), empty for qol.
Outcome RunQol(const Args& args, const std::string& input = "", const EnvChanges& env = {},
               const std::string& program = "");

// qol on a pseudo-terminal that is its standard input, output and error.
// `typed` is typed at once; each of `lines` is typed after the "> " prompt
// that asks for it (once the line editor has the terminal), and Ctrl-D at
// the prompt after the last when answerPrompts is set.
Outcome RunQolOnTerminal(const Args& args, const EnvChanges& env, const std::string& typed,
                         const std::vector<std::string>& lines = {}, bool answerPrompts = false);

}  // namespace qotool::test

#endif
