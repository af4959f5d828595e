// The terminal UI of the built qol: boxes and dialogs with standard input a
// file (nobody to ask) and on a pseudo-terminal (a person at the keyboard).
// What qol prints is UTF-8, so expectations on it are u8 literals.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#include <vector>

#include "support/temp_env.h"

extern char** environ;

namespace {

using qotool::test::TempDir;

struct Outcome {
    std::string out;  // standard output (on a terminal: everything it showed)
    std::string err;
    int status = -1;  // exit status; -1 when qol died or was killed
};

constexpr int kTimeoutMs = 60000;

long long NowMs() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * 1000LL + now.tv_nsec / 1000000;
}

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

using qotool::test::TempDir;

// The environment of the test with the given variables replaced (a value
// of nullptr removes the variable).
std::vector<std::string> Environment(const std::vector<std::pair<std::string, const char*>>& changes) {
    std::vector<std::string> out;
    for (char** variable = environ; *variable; ++variable) {
        const std::string entry = *variable;
        bool replaced = false;
        for (const auto& change : changes) replaced = replaced || entry.compare(0, change.first.size() + 1, change.first + "=") == 0;
        if (!replaced) out.push_back(entry);
    }
    for (const auto& change : changes)
        if (change.second) out.push_back(change.first + "=" + change.second);
    return out;
}

// Reads the descriptors until both end or the time is up.
bool Drain(int fds[2], std::string* sinks[2], int open, long long deadline) {
    pollfd polls[2] = {{fds[0], POLLIN, 0}, {fds[1], POLLIN, 0}};
    while (open > 0) {
        const long long left = deadline - NowMs();
        if (left <= 0) return false;
        if (poll(polls, 2, static_cast<int>(left)) < 0 && errno != EINTR) break;
        for (int i = 0; i < 2; ++i) {
            if (polls[i].fd < 0 || polls[i].revents == 0) continue;
            char buffer[4096];
            const ssize_t n = read(polls[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                sinks[i]->append(buffer, static_cast<size_t>(n));
            } else if (n == 0 || errno != EINTR) {
                polls[i].fd = -1;
                --open;
            }
        }
    }
    return true;
}

int Finish(pid_t pid, bool kill) {
    if (kill) ::kill(pid, SIGKILL);
    int raw = 0;
    while (waitpid(pid, &raw, 0) < 0 && errno == EINTR) {
    }
    return !kill && WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
}

// Runs qol with args; standard input reads `input` from a file, or, with
// onTerminal, is a pseudo-terminal that also takes standard output and
// standard error (and `input` is typed on it).
Outcome RunQol(const std::vector<std::string>& args, const std::vector<std::pair<std::string, const char*>>& env,
               const std::string& input = "", bool onTerminal = false) {
    TempDir dir;
    std::vector<std::string> environment = Environment(env);
    std::vector<char*> envp;
    for (std::string& variable : environment) envp.push_back(variable.data());
    envp.push_back(nullptr);
    std::string program = QOTOOL_QOL_BIN;
    std::vector<char*> argv{program.data()};
    std::vector<std::string> copies = args;
    for (std::string& arg : copies) argv.push_back(arg.data());
    argv.push_back(nullptr);

    Outcome outcome;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    int master = -1, outPipe[2] = {-1, -1}, errPipe[2] = {-1, -1};
    if (onTerminal) {
        master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
            ADD_FAILURE() << "no pseudo-terminal: " << std::strerror(errno);
            return outcome;
        }
        const std::string slave = ptsname(master);
        posix_spawn_file_actions_addopen(&actions, 0, slave.c_str(), O_RDWR, 0);
        posix_spawn_file_actions_adddup2(&actions, 0, 1);
        posix_spawn_file_actions_adddup2(&actions, 0, 2);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
    } else {
        const std::string inputFile = dir.Write("stdin", input);
        if (pipe2(outPipe, O_CLOEXEC) != 0 || pipe2(errPipe, O_CLOEXEC) != 0) {
            ADD_FAILURE() << "pipe: " << std::strerror(errno);
            return outcome;
        }
        posix_spawn_file_actions_addopen(&actions, 0, inputFile.c_str(), O_RDONLY, 0);
        posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
        posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);
    }
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, argv[0], &actions, &attributes, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (!onTerminal) {
        close(outPipe[1]);
        close(errPipe[1]);
    }
    if (spawned != 0) {
        ADD_FAILURE() << "cannot start " << argv[0] << ": " << std::strerror(spawned);
        return outcome;
    }
    const long long deadline = NowMs() + kTimeoutMs;
    bool finished;
    if (onTerminal) {
        if (!input.empty() && write(master, input.data(), input.size()) != static_cast<ssize_t>(input.size()))
            ADD_FAILURE() << "cannot type on the terminal";
        std::string ignored;
        int fds[2] = {master, -1};
        std::string* sinks[2] = {&outcome.out, &ignored};
        finished = Drain(fds, sinks, 1, deadline);  // ends with EIO once qol closes the terminal
        close(master);
    } else {
        int fds[2] = {outPipe[0], errPipe[0]};
        std::string* sinks[2] = {&outcome.out, &outcome.err};
        finished = Drain(fds, sinks, 2, deadline);
        close(outPipe[0]);
        close(errPipe[0]);
    }
    outcome.status = Finish(pid, !finished);
    EXPECT_TRUE(finished) << "qol did not finish";
    return outcome;
}

