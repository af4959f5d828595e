// Replays fuzzing inputs through the normal build: every file of the given
// folders (or the given files) runs through RunFuzzInput. The inputs run one
// after another in a child process, as the fuzzer's persistent mode runs
// them, each under a cap of processor time (ITIMER_PROF) and of clock time
// (alarm), the child under an address-space cap (setrlimit; not under
// AddressSanitizer, whose shadow needs more). An input that kills the
// child, makes it exit or outlasts a cap runs again alone in a fresh child,
// and both outcomes are reported; the rest go on in a new child. The exit
// status is 1 when any input failed.
//
//   qotool_fuzz_replay [--seconds N] [--megabytes N] [--alone] [--show] PATH...
//
// --alone runs every input in a fresh child (as the crash reproducers were
// found: what they need may hang on the state a process starts with).
// --show prints each script's result (GBK) on standard error.
#include <dirent.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/time.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz_targets.h"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kCapAddressSpace = false;
#else
constexpr bool kCapAddressSpace = true;
#endif

namespace {

void Collect(const std::string& path, std::vector<std::string>* files) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0) return;
    if (!S_ISDIR(st.st_mode)) {
        char* full = realpath(path.c_str(), nullptr);  // the sandbox changes the folder
        files->push_back(full ? full : path);
        free(full);
        return;
    }
    DIR* dir = opendir(path.c_str());
    if (!dir) return;
    while (dirent* entry = readdir(dir)) {
        if (entry->d_name[0] == '.') continue;  // ., .. and notes such as .gitkeep
        Collect(path + "/" + entry->d_name, files);
    }
    closedir(dir);
}

struct Input {
    std::string name;
    std::vector<uint8_t> data;
};

// The child's caps: the address space once, processor and clock time per
// input. A loop is stopped by the processor time it spends, so that a
// loaded machine does not fail a slow but finite input; a wait that spends
// none is stopped by the clock, later.
void CapAddressSpace(unsigned long megabytes) {
    if (!kCapAddressSpace) return;
    rlimit limit{(rlim_t)megabytes << 20, (rlim_t)megabytes << 20};
    setrlimit(RLIMIT_AS, &limit);
}

void RunCapped(const Input& input, unsigned seconds) {
    itimerval cpu{};
    cpu.it_value.tv_sec = seconds;
    setitimer(ITIMER_PROF, &cpu, nullptr);
    alarm(seconds * 6);
    qotool::fuzz::RunFuzzInput(input.data.data(), input.data.size());
    alarm(0);
    cpu.it_value.tv_sec = 0;
    setitimer(ITIMER_PROF, &cpu, nullptr);
}

// Runs inputs[first..] in a child, or inputs[first] alone; returns the
// child's wait status and, in *stopped, the input it was running when it
// ended (inputs.size() when all ran).
int RunChild(const std::vector<Input>& inputs, size_t first, bool alone, unsigned seconds,
             unsigned long megabytes, size_t* stopped) {
    static size_t* running = (size_t*)mmap(nullptr, sizeof(size_t), PROT_READ | PROT_WRITE,
                                           MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    *running = first;
    fflush(nullptr);
    pid_t child = fork();
    if (child < 0) {
        perror("fork");
        exit(2);
    }
    if (child == 0) {
        CapAddressSpace(megabytes);
        qotool::fuzz::InitFuzzing();
        const size_t end = alone ? first + 1 : inputs.size();
        for (size_t i = first; i < end; ++i) {
            *running = i;
            RunCapped(inputs[i], seconds);
        }
        *running = inputs.size();
        fflush(nullptr);
        _exit(0);
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0) {
    }
    *stopped = *running;
    return status;
}

std::string Outcome(int status, unsigned seconds) {
    char text[160];
    if (WIFSIGNALED(status) && WTERMSIG(status) == SIGPROF)
        snprintf(text, sizeof text, "still running after %u s of processor time", seconds);
    else if (WIFSIGNALED(status) && WTERMSIG(status) == SIGALRM)
        snprintf(text, sizeof text, "still waiting after %u s", seconds * 6);
    else if (WIFSIGNALED(status))
        snprintf(text, sizeof text, "killed by signal %d (%s)", WTERMSIG(status), strsignal(WTERMSIG(status)));
    else
        snprintf(text, sizeof text, "exit status %d", WEXITSTATUS(status));
    return text;
}

}  // namespace

int main(int argc, char** argv) {
    unsigned seconds = 20;
    unsigned long megabytes = 2048;
    bool alone = false;
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i) {
        if (strcmp(argv[i], "--seconds") == 0 && i + 1 < argc)
            seconds = (unsigned)atoi(argv[++i]);
        else if (strcmp(argv[i], "--alone") == 0)
            alone = true;
        else if (strcmp(argv[i], "--show") == 0)
            setenv("QOTOOL_FUZZ_SHOW", "1", 1);
        else if (strcmp(argv[i], "--megabytes") == 0 && i + 1 < argc)
            megabytes = strtoul(argv[++i], nullptr, 10);
        else
            Collect(argv[i], &files);
    }
    std::sort(files.begin(), files.end());
    int failed = 0;
    std::vector<Input> inputs;
    for (const std::string& file : files) {
        // Read here: the sandbox's children may no longer read the folders.
        std::ifstream in(file, std::ios::binary);
        std::vector<uint8_t> data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (!in.is_open()) {
            printf("FAILED %s: cannot be read\n", file.c_str());
            ++failed;
            continue;
        }
        inputs.push_back({file, std::move(data)});
    }
    qotool::fuzz::InitFuzzing();  // the services sandbox, if any, holds every child
    for (size_t next = 0; next < inputs.size();) {
        size_t stopped = 0;
        const int status = RunChild(inputs, next, alone, seconds, megabytes, &stopped);
        if (WIFEXITED(status) && WEXITSTATUS(status) == 0 && stopped == inputs.size()) {
            next = alone ? next + 1 : inputs.size();
            continue;
        }
        ++failed;
        std::string outcome = Outcome(status, seconds);
        if (!alone) {
            size_t ignored = 0;
            const int again = RunChild(inputs, stopped, true, seconds, megabytes, &ignored);
            outcome += WIFEXITED(again) && WEXITSTATUS(again) == 0 ? " after the inputs before it; alone it passes"
                                                                   : "; alone: " + Outcome(again, seconds);
        }
        printf("FAILED %s: %s\n", inputs[stopped].name.c_str(), outcome.c_str());
        next = stopped + 1;
    }
    printf("%zu inputs replayed, %d failed\n", inputs.size(), failed);
    return failed ? 1 : 0;
}
