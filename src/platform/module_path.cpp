#include "platform/module_path.h"

#include <dlfcn.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>

namespace qotool::platform {

static std::string WithSlash(std::string dir) {
    if (dir.empty() || dir.back() != '/') dir += '/';
    return dir;
}

const std::string& LibraryDirectory() {
    static const std::string dir = [] {
        Dl_info info{};
        std::string path;
        if (dladdr((void*)&LibraryDirectory, &info) && info.dli_fname && info.dli_fname[0]) {
            char resolved[PATH_MAX];
            path = realpath(info.dli_fname, resolved) ? resolved : info.dli_fname;
        } else {
            char exe[PATH_MAX];
            ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
            if (n > 0) path.assign(exe, (size_t)n);
        }
        size_t slash = path.rfind('/');
        return WithSlash(slash == std::string::npos ? std::string(".") : path.substr(0, slash));
    }();
    return dir;
}

namespace {
std::string* g_derivedWorkDirectory = nullptr;  // never destroyed: read at unload
}

void SetDerivedWorkDirectory(const std::string& directory) {
    if (!g_derivedWorkDirectory) g_derivedWorkDirectory = new std::string;
    *g_derivedWorkDirectory = directory;
}

std::string WorkDirectory() {
    if (const char* env = getenv("QO_WORK_DIR"); env && *env) return WithSlash(env);
    if (g_derivedWorkDirectory && !g_derivedWorkDirectory->empty()) return WithSlash(*g_derivedWorkDirectory);
    char cwd[PATH_MAX];
    return WithSlash(getcwd(cwd, sizeof cwd) ? cwd : ".");
}

bool IsAbsolutePath(const char* path) {
    if (!path || !path[0]) return false;
    return path[0] == '/' || path[0] == '\\' || path[1] == ':';
}

}  // namespace qotool::platform
