#include "platform/processes.h"

#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <sys/eventfd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <map>
#include <mutex>
#include <new>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "platform/encoding.h"
#include "platform/message_queue.h"
#include "platform/paths.h"

extern char** environ;

namespace qotool::platform {

namespace {

// ---- children this library started, reaped once they end ----
//
// A reaper thread (started with the first child) polls a pidfd per child of
// ours and reaps each as it ends, so none stays a zombie while the host is
// idle. It waits only for the children listed here, never with
// waitpid(-1): the host's own children stay the host's to reap. A child
// without a pidfd (no pidfd_open) is looked at every 100 ms. Every process
// call also reaps what has ended, in case the thread could not start. The
// record is never destroyed: the thread may still run while the process
// exits.

int PidfdOpen(int pid) {
#ifdef SYS_pidfd_open
    return (int)syscall(SYS_pidfd_open, pid, 0);
#else
    errno = ENOSYS;
    return -1;
#endif
}

struct Reaper {
    std::mutex lock;
    std::map<int, int> children;  // pid -> its pidfd (-1: none)
    std::vector<int> retired;     // pidfds of children taken out, closed by the thread
    int wake = -1;                // an eventfd that makes the thread look again
    std::thread thread;
    bool stopping = false;
};

// A fork copies the record but not the thread: the lock is held across the
// fork so that the copy is consistent, and the child starts afresh (the
// children listed are its parent's, not its own).
void LockForFork();
void UnlockAfterFork();
void ResetInForkChild();

Reaper& TheReaper() {
    static Reaper* reaper = [] {
        pthread_atfork(LockForFork, UnlockAfterFork, ResetInForkChild);
        return new Reaper();
    }();
    return *reaper;
}

void LockForFork() { TheReaper().lock.lock(); }
void UnlockAfterFork() { TheReaper().lock.unlock(); }
void ResetInForkChild() {
    Reaper& r = TheReaper();
    for (const auto& [pid, fd] : r.children)
        if (fd >= 0) close(fd);
    for (int fd : r.retired) close(fd);
    r.children.clear();
    r.retired.clear();
    if (r.wake >= 0) close(r.wake);
    r.wake = -1;
    // The thread does not exist here: its handle is dropped, never joined.
    new (&r.thread) std::thread();
    r.stopping = false;
    r.lock.unlock();
}

void WakeLocked(Reaper& r) {
    if (r.wake < 0) return;
    const uint64_t one = 1;
    ssize_t written = write(r.wake, &one, sizeof one);
    (void)written;
}

// Takes a child out of the list (its pidfd goes to the thread to close);
// false when it is not one of ours, or was reaped already.
bool ForgetLocked(Reaper& r, int pid) {
    auto it = r.children.find(pid);
    if (it == r.children.end()) return false;
    if (it->second >= 0) {
        if (r.thread.joinable())
            r.retired.push_back(it->second);
        else
            close(it->second);
    }
    r.children.erase(it);
    WakeLocked(r);
    return true;
}

// Reaps the listed children that have ended (lock held).
void ReapEndedLocked(Reaper& r) {
    std::vector<int> ended;
    for (const auto& [pid, fd] : r.children) {
        int status;
        const pid_t got = waitpid(pid, &status, WNOHANG);
        if (got == pid || (got < 0 && errno == ECHILD)) ended.push_back(pid);
    }
    for (int pid : ended) ForgetLocked(r, pid);
}

void ReaperLoop() {
    // Signals are the host's business: none is delivered to this thread.
    sigset_t all;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, nullptr);
    Reaper& r = TheReaper();
    std::vector<pollfd> fds;
    std::vector<int> pids;  // the child of each entry of fds after the first
    std::vector<int> look;  // children to look at after the poll
    for (;;) {
        int timeout = -1;
        {
            std::lock_guard<std::mutex> hold(r.lock);
            for (int fd : r.retired) close(fd);
            r.retired.clear();
            if (r.stopping) return;
            fds.assign(1, pollfd{r.wake, POLLIN, 0});
            pids.clear();
            look.clear();
            for (const auto& [pid, fd] : r.children) {
                if (fd >= 0) {
                    fds.push_back(pollfd{fd, POLLIN, 0});
                    pids.push_back(pid);
                } else {
                    look.push_back(pid);
                    timeout = 100;
                }
            }
        }
        if (poll(fds.data(), (nfds_t)fds.size(), timeout) < 0) {
            if (errno != EINTR) usleep(100000);
            continue;
        }
        if (fds[0].revents & POLLIN) {
            uint64_t count;
            ssize_t got = read(r.wake, &count, sizeof count);
            (void)got;
        }
        for (size_t i = 1; i < fds.size(); ++i)
            if (fds[i].revents) look.push_back(pids[i - 1]);
        std::lock_guard<std::mutex> hold(r.lock);
        for (int pid : look) {
            if (!r.children.count(pid)) continue;  // taken out meanwhile
            int status;
            const pid_t got = waitpid(pid, &status, WNOHANG);
            if (got == pid || (got < 0 && errno == ECHILD)) ForgetLocked(r, pid);
        }
    }
}

void AddChild(int pid) {
    Reaper& r = TheReaper();
    std::lock_guard<std::mutex> hold(r.lock);
    r.children[pid] = PidfdOpen(pid);
    if (!r.thread.joinable()) {
        if (r.wake < 0) r.wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        if (r.wake < 0) return;
        r.stopping = false;
        try {
            r.thread = std::thread(ReaperLoop);
        } catch (...) {  // no thread: the process calls reap
        }
    }
    WakeLocked(r);
}

void ReapEndedChildren() {
    Reaper& r = TheReaper();
    std::lock_guard<std::mutex> hold(r.lock);
    ReapEndedLocked(r);
}

// Reaps a child of ours that has ended; false when it is not ours (or was
// reaped already).
bool ReapEndedChild(int pid) {
    Reaper& r = TheReaper();
    std::lock_guard<std::mutex> hold(r.lock);
    if (!r.children.count(pid)) return false;
    int status;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    ForgetLocked(r, pid);
    return true;
}

// Whether a child of ours is still running, reaping it when it has ended;
// false in *ours when the process is not a child of ours.
bool OurChildRunning(int pid, bool* ours) {
    Reaper& r = TheReaper();
    std::lock_guard<std::mutex> hold(r.lock);
    *ours = r.children.count(pid) != 0;
    if (!*ours) return false;
    int status;
    const pid_t got = waitpid(pid, &status, WNOHANG);
    if (got == 0) return true;
    ForgetLocked(r, pid);
    return false;
}

// A GBK argument as the child receives it.
std::string OsText(const std::string& gbk) {
    for (unsigned char c : gbk) {
        if (c >= 0x80) {
            std::string utf8 = GbkToUtf8(gbk, false);
            return Utf8ToGbk(utf8) == gbk ? utf8 : gbk;
        }
    }
    return gbk;
}

std::atomic<const WindowProvider*> g_windows{nullptr};

}  // namespace

