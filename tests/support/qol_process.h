// Test support: runs the built qol as a child process, with standard input
// from a file or on a pseudo-terminal, and collects what it prints. A child
// that does not finish within a minute is killed and the test fails.
#ifndef QOTOOL_TESTS_SUPPORT_QOL_PROCESS_H
#define QOTOOL_TESTS_SUPPORT_QOL_PROCESS_H

#include <functional>
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
// captured apart. qol runs in a session of its own, without a terminal. program: what to start instead of qol (an executable
// script), empty for qol.
Outcome RunQol(const Args& args, const std::string& input = "", const EnvChanges& env = {},
               const std::string& program = "");

// The terminal of a run on a pseudo-terminal, as an answer to a prompt sees it.
class Terminal {
public:
    Terminal(int master, std::string slave, long long deadline, const std::string* shown)
        : master_(master), slave_(std::move(slave)), deadline_(deadline), shown_(shown) {}
    void Type(const std::string& keys) const;
    // Gives the window a new size (the kernel tells qol with SIGWINCH).
    void Resize(int rows, int columns) const;
    // Waits until the line editor has the terminal: the prompt shows before
    // it does, and keys typed in between reach the terminal's own line
    // discipline, which swallows a Ctrl-D there.
    bool WaitForLineEditor() const;
    const std::string& Shown() const { return *shown_; }

private:
    int master_;
    std::string slave_;
    long long deadline_;
    const std::string* shown_;
};

// Called each time the prompt text ends what the terminal has shown, where
// qol waits for input (n counts them from 0).
using PromptAnswer = std::function<void(const Terminal& terminal, size_t n)>;

// qol on a pseudo-terminal that is its standard input, output, error and
// controlling terminal, of rows x columns (0: the size left unset);
// `typed` is typed at once, then `answer` at each prompt.
Outcome RunQolOnTerminal(const Args& args, const EnvChanges& env, const std::string& typed,
                         const std::string& prompt = "", const PromptAnswer& answer = {}, int rows = 0,
                         int columns = 0);

}  // namespace qotool::test

#endif
