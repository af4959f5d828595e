#include "platform/module_loader.h"

#include <dlfcn.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <cstring>

#include "platform/file_io.h"
#include "platform/last_error.h"
#include "platform/module_path.h"

namespace qotool::platform {

namespace {

std::string ExecutableDirectory() {
    char exe[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n <= 0) return std::string();
    std::string path(exe, (size_t)n);
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string Lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = (char)(c + 32);
    return s;
}

}  // namespace

std::vector<std::string> ModuleDirectories(const std::string& currentDirectory) {
    std::vector<std::string> dirs;
    auto add = [&](std::string dir) {
        if (dir.empty()) return;
        if (dir.back() != '/') dir += '/';
        dirs.push_back(dir);
    };
    add(ExecutableDirectory());
    const std::string library = LibraryDirectory();
    add(library);
    if (const char* path = getenv("QO_MODULE_PATH")) {
        for (const char* p = path; *p;) {
            const char* end = strchr(p, ':');
            const size_t length = end ? (size_t)(end - p) : strlen(p);
            add(std::string(p, length));
            p += length;
            if (*p == ':') ++p;
        }
    }
    if (!library.empty()) add(library + kModuleFolder);
    add(currentDirectory);
    return dirs;
}

std::vector<std::string> ModuleCandidates(const char* name) {
    std::vector<std::string> out;
    if (!name || !*name) return out;
    std::string file = FileSystemName(name);
    for (char& c : file)
        if (c == '\\') c = '/';
    std::string dir, base = file;
    if (size_t slash = file.rfind('/'); slash != std::string::npos) {
        dir = file.substr(0, slash + 1);
        base = file.substr(slash + 1);
    }
    std::vector<std::string> names;
    if (base.size() > 4 && Lower(base.substr(base.size() - 4)) == ".dll") {
        std::string stem = base.substr(0, base.size() - 4);
        for (const std::string& s : {stem, Lower(stem)}) {
            names.push_back(s + ".so");
            names.push_back("lib" + s + ".so");
        }
    } else {
        names.push_back(base);
    }
    if (!dir.empty()) {
        for (const std::string& n : names) out.push_back(dir + n);
        return out;
    }
    char cwd[PATH_MAX];
    std::string here = getcwd(cwd, sizeof cwd) ? std::string(cwd) + "/" : std::string();
    for (const std::string& d : ModuleDirectories(here))
        for (const std::string& n : names) out.push_back(d + n);
    for (const std::string& n : names) out.push_back(n);  // the system's search
    return out;
}

void* LoadModule(const char* name) {
    std::string firstError;
    for (const std::string& candidate : ModuleCandidates(name)) {
        if (candidate.find('/') != std::string::npos && access(candidate.c_str(), F_OK) != 0) continue;
        if (void* handle = dlopen(candidate.c_str(), RTLD_NOW)) return handle;
        if (firstError.empty()) {
            const char* text = dlerror();
            firstError = text ? text : "";
        }
    }
    SetLoaderError(firstError.empty() ? "module not found" : firstError.c_str());
    return nullptr;
}

}  // namespace qotool::platform