std::vector<std::string> SplitCommandLine(const std::string& line) {
    std::vector<std::string> args;
    size_t i = 0;
    auto blank = [&](size_t at) { return line[at] == ' ' || line[at] == '\t'; };
    while (i < line.size() && blank(i)) ++i;
    if (i >= line.size()) return args;
    // The program: up to the closing quote, or to the first blank.
    std::string program;
    if (line[i] == '"') {
        ++i;
        while (i < line.size() && line[i] != '"') program += line[i++];
        if (i < line.size()) ++i;
    } else {
        while (i < line.size() && !blank(i)) program += line[i++];
    }
    args.push_back(program);
    for (;;) {
        while (i < line.size() && blank(i)) ++i;
        if (i >= line.size()) break;
        std::string arg;
        bool quoted = false;
        while (i < line.size() && (quoted || !blank(i))) {
            const unsigned char c = (unsigned char)line[i];
            if (c >= 0x80 && i + 1 < line.size()) {
                arg += line[i];
                arg += line[i + 1];
                i += 2;
            } else if (c == '\\') {
                size_t n = 0;
                while (i < line.size() && line[i] == '\\') ++n, ++i;
                if (i < line.size() && line[i] == '"') {
                    arg.append(n / 2, '\\');
                    if (n % 2) {
                        arg += '"';
                        ++i;
                    }
                } else {
                    arg.append(n, '\\');
                }
            } else if (c == '"') {
                if (quoted && i + 1 < line.size() && line[i + 1] == '"') {
                    arg += '"';
                    i += 2;
                } else {
                    quoted = !quoted;
                    ++i;
                }
            } else {
                arg += line[i++];
            }
        }
        args.push_back(arg);
    }
    return args;
}