// The interaction built-ins answer only once the dispatch names them.
bool MessageBoxWired() {
    const Outcome probe = RunQol({"-e", "MessageBox('probe')"}, {{"QO_UI", "silent"}});
    return !Contains(probe.out, u8"执行不认识的函数");
}

TEST(QolTerminalUiTest, MessageBoxWithoutTerminalAnswersTheDefaultAndPrintsTheBox) {
    if (!MessageBoxWired()) GTEST_SKIP() << "MessageBox is not in the built-in dispatch yet";
    struct Case {
        std::string text;
        const char* forced;
        std::string out, err;
    } cases[] = {
        {"MessageBox('hello', 'cap', 4)", nullptr, "N:6\n", "[cap] hello\n"},
        {"MessageBox('hello', 'cap', 4 + 256)", nullptr, "N:7\n", "[cap] hello\n"},
        {"MessageBox('hello')", nullptr, "N:1\n", "[] hello\n"},
        {u8"MessageBox('中文', '标题', 3)", nullptr, "N:6\n", u8"[标题] 中文\n"},
        {"MessageBox('q', 'c', 4)", "no", "N:7\n", "[c] q\n"},
    };
    for (const Case& c : cases) {
        const Outcome outcome = RunQol({"-e", c.text}, {{"QO_MSGBOX_ANSWER", c.forced}});
        EXPECT_EQ(outcome.out, c.out) << c.text;
        EXPECT_EQ(outcome.err, c.err) << c.text;
        EXPECT_EQ(outcome.status, 0) << c.text;
    }
}

TEST(QolTerminalUiTest, MessageBoxOnATerminalAsksForAButton) {
    if (!MessageBoxWired()) GTEST_SKIP() << "MessageBox is not in the built-in dispatch yet";
    struct Case {
        std::string typed;
        std::string result;
    } cases[] = {
        {"2\n", "N:7"}, {"no\n", "N:7"}, {"Y\n", "N:6"}, {"\n", "N:6"}, {"x\ncancel\n", "N:2"},
    };
    for (const Case& c : cases) {
        const Outcome outcome = RunQol({"-e", "MessageBox('go on?', 'ask', 3)"}, {}, c.typed, true);
        EXPECT_TRUE(Contains(outcome.out, "[ask] go on?")) << outcome.out;
        EXPECT_TRUE(Contains(outcome.out, "1) Yes  2) No  3) Cancel  [Enter: Yes]")) << outcome.out;
        EXPECT_TRUE(Contains(outcome.out, c.result + "\r\n")) << c.typed << outcome.out;
    }
}

TEST(QolTerminalUiTest, EditDialogWithoutTerminalCancelsAndPrintsTheText) {
    const Outcome outcome = RunQol({"-e", u8"AskExec{ x = '中' }"}, {{"EDITOR", "false"}});
    EXPECT_EQ(outcome.out, u8"S:x = '中' \n");
    EXPECT_EQ(outcome.err, u8"[可修改语句，确定执行或取消执行 ] x = '中' \n");
    EXPECT_EQ(outcome.status, 0);
}

TEST(QolTerminalUiTest, EditDialogOpensTheEditorOnATerminal) {
    TempDir dir;
    // Edits the statement once (in UTF-8), then leaves with a failure
    // status, which cancels the next dialog.
    const std::string editor = dir.Write("edit.sh",
                                         "#!/bin/sh\n"
                                         "if [ -e \"$0.done\" ]; then exit 1; fi\n"
                                         "touch \"$0.done\"\n"
                                         "sed -i 's/1/\xE4\xB8\xAD/' \"$1\"\n",
                                         0755);
    const Outcome outcome =
        RunQol({"-e", "AskExec{ a = '1' }; a"}, {{"VISUAL", nullptr}, {"EDITOR", editor.c_str()}}, "", true);
    EXPECT_TRUE(Contains(outcome.out, u8"S:中\r\n")) << outcome.out;
    EXPECT_EQ(outcome.status, 0);
    // VISUAL comes before EDITOR; an editor that fails cancels at once.
    const std::string visual = dir.Write("visual.sh", "#!/bin/sh\nexec " + editor + " \"$1\"\n", 0755);
    std::remove((editor + ".done").c_str());
    Outcome second =
        RunQol({"-e", "AskExec{ a = '1' }; a"}, {{"VISUAL", visual.c_str()}, {"EDITOR", "false"}}, "", true);
    EXPECT_TRUE(Contains(second.out, u8"S:中\r\n")) << second.out;
    second = RunQol({"-e", "AskExec{ a = '1' }; Type(a)"}, {{"VISUAL", "false"}, {"EDITOR", editor.c_str()}}, "", true);
    EXPECT_TRUE(Contains(second.out, "S:X\r\n")) << second.out;
}

}  // namespace
