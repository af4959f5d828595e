#include "platform/module_path.h"

#include <dlfcn.h>
#include <strings.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <cstring>

#include "platform/module_handle.h"
#include "platform/paths.h"

namespace qotool::platform {

static std::string WithSlash(std::string dir) {
    if (dir.empty() || dir.back() != '/') dir += '/';
    return dir;
}

}  // namespace qotool::platform

// A program that holds these objects instead of loading the shared library
// may name where the library's file lies (absolute, or relative to the
// program's folder), ending with a null; the shared library names nothing.
extern "C" __attribute__((weak, visibility("hidden"))) const char* const qotool_library_file_candidates[];

namespace qotool::platform {

const std::string& NamedLibraryFile() {
    static const std::string& file = *new std::string([] {
        const char* const* candidates = qotool_library_file_candidates;
        if (!candidates) return std::string();
        char buffer[PATH_MAX];
        const std::string& program = RunningProgramFile();
        const std::string folder = program.substr(0, program.rfind('/') + 1);
        for (; *candidates; ++candidates) {
            const std::string path = (*candidates)[0] == '/' ? std::string(*candidates) : folder + *candidates;
            if (access(path.c_str(), F_OK) == 0 && realpath(path.c_str(), buffer)) return std::string(buffer);
        }
        return std::string();
    }());
    return file;
}

const std::string& LibraryDirectory() {
    // Never destroyed: the unload hook still asks for it.
    static const std::string& dir = *new std::string([] {
        std::string path = NamedLibraryFile();
        Dl_info info{};
        if (!path.empty()) {
            // The file the program named, already resolved.
        } else if (dladdr((void*)&LibraryDirectory, &info) && info.dli_fname && info.dli_fname[0]) {
            char resolved[PATH_MAX];
            path = realpath(info.dli_fname, resolved) ? resolved : info.dli_fname;
        } else {
            path = RunningProgramFile();
        }
        size_t slash = path.rfind('/');
        return WithSlash(slash == std::string::npos ? std::string(".") : path.substr(0, slash));
    }());
    return dir;
}

// An environment value as a GBK text; null or empty gives "".
static std::string EnvironmentText(const char* name) {
    const char* value = getenv(name);
    return value && *value ? SystemNameFromOs(value) : std::string();
}

std::string HostPath() {
    std::string path = EnvironmentText("QO_HOST_PATH");
    if (path.empty()) {
        static const std::string& exe = *new std::string(SystemNameFromOs(RunningProgramFile()));
        path = exe;
    }
    if (path.size() > 259) path.resize(259);
    return UpperGbk(path);
}

std::string WorkDirectoryOfHost(const std::string& hostPath) {
    const size_t last = LastSeparator(hostPath);
    std::string dir = last == std::string::npos ? std::string() : hostPath.substr(0, last + 1);
    for (const char* folder : {"DEBUG", "DEBUG2", "RELEASE", "RELEASE2"}) {
        // "\FOLDER\" at the end, either separator on either side.
        const size_t n = strlen(folder);
        if (dir.size() < n + 2) continue;
        const size_t at = dir.size() - n - 1;
        if (!IsSeparator(dir[at - 1]) || strncasecmp(dir.c_str() + at, folder, n) != 0) continue;
        if (LastSeparator(std::string_view(dir).substr(0, dir.size() - 1)) != at - 1) continue;
        dir.resize(at);
    }
    return dir;
}

std::string WorkDirectory() {
    std::string dir = EnvironmentText("QO_WORK_DIR");
    if (!dir.empty()) return WithSeparator(dir);
    return WorkDirectoryOfHost(HostPath());
}

std::string CurrentDirectory() {
    char* cwd = getcwd(nullptr, 0);  // fails when the directory was removed
    if (!cwd) return std::string();
    std::string name;
    try {
        name = WithSlash(SystemNameFromOs(cwd));
    } catch (...) {
        free(cwd);
        throw;
    }
    free(cwd);
    return name;
}

std::string SystemDirectory() {
    std::string dir = EnvironmentText("QO_SYSTEM_DIR");
    return dir.empty() ? std::string("/usr/lib/") : WithSeparator(dir);
}

std::string WindowsDirectory() {
    std::string dir = EnvironmentText("QO_WINDOWS_DIR");
    return dir.empty() ? std::string("/etc/") : WithSeparator(dir);
}

bool IsAbsolutePath(const char* path) {
    if (!path || !path[0]) return false;
    return path[0] == '/' || path[0] == '\\' || path[1] == ':';
}

}  // namespace qotool::platform