StartFailure StartProgram(const char* commandLine, const char* workDirectory, int& pid, ProcessWatch* watch) {
    ReapEndedChildren();
    pid = 0;
    const std::vector<std::string> args = SplitCommandLine(commandLine ? commandLine : "");
    if (args.empty() || args[0].empty()) return StartFailure::kFileNotFound;
    std::string program = args[0];
    if (LastSeparator(program) != std::string::npos || (program.size() >= 2 && program[1] == ':')) {
        program = FileSystemName(program);
        if (program[0] != '/') {
            char cwd[PATH_MAX];
            if (getcwd(cwd, sizeof cwd)) program = std::string(cwd) + "/" + program;
        }
        const std::string folder = program.substr(0, program.rfind('/') + 1);
        struct stat info;
        if (stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) return StartFailure::kPathNotFound;
    } else {
        program = OsText(program);
    }
    std::vector<std::string> texts;
    texts.reserve(args.size());
    for (const std::string& arg : args) texts.push_back(OsText(arg));
    std::vector<char*> argv;
    for (std::string& text : texts) argv.push_back(text.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    std::string folder;
    if (workDirectory && *workDirectory) {
        folder = FileSystemName(workDirectory);
        posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
    }
    CloseInheritedDescriptors(actions);
    pid_t child = 0;
    const int error = posix_spawnp(&child, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    switch (error) {
    case 0:
        if (watch) watch->Open(child);
        AddChild(child);
        pid = child;
        return StartFailure::kNone;
    case ENOENT: return StartFailure::kFileNotFound;
    case ENOTDIR: return StartFailure::kPathNotFound;
    case ENOEXEC:
    case EACCES: return StartFailure::kBadFormat;
    case ENOMEM:
    case EAGAIN: return StartFailure::kNoMemory;
    default: return StartFailure::kOther;
    }
}

int RunCommandLine(const char* command) {
    ReapEndedChildren();
    std::string text = OsText(command ? command : "");
    char* argv[] = {const_cast<char*>("sh"), const_cast<char*>("-c"), text.data(), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    CloseInheritedDescriptors(actions);
    pid_t child = 0;
    const int error = posix_spawn(&child, "/bin/sh", &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0) return -1;
    int status = 0;
    while (waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return -1;
}

void CloseInheritedDescriptors(posix_spawn_file_actions_t& actions) {
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
}

void StopChildReaper() {
    Reaper& r = TheReaper();
    std::thread thread;
    {
        std::lock_guard<std::mutex> hold(r.lock);
        if (!r.thread.joinable()) return;
        r.stopping = true;
        WakeLocked(r);
        thread = std::move(r.thread);
    }
    thread.join();
    std::lock_guard<std::mutex> hold(r.lock);
    for (int fd : r.retired) close(fd);
    r.retired.clear();
}

int CurrentProcessId() { return (int)getpid(); }

ProcessWatch::~ProcessWatch() {
    if (fd_ >= 0) close(fd_);
}

bool ProcessWatch::Open(int pid) {
    if (pid <= 0) return false;
    pid_ = pid;
    fd_ = PidfdOpen(pid);
    if (fd_ >= 0) return true;
    if (errno != ENOSYS) return false;
    return kill(pid, 0) == 0 || errno == EPERM;
}

bool ProcessWatch::Running() {
    bool ours = false;
    if (fd_ >= 0) {
        pollfd p{fd_, POLLIN, 0};
        if (poll(&p, 1, 0) == 0) return true;
        ReapEndedChild(pid_);
        return false;
    }
    const bool running = OurChildRunning(pid_, &ours);
    if (ours) return running;
    return kill(pid_, 0) == 0 || errno == EPERM;
}

ProcessWatch::Wait ProcessWatch::WaitFor(int timeoutMs, bool withMessages) {
    const int64_t deadline = timeoutMs < 0 ? -1 : MonotonicMillis() + timeoutMs;
    const int messages = withMessages ? ThreadMessageFd() : -1;
    for (;;) {
        int left = -1;
        if (deadline >= 0) {
            const int64_t rest = deadline - MonotonicMillis();
            left = rest < 0 ? 0 : (int)rest;
        }
        pollfd fds[2];
        int count = 0;
        // Without a process descriptor the wait looks again every 10 ms.
        int slice = left;
        if (fd_ >= 0) {
            fds[count++] = {fd_, POLLIN, 0};
        } else if (slice < 0 || slice > 10) {
            slice = 10;
        }
        if (messages >= 0) fds[count++] = {messages, POLLIN, 0};
        const int r = poll(fds, (nfds_t)count, slice);
        if (r < 0) {
            if (errno == EINTR) continue;
            return Wait::kFailed;
        }
        if (fd_ >= 0 && (fds[0].revents & (POLLIN | POLLHUP))) {
            Running();  // reaps a child of ours
            return Wait::kEnded;
        }
        if (fd_ < 0 && !Running()) return Wait::kEnded;
        if (messages >= 0 && (fds[count - 1].revents & POLLIN)) return Wait::kMessages;
        if (deadline >= 0 && MonotonicMillis() >= deadline) return Wait::kTimedOut;
        if (r == 0 && fd_ >= 0 && deadline >= 0) return Wait::kTimedOut;
    }
}

bool AskProcessToClose(int pid) { return pid > 0 && pid != (int)getpid() && kill(pid, SIGTERM) == 0; }

bool TerminateProcess(int pid) { return pid > 0 && pid != (int)getpid() && kill(pid, SIGKILL) == 0; }

const WindowProvider* SetWindowProvider(const WindowProvider* provider) {
    return g_windows.exchange(provider, std::memory_order_acq_rel);
}

uintptr_t ForegroundWindow() {
    const WindowProvider* p = g_windows.load(std::memory_order_acquire);
    return p && p->foreground ? p->foreground() : 0;
}

bool WindowProcess(uintptr_t window, int* pid) {
    const WindowProvider* p = g_windows.load(std::memory_order_acquire);
    return window != 0 && p && p->processOf && p->processOf(window, pid);
}

bool WindowAlive(uintptr_t window) {
    const WindowProvider* p = g_windows.load(std::memory_order_acquire);
    return window != 0 && p && p->alive && p->alive(window);
}

std::string FindOnPath(const char* name) {
    const char* path = getenv("PATH");
    std::string list = path ? path : "/usr/bin:/bin";
    size_t start = 0;
    while (start <= list.size()) {
        size_t stop = list.find(':', start);
        if (stop == std::string::npos) stop = list.size();
        std::string candidate = list.substr(start, stop - start);
        start = stop + 1;
        if (candidate.empty()) continue;
        candidate += '/';
        candidate += name;
        if (access(candidate.c_str(), X_OK) == 0) return candidate;
    }
    return std::string();
}

}  // namespace qotool::platform
