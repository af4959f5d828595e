#include "services_sandbox.h"

#include <ftw.h>
#include <grp.h>
#include <sched.h>
#include <stdio.h>
#include <string.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/native_call.h"
#include "qotool/qotool.h"

namespace qotool::fuzz {

namespace {

std::string g_folder;  // empty: no sandbox
long g_inputs = 0;
bool g_asNobody = false;  // whether this process has gone on as nobody

// Makes every mount of this process's own mount namespace read-only but
// the sandbox folder (bound onto itself first) and the kernel's /proc,
// /sys and /dev. False when the process may not have a namespace of its
// own; the folder is then only where relative names and drives lead.
bool ProtectMounts() {
    if (unshare(CLONE_NEWNS) != 0) return false;
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return false;
    if (mount(g_folder.c_str(), g_folder.c_str(), nullptr, MS_BIND, nullptr) != 0) return false;
    FILE* mounts = fopen("/proc/self/mounts", "r");
    if (!mounts) return false;
    std::vector<std::string> points;
    char device[4096], point[4096];
    while (fscanf(mounts, "%4095s %4095s %*[^\n]", device, point) == 2) points.push_back(point);
    fclose(mounts);
    for (const std::string& at : points) {
        if (at == g_folder || at.rfind("/proc", 0) == 0 || at.rfind("/sys", 0) == 0 || at.rfind("/dev", 0) == 0)
            continue;
        mount(nullptr, at.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr);
    }
    return true;
}

// As root, the scripts run as nobody from here on: what they start, wait
// for and kill can then not be the fuzzer or the machine's own processes.
constexpr uid_t kNobody = 65534;

bool DropRoot() {
    return setgroups(0, nullptr) == 0 && setgid(kNobody) == 0 && setuid(kNobody) == 0;
}

int RemoveEntry(const char* path, const struct stat*, int, struct FTW* at) {
    if (at->level > 0) remove(path);
    return 0;
}

}  // namespace

bool EnterServicesSandbox(const char* folder) {
    if (!g_folder.empty()) return true;  // entered already, before a fork
    if (!folder || !*folder) return false;
    mkdir(folder, 0700);
    char real[4096];
    if (!realpath(folder, real)) return false;
    g_folder = real;
    const std::string slashed = g_folder + "/";
    setenv("HOME", real, 1);
    setenv("QO_WORK_DIR", slashed.c_str(), 1);
    setenv("ZIVavuDara", real, 1);
    setenv("QO_REGISTRY", real, 1);
    for (char drive = 'A'; drive <= 'Z'; ++drive) {
        const std::string name = std::string("QO_DRIVE_") + drive;
        setenv(name.c_str(), real, 1);
    }
    const bool own = ProtectMounts();
    if (chdir(real) != 0) return false;  // after the bind: the folder's own mount
    if (geteuid() == 0 && chown(real, kNobody, kNobody) != 0) return false;
    platform::SetNativeCallsForTest(false);
    fprintf(stderr, "services sandbox in %s (%s, %s)\n", real,
            own ? "the rest of the file system read-only" : "no mount namespace",
            geteuid() == 0 ? "scripts run as nobody" : "scripts run as this user");
    return true;
}

void BeginServicesInput() {
    if (g_folder.empty() || g_asNobody) return;
    g_asNobody = true;
    if (geteuid() == 0 && !DropRoot()) {
        fprintf(stderr, "services sandbox: cannot go on as nobody\n");
        abort();  // the scripts must not run as root
    }
}

void EndServicesInput() {
    if (g_folder.empty()) return;
    // Timers of the queue that came due run now; then every timer the
    // input opened closes, so none outlives it into the next input.
    ruqo_PumpMessages(0);
    ruqo_ExecQol("timerclose()");
    if (++g_inputs % 256 == 0) nftw(g_folder.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
    [[maybe_unused]] const int back = chdir(g_folder.c_str());  // a script's DirSet moved the process
}

}  // namespace qotool::fuzz
