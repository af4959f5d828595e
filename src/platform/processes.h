// Processes: starting programs and command-interpreter lines, waiting for a
// process while the thread's message queue is serviced, asking a process to
// close and ending it.
//
// A command line is GBK in the Windows form: the program first (quoted when
// it holds spaces), then its arguments, split by the Windows rules (double
// quotes group, backslashes are literal except before a quote). The program
// is looked up like posix_spawnp does (a name with a separator is a system
// path, paths.h); the texts reach the child as UTF-8. A started program
// inherits no descriptor above 2. Started children are reaped once they end
// (by a thread that watches only them), so none stays a zombie and none of
// the host's own children is reaped here.
#ifndef QOTOOL_PLATFORM_PROCESSES_H
#define QOTOOL_PLATFORM_PROCESSES_H

#include <spawn.h>

#include <cstdint>
#include <string>
#include <vector>

namespace qotool::platform {

// The full path of the program name found on $PATH (an empty entry is
// skipped; without PATH, /usr/bin:/bin), or "" when none is executable.
std::string FindOnPath(const char* name);

// Why a program could not be started.
enum class StartFailure { kNone, kNoMemory, kFileNotFound, kPathNotFound, kBadFormat, kOther };

// What a program started without waiting answers on success: above 31, as
// the original starter did.
constexpr int kStartedValue = 33;

// The arguments of a Windows command line.
std::vector<std::string> SplitCommandLine(const std::string& commandLine);

class ProcessWatch;

// Starts the command line (in workDirectory when it is not empty); pid
// receives the child's process id. With a watch, the watch is opened on the
// child before anything can reap it.
StartFailure StartProgram(const char* commandLine, const char* workDirectory, int& pid,
                          ProcessWatch* watch = nullptr);

// Runs a command-interpreter line (/bin/sh -c) and waits for it: its exit
// code, 128 + the signal that ended it, or -1 when no shell could run.
int RunCommandLine(const char* command);

// Adds, after the actions already added, the closing of every descriptor
// above 2 in the child: what the host opened without close-on-exec stays
// its own.
void CloseInheritedDescriptors(posix_spawn_file_actions_t& actions);

// Stops the thread that reaps started children (the library's detach; a
// later start starts it again).
void StopChildReaper();

int CurrentProcessId();

// A process opened for waiting. Without pidfd_open the wait polls.
class ProcessWatch {
public:
    ProcessWatch() = default;
    ~ProcessWatch();
    ProcessWatch(const ProcessWatch&) = delete;
    ProcessWatch& operator=(const ProcessWatch&) = delete;

    // False when no such process exists.
    bool Open(int pid);
    int pid() const { return pid_; }
    // True while the process has not ended.
    bool Running();

    enum class Wait { kEnded, kMessages, kTimedOut, kFailed };
    // Waits until the process ends, the thread's message queue becomes
    // readable (when withMessages) or timeoutMs passes (negative: no limit).
    Wait WaitFor(int timeoutMs, bool withMessages);

private:
    int pid_ = 0;
    int fd_ = -1;
};

// The close request (SIGTERM) and the end (SIGKILL). Never sent to this
// process itself; false then, or when the process is gone.
bool AskProcessToClose(int pid);
bool TerminateProcess(int pid);

// Windows are tokens of the UI layer. A host that shows windows installs a
// provider; without one there is no foreground window (0) and no window is
// known.
struct WindowProvider {
    uintptr_t (*foreground)();
    // The process of the window; false when the window does not exist.
    bool (*processOf)(uintptr_t window, int* pid);
    // True while the window exists and is visible.
    bool (*alive)(uintptr_t window);
};
// Installs the provider (null: none); returns the previous one.
const WindowProvider* SetWindowProvider(const WindowProvider* provider);
uintptr_t ForegroundWindow();
bool WindowProcess(uintptr_t window, int* pid);
bool WindowAlive(uintptr_t window);

}  // namespace qotool::platform

#endif
