// Replays fuzzing inputs through the normal build: every file of the given
// folders (or the given files) runs through RunFuzzInput in a child process
// of its own, under a time cap (alarm) and an address-space cap
// (setrlimit; not under AddressSanitizer, whose shadow needs more). An input
// that kills its child, makes it exit with a failure or outlasts the time
// cap is reported; the exit status is 1 when any did.
//
//   qotool_fuzz_replay [--seconds N] [--megabytes N] [--show] PATH...
//
// --show prints each script's result (GBK) on standard error.
#include <dirent.h>
#include <signal.h>
#include <sys/resource.h>
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

[[noreturn]] void RunChild(std::vector<uint8_t>& data, unsigned seconds, unsigned long megabytes) {
    if (kCapAddressSpace) {
        rlimit limit{(rlim_t)megabytes << 20, (rlim_t)megabytes << 20};
        setrlimit(RLIMIT_AS, &limit);
    }
    // A loop is stopped by the processor time it spends, so that a loaded
    // machine does not fail a slow but finite input; a wait that spends
    // none is stopped by the clock, later.
    rlimit cpu{(rlim_t)seconds, (rlim_t)seconds + 1};
    setrlimit(RLIMIT_CPU, &cpu);
    alarm(seconds * 6);
    qotool::fuzz::InitFuzzing();
    qotool::fuzz::RunFuzzInput(data.data(), data.size());
    fflush(nullptr);
    _exit(0);
}

}  // namespace

int main(int argc, char** argv) {
    unsigned seconds = 20;
    unsigned long megabytes = 2048;
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i) {
        if (strcmp(argv[i], "--seconds") == 0 && i + 1 < argc)
            seconds = (unsigned)atoi(argv[++i]);
        else if (strcmp(argv[i], "--show") == 0)
            setenv("QOTOOL_FUZZ_SHOW", "1", 1);
        else if (strcmp(argv[i], "--megabytes") == 0 && i + 1 < argc)
            megabytes = strtoul(argv[++i], nullptr, 10);
        else
            Collect(argv[i], &files);
    }
    std::sort(files.begin(), files.end());
    qotool::fuzz::InitFuzzing();  // the services sandbox, if any, holds every child
    int failed = 0;
    for (const std::string& file : files) {
        // Read here: the sandbox's children may no longer read the folders.
        std::ifstream in(file, std::ios::binary);
        std::vector<uint8_t> data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (!in.is_open()) {
            printf("FAILED %s: cannot be read\n", file.c_str());
            ++failed;
            continue;
        }
        fflush(nullptr);
        pid_t child = fork();
        if (child < 0) {
            perror("fork");
            return 2;
        }
        if (child == 0) RunChild(data, seconds, megabytes);
        int status = 0;
        while (waitpid(child, &status, 0) < 0) {
        }
        if (WIFEXITED(status) && WEXITSTATUS(status) == 0) continue;
        ++failed;
        if (WIFSIGNALED(status) && WTERMSIG(status) == SIGXCPU)
            printf("FAILED %s: still running after %u s of processor time\n", file.c_str(), seconds);
        else if (WIFSIGNALED(status) && WTERMSIG(status) == SIGALRM)
            printf("FAILED %s: still waiting after %u s\n", file.c_str(), seconds * 6);
        else if (WIFSIGNALED(status))
            printf("FAILED %s: killed by signal %d (%s)\n", file.c_str(), WTERMSIG(status), strsignal(WTERMSIG(status)));
        else
            printf("FAILED %s: exit status %d\n", file.c_str(), WEXITSTATUS(status));
    }
    printf("%zu inputs replayed, %d failed\n", files.size(), failed);
    return failed ? 1 : 0;
}
