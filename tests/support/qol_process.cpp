#include "support/qol_process.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "support/temp_env.h"

extern char** environ;

namespace qotool::test {
namespace {

constexpr int kTimeoutMs = 60000;

long long NowMs() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * 1000LL + now.tv_nsec / 1000000;
}

// The environment of the test with the changes made.
std::vector<std::string> Environment(const EnvChanges& changes) {
    std::vector<std::string> out;
    for (char** variable = environ; *variable; ++variable) {
        const std::string entry = *variable;
        bool replaced = false;
        for (const auto& change : changes)
            replaced = replaced || entry.compare(0, change.first.size() + 1, change.first + "=") == 0;
        if (!replaced) out.push_back(entry);
    }
    for (const auto& change : changes)
        if (change.second) out.push_back(change.first + "=" + change.second);
    return out;
}

// A child being started: its argument and environment vectors, and the
// file actions and attributes of posix_spawn.
struct Spawn {
    Spawn(const Args& args, const EnvChanges& env, const std::string& program)
        : strings(args), environment(Environment(env)), path(program.empty() ? QOTOOL_QOL_BIN : program) {
        argv.push_back(path.data());
        for (std::string& arg : strings) argv.push_back(arg.data());
        argv.push_back(nullptr);
        for (std::string& variable : environment) envp.push_back(variable.data());
        envp.push_back(nullptr);
        posix_spawn_file_actions_init(&actions);
        posix_spawnattr_init(&attributes);
    }
    ~Spawn() {
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attributes);
    }
    pid_t Start() {
        pid_t pid = 0;
        const int failed = posix_spawn(&pid, argv[0], &actions, &attributes, argv.data(), envp.data());
        if (failed) ADD_FAILURE() << "cannot start " << argv[0] << ": " << std::strerror(failed);
        return failed ? -1 : pid;
    }
    Args strings;
    std::vector<std::string> environment;
    std::string path;
    std::vector<char*> argv, envp;
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
};

int Finish(pid_t pid, bool kill) {
    if (kill) ::kill(pid, SIGKILL);
    int raw = 0;
    while (waitpid(pid, &raw, 0) < 0 && errno == EINTR) {
    }
    EXPECT_FALSE(kill) << "qol did not finish";
    return !kill && WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
}

// Reads the descriptors (-1: none) into the sinks until all end or the time
// is up; after each read, onRead may answer on the terminal.
template <typename OnRead>
bool Drain(int fds[2], std::string* sinks[2], long long deadline, OnRead onRead) {
    pollfd polls[2] = {{fds[0], POLLIN, 0}, {fds[1], POLLIN, 0}};
    int open = (fds[0] >= 0) + (fds[1] >= 0);
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
                onRead();
            } else if (n == 0 || errno != EINTR) {  // EIO on a terminal once qol closed it
                polls[i].fd = -1;
                --open;
            }
        }
    }
    return true;
}

}  // namespace

Outcome RunQol(const Args& args, const std::string& input, const EnvChanges& env, const std::string& program) {
    TempDir dir;
    const std::string inputFile = dir.Write("stdin", input);
    Outcome outcome;
    int outPipe[2], errPipe[2];
    if (pipe2(outPipe, O_CLOEXEC) != 0 || pipe2(errPipe, O_CLOEXEC) != 0) {
        ADD_FAILURE() << "pipe: " << std::strerror(errno);
        return outcome;
    }
    Spawn spawn(args, env, program);
    posix_spawn_file_actions_addopen(&spawn.actions, 0, inputFile.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&spawn.actions, outPipe[1], 1);
    posix_spawn_file_actions_adddup2(&spawn.actions, errPipe[1], 2);
    posix_spawnattr_setflags(&spawn.attributes, POSIX_SPAWN_SETSID);
    const pid_t pid = spawn.Start();
    close(outPipe[1]);
    close(errPipe[1]);
    if (pid > 0) {
        int fds[2] = {outPipe[0], errPipe[0]};
        std::string* sinks[2] = {&outcome.out, &outcome.err};
        outcome.status = Finish(pid, !Drain(fds, sinks, NowMs() + kTimeoutMs, [] {}));
    }
    close(outPipe[0]);
    close(errPipe[0]);
    return outcome;
}

void Terminal::Type(const std::string& keys) const {
    if (write(master_, keys.data(), keys.size()) != static_cast<ssize_t>(keys.size()))
        ADD_FAILURE() << "cannot type on the terminal";
}

void Terminal::Resize(int rows, int columns) const {
    winsize size{};
    size.ws_row = static_cast<unsigned short>(rows);
    size.ws_col = static_cast<unsigned short>(columns);
    if (ioctl(master_, TIOCSWINSZ, &size) != 0) ADD_FAILURE() << "cannot resize the terminal";
}

bool Terminal::WaitForLineEditor() const {
    while (NowMs() < deadline_) {
        const int fd = open(slave_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        termios mode;
        const bool raw = fd >= 0 && tcgetattr(fd, &mode) == 0 && (mode.c_lflag & ICANON) == 0;
        if (fd >= 0) close(fd);
        if (raw) return true;
        usleep(1000);
    }
    return false;
}

Outcome RunQolOnTerminal(const Args& args, const EnvChanges& env, const std::string& typed,
                         const std::string& prompt, const PromptAnswer& answer, int rows, int columns) {
    Outcome outcome;
    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
        ADD_FAILURE() << "no pseudo-terminal: " << std::strerror(errno);
        if (master >= 0) close(master);
        return outcome;
    }
    const std::string slave = ptsname(master);
    if (rows > 0) Terminal(master, slave, 0, nullptr).Resize(rows, columns);
    Spawn spawn(args, env, "");
    posix_spawn_file_actions_addopen(&spawn.actions, 0, slave.c_str(), O_RDWR, 0);
    posix_spawn_file_actions_adddup2(&spawn.actions, 0, 1);
    posix_spawn_file_actions_adddup2(&spawn.actions, 0, 2);
    posix_spawnattr_setflags(&spawn.attributes, POSIX_SPAWN_SETSID);
    const pid_t pid = spawn.Start();
    if (pid > 0) {
        const long long deadline = NowMs() + kTimeoutMs;
        const Terminal terminal(master, slave, deadline, &outcome.out);
        if (!typed.empty()) terminal.Type(typed);
        size_t prompts = 0, answeredAt = 0;
        // A prompt counts when it is the last thing shown, where qol waits for
        // input: the same text inside a run's output (help mentions the
        // "...> " prompt) or in a line the editor redraws is no prompt, and
        // answering it would type ahead into a terminal that may have gone
        // back to echoing.
        auto onRead = [&] {
            const std::string& shown = outcome.out;
            if (prompt.empty() || !answer || shown.size() < answeredAt + prompt.size() ||
                shown.compare(shown.size() - prompt.size(), prompt.size(), prompt) != 0)
                return;
            answeredAt = shown.size();
            answer(terminal, prompts++);
        };
        std::string ignored;
        int fds[2] = {master, -1};
        std::string* sinks[2] = {&outcome.out, &ignored};
        const bool finished = Drain(fds, sinks, deadline, onRead);
        outcome.status = Finish(pid, !finished);
        if (!finished) ADD_FAILURE() << "the terminal showed: " << ::testing::PrintToString(outcome.out);
    }
    close(master);
    return outcome;
}

}  // namespace qotool::test
