#include "platform/module_handle.h"

#include <dlfcn.h>
#include <link.h>
#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace qotool::platform {

namespace {

std::string RunningProgram() {
    char exe[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    return n > 0 ? std::string(exe, (size_t)n) : std::string();
}

std::string Resolved(const char* path) {
    char resolved[PATH_MAX];
    return realpath(path, resolved) ? std::string(resolved) : std::string(path);
}

// The base name less its extension and version (".so", ".so.2", ".dll").
std::string Stem(const std::string& path) {
    std::string name = path.substr(path.find_last_of("/\\") + 1);
    std::string lower = name;
    for (char& c : lower) c = (char)tolower((unsigned char)c);
    size_t cut = name.size();
    for (const char* suffix : {".so", ".dll", ".exe"}) cut = std::min(cut, lower.find(suffix));
    return name.substr(0, cut);
}

}  // namespace

std::string HostApplicationPath() {
    if (const char* env = getenv("QO_HOST_PATH"); env && *env) return env;
    return RunningProgram();
}

std::string ModuleFileName(const void* address) {
    Dl_info info{};
    if (!address || !dladdr(address, &info) || !info.dli_fname || !info.dli_fname[0]) return HostApplicationPath();
    std::string path = Resolved(info.dli_fname);
    if (path == Resolved("/proc/self/exe")) return HostApplicationPath();
    return path;
}

const void* ModuleIdentity(const void* address) {
    Dl_info info{};
    if (!address) return nullptr;
    if (!dladdr(address, &info) || !info.dli_fbase) return address;
    return info.dli_fbase;
}

std::string LoadedModulePath(const std::string& name) {
    struct Search {
        std::string wanted;
        std::string found;
    } search{Stem(name), {}};
    dl_iterate_phdr(
        [](dl_phdr_info* info, size_t, void* data) {
            auto* s = static_cast<Search*>(data);
            if (!info->dlpi_name || !info->dlpi_name[0]) return 0;
            std::string stem = Stem(info->dlpi_name);
            if (strcasecmp(stem.c_str(), s->wanted.c_str()) == 0 ||
                (stem.size() > 3 && strncmp(stem.c_str(), "lib", 3) == 0 &&
                 strcasecmp(stem.c_str() + 3, s->wanted.c_str()) == 0)) {
                s->found = Resolved(info->dlpi_name);
                return 1;
            }
            return 0;
        },
        &search);
    return search.found;
}

void* ModuleFunction(void* module, const char* name) { return module && name ? dlsym(module, name) : nullptr; }

void UnloadModule(void* module) {
    if (module) dlclose(module);
}

}  // namespace qotool::platform
