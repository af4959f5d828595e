// Replays fuzzing inputs through the normal build: every file of the given
// folders (or the given files) runs through RunFuzzInput, one after another
// in a child process as the fuzzer's persistent mode runs them, each under a
// cap of processor time (ITIMER_PROF) and of clock time (alarm), the child
// under an address-space cap (setrlimit; not under AddressSanitizer, whose
// shadow needs more). An input that kills the child, makes it exit or
// outlasts a cap is reported, with what it does run again alone in a fresh
// child; the rest go on in a new child. The exit status is 1 when any failed.
//
//   qotool_fuzz_replay [--seconds N] [--megabytes N] [--alone] [--show] PATH...
//
// --alone runs every input in a fresh child, as the crash reproducers were
// found. --show prints each script's result (GBK) on standard error.
#include <signal.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
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

namespace fs = std::filesystem;

struct Input {
    std::string name;
    std::vector<uint8_t> data;
};

// Reads every file under path now: the sandbox's children may no longer
// read the folders. Names starting with '.' (notes such as .gitkeep) are
// passed over. Returns the number of files that cannot be read.
int Collect(const fs::path& path, std::vector<Input>* inputs) {
    std::error_code error;
    int unread = 0;
    if (fs::is_directory(path, error)) {
        for (const fs::directory_entry& entry : fs::directory_iterator(path, error))
            if (entry.path().filename().string()[0] != '.') unread += Collect(entry.path(), inputs);
        return unread;
    }
    std::ifstream in(path, std::ios::binary);
    const std::string name = fs::absolute(path).lexically_normal().string();
    if (!in.is_open()) {
        printf("FAILED %s: cannot be read\n", name.c_str());
        return 1;
    }
    inputs->push_back({name, {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()}});
    return 0;
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
    const pid_t child = fork();
    if (child < 0) {
        perror("fork");
        exit(2);
    }
    if (child == 0) {
        if (kCapAddressSpace) {
            rlimit limit{(rlim_t)megabytes << 20, (rlim_t)megabytes << 20};
            setrlimit(RLIMIT_AS, &limit);
        }
        qotool::fuzz::InitFuzzing();
        for (size_t i = first; i < (alone ? first + 1 : inputs.size()); ++i) {
            *running = i;
            // A loop is stopped by the processor time it spends, so that a
            // loaded machine does not fail a slow but finite input; a wait
            // that spends none is stopped by the clock, later.
            itimerval cpu{{0, 0}, {(time_t)seconds, 0}};
            setitimer(ITIMER_PROF, &cpu, nullptr);
            alarm(seconds * 6);
            qotool::fuzz::RunFuzzInput(inputs[i].data.data(), inputs[i].data.size());
        }
        *running = inputs.size();
        fflush(nullptr);
        _exit(0);
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0) {
    }
    *stopped = *running;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 && *stopped != inputs.size() ? -1 : status;
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
        snprintf(text, sizeof text, "exit status %d", status == -1 ? 0 : WEXITSTATUS(status));
    return text;
}

}  // namespace

int main(int argc, char** argv) {
    unsigned seconds = 20;
    unsigned long megabytes = 2048;
    bool alone = false;
    int failed = 0;
    std::vector<Input> inputs;
    for (int i = 1; i < argc; ++i) {
        if (strcmp(argv[i], "--seconds") == 0 && i + 1 < argc)
            seconds = (unsigned)atoi(argv[++i]);
        else if (strcmp(argv[i], "--megabytes") == 0 && i + 1 < argc)
            megabytes = strtoul(argv[++i], nullptr, 10);
        else if (strcmp(argv[i], "--alone") == 0)
            alone = true;
        else if (strcmp(argv[i], "--show") == 0)
            setenv("QOTOOL_FUZZ_SHOW", "1", 1);
        else
            failed += Collect(argv[i], &inputs);
    }
    std::sort(inputs.begin(), inputs.end(), [](const Input& a, const Input& b) { return a.name < b.name; });
    qotool::fuzz::InitFuzzing();  // the services sandbox, if any, holds every child
    for (size_t next = 0; next < inputs.size();) {
        size_t stopped = 0;
        const int status = RunChild(inputs, next, alone, seconds, megabytes, &stopped);
        if (status == 0) {
            next = alone ? next + 1 : inputs.size();
            continue;
        }
        ++failed;
        std::string outcome = Outcome(status, seconds);
        if (!alone) {
            size_t ignored = 0;
            const int again = RunChild(inputs, stopped, true, seconds, megabytes, &ignored);
            outcome += again == 0 ? " after the inputs before it; alone it passes" : "; alone: " + Outcome(again, seconds);
        }
        printf("FAILED %s: %s\n", inputs[stopped].name.c_str(), outcome.c_str());
        next = stopped + 1;
    }
    printf("%zu inputs replayed, %d failed\n", inputs.size(), failed);
    return failed ? 1 : 0;
}
