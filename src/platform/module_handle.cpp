#include "platform/module_handle.h"

#include <dlfcn.h>
#include <link.h>
#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace qotool::platform {

namespace {

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

// The loaded object that holds an address: the running program, or a module
// with its recorded name and the address its image starts at.
struct Holder {
    bool found = false;
    bool program = false;
    uintptr_t loadBias = 0;
    const void* base = nullptr;
    std::string name;
    unsigned long long generation = 0;  // objects added and removed so far
};

// Walks the loaded objects' segments (cheaper than dladdr, which also looks
// for the nearest symbol).
Holder HolderOf(const void* address) {
    struct Search {
        uintptr_t address;
        bool first = true;
        Holder holder;
    } search{(uintptr_t)address, true, {}};
    dl_iterate_phdr(
        [](dl_phdr_info* info, size_t size, void* data) {
            auto* s = static_cast<Search*>(data);
            const bool first = s->first;
            s->first = false;
            const uintptr_t page = (uintptr_t)getpagesize();
            uintptr_t lowest = UINTPTR_MAX;
            bool inside = false;
            for (int i = 0; i < info->dlpi_phnum; ++i) {
                const ElfW(Phdr)& segment = info->dlpi_phdr[i];
                if (segment.p_type != PT_LOAD) continue;
                const uintptr_t start = info->dlpi_addr + segment.p_vaddr;
                lowest = std::min(lowest, start & ~(page - 1));
                inside = inside || (s->address >= start && s->address - start < segment.p_memsz);
            }
            if (!inside) return 0;
            Holder& h = s->holder;
            h.found = true;
            h.program = first;
            h.loadBias = info->dlpi_addr;
            h.base = (const void*)lowest;
            h.name = info->dlpi_name ? info->dlpi_name : "";
            if (size >= offsetof(dl_phdr_info, dlpi_subs) + sizeof info->dlpi_subs)
                h.generation = info->dlpi_adds + info->dlpi_subs;
            return 1;
        },
        &search);
    return search.holder;
}

// The last module path resolved, kept while no object has been loaded or
// unloaded since (so the same load address still means the same file).
struct ResolvedModule {
    std::mutex mutex;
    bool valid = false;
    unsigned long long generation = 0;
    uintptr_t loadBias = 0;
    std::string name, path;
};

ResolvedModule& LastResolved() {
    static ResolvedModule* last = new ResolvedModule;  // the unload hook still asks
    return *last;
}

}  // namespace

// The program file stays the same for the life of the process. Never
// destroyed: the unload hook still asks for it.
const std::string& RunningProgramFile() {
    static const std::string& program = *new std::string([] {
        char exe[PATH_MAX];
        const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
        return n > 0 ? std::string(exe, (size_t)n) : std::string();
    }());
    return program;
}

std::string HostApplicationPath() {
    if (const char* env = getenv("QO_HOST_PATH"); env && *env) return env;
    return RunningProgramFile();
}

std::string ModuleFileName(const void* address) {
    if (!address) return HostApplicationPath();
    const Holder holder = HolderOf(address);
    if (!holder.found || holder.program || holder.name.empty()) return HostApplicationPath();
    ResolvedModule& last = LastResolved();
    std::string path;
    {
        std::lock_guard<std::mutex> lock(last.mutex);
        if (last.valid && holder.generation && last.generation == holder.generation &&
            last.loadBias == holder.loadBias && last.name == holder.name)
            path = last.path;
    }
    if (path.empty()) {
        path = Resolved(holder.name.c_str());
        std::lock_guard<std::mutex> lock(last.mutex);
        last.valid = holder.generation != 0;
        last.generation = holder.generation;
        last.loadBias = holder.loadBias;
        last.name = holder.name;
        last.path = path;
    }
    // The running program loaded once more as a module is still the host.
    if (path == RunningProgramFile()) return HostApplicationPath();
    return path;
}

const void* ModuleIdentity(const void* address) {
    if (!address) return nullptr;
    const Holder holder = HolderOf(address);
    return holder.found ? holder.base : address;
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
