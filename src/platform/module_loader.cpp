#include "platform/module_loader.h"

#include <dirent.h>
#include <dlfcn.h>
#include <link.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <unordered_map>

#include "platform/file_io.h"
#include "platform/last_error.h"
#include "platform/module_handle.h"
#include "platform/module_path.h"

namespace qotool::platform {

namespace {

// Where the versioned sonames of bare names are looked for.
const char* const kSystemLibraryFolders[] = {
    "/lib/x86_64-linux-gnu/", "/usr/lib/x86_64-linux-gnu/", "/lib64/", "/usr/lib64/",
    "/lib/",                  "/usr/lib/",                  "/usr/local/lib/",
};

std::string ExecutableDirectory() {
    const std::string& path = RunningProgramFile();
    if (path.empty()) return std::string();
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string Lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = (char)(c + 32);
    return s;
}

bool EndsWithNoCase(const std::string& s, const char* suffix) {
    size_t n = strlen(suffix);
    return s.size() > n && Lower(s.substr(s.size() - n)) == suffix;
}

// A script's name split into its folder (with the trailing '/', or empty)
// and file name, '\' taken as a separator too.
struct SplitName {
    std::string dir, base;
};

SplitName Split(const char* name) {
    std::string file = FileSystemName(name);
    for (char& c : file)
        if (c == '\\') c = '/';
    SplitName out{std::string(), file};
    if (size_t slash = file.rfind('/'); slash != std::string::npos) {
        out.dir = file.substr(0, slash + 1);
        out.base = file.substr(slash + 1);
    }
    return out;
}

// The stem S of a ".dll" or bare name; empty for names used as given.
std::string Stem(const std::string& base) {
    if (EndsWithNoCase(base, ".dll")) return base.substr(0, base.size() - 4);
    if (base.find('.') == std::string::npos) return base;
    return std::string();
}

bool IsOwnName(const SplitName& name) {
    if (!name.dir.empty()) return false;
    std::string s = Lower(name.base);
    for (const char* suffix : {".dll", ".so"})
        if (EndsWithNoCase(s, suffix)) s.resize(s.size() - strlen(suffix));
    if (s.compare(0, 3, "lib") == 0) s.erase(0, 3);
    return s == "qotool_noqo";
}

int OwnMarker;

// A new reference to the module that holds this code: the shared library,
// or the executable when the objects are linked into it.
void* OpenOwnModule() {
    static const std::string& path = *new std::string([] {
        Dl_info info;
        if (dladdr(&OwnMarker, &info) && info.dli_fname) return std::string(info.dli_fname);
        return std::string();
    }());
    if (!path.empty())
        if (void* h = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD)) return h;
    return dlopen(nullptr, RTLD_NOW);
}

// The numeric parts of a version suffix "6" or "1.2.13"; false when the
// suffix is not of that form.
bool VersionParts(const char* suffix, std::vector<long>& parts) {
    parts.clear();
    while (*suffix) {
        if (*suffix < '0' || *suffix > '9') return false;
        char* end;
        parts.push_back(strtol(suffix, &end, 10));
        suffix = end;
        if (*suffix == '.') {
            ++suffix;
            if (!*suffix) return false;
        } else if (*suffix) {
            return false;
        }
    }
    return !parts.empty();
}

// The highest prefix + "N" (N a version such as 6 or 1.2.13) in folders.
std::string HighestVersionedIn(const std::vector<std::string>& folders, const std::string& prefix) {
    std::string best;
    std::vector<long> bestParts, parts;
    for (const std::string& folder : folders) {
        DIR* dir = opendir(folder.c_str());
        if (!dir) continue;
        while (dirent* entry = readdir(dir)) {
            if (strncmp(entry->d_name, prefix.c_str(), prefix.size()) != 0) continue;
            if (!VersionParts(entry->d_name + prefix.size(), parts)) continue;
            if (best.empty() || parts > bestParts) {
                best = folder + entry->d_name;
                bestParts = parts;
            }
        }
        closedir(dir);
    }
    return best;
}

// The versioned sonames for name, best first: for a stem S (as written,
// then in lower case) "libS.so.N", and "S.so.N" when S itself starts with
// "lib"; for a name "X.so", "X.so.N". So "libc" and "libc.so" reach
// libc.so.6 where libc.so is a linker script for the link editor.
std::vector<std::string> VersionedCandidates(const SplitName& name) {
    std::vector<std::string> prefixes;
    const std::string stem = Stem(name.base);
    for (const std::string& s : {stem, Lower(stem)}) {
        if (s.empty()) continue;
        prefixes.push_back("lib" + s + ".so.");
        if (Lower(s).compare(0, 3, "lib") == 0) prefixes.push_back(s + ".so.");
    }
    if (name.base.size() > 3 && name.base.compare(name.base.size() - 3, 3, ".so") == 0)
        prefixes.push_back(name.base + ".");
    std::vector<std::string> out;
    if (prefixes.empty()) return out;
    std::vector<std::string> folders;
    if (!name.dir.empty())
        folders.push_back(name.dir);
    else
        folders.assign(std::begin(kSystemLibraryFolders), std::end(kSystemLibraryFolders));
    for (const std::string& prefix : prefixes) {
        std::string found = HighestVersionedIn(folders, prefix);
        bool seen = found.empty();
        for (const std::string& known : out) seen = seen || known == found;
        if (!seen) out.push_back(found);
    }
    return out;
}

// The tables are never destroyed: timer threads may still load while the
// process exits.
struct Tables {
    std::unordered_map<std::string, std::string> resolved;  // name -> the file that loaded
    std::unordered_map<void*, int> opened;                  // script-opened references
    std::unordered_map<void*, int> live;                    // every reference we hold
};
Tables& TheTables() {
    static Tables* tables = new Tables();
    return *tables;
}

std::mutex g_mutex;

void* Held(void* handle) {
    if (handle) {
        std::lock_guard<std::mutex> lock(g_mutex);
        ++TheTables().live[handle];
    }
    return handle;
}

// Whether a loader text says that candidate itself was not there.
bool SelfMissing(const std::string& text, const std::string& candidate) {
    return text.compare(0, candidate.size() + 1, candidate + ":") == 0 &&
           text.find("cannot open shared object file") != std::string::npos;
}

void* TryOpen(const std::string& candidate, int flags, std::string* error) {
    if (candidate.find('/') != std::string::npos && access(candidate.c_str(), F_OK) != 0) return nullptr;
    if (void* handle = dlopen(candidate.c_str(), flags)) return handle;
    if (error) {
        const char* text = dlerror();
        std::string reason = text ? text : "";
        // A module that exists but cannot be loaded says more than one that
        // is not there.
        if (error->empty() || (SelfMissing(*error, candidate) && !SelfMissing(reason, candidate))) *error = reason;
    }
    return nullptr;
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
    SplitName split = Split(name);
    std::vector<std::string> names;
    std::string stem = Stem(split.base);
    if (!stem.empty()) {
        for (const std::string& s : {stem, Lower(stem)})
            for (const std::string& n : {s + ".so", "lib" + s + ".so"}) {
                bool seen = false;
                for (const std::string& m : names) seen = seen || m == n;
                if (!seen) names.push_back(n);
            }
    } else {
        names.push_back(split.base);
    }
    if (!split.dir.empty()) {
        for (const std::string& n : names) out.push_back(split.dir + n);
        return out;
    }
    char cwd[PATH_MAX];
    std::string here = getcwd(cwd, sizeof cwd) ? std::string(cwd) + "/" : std::string();
    for (const std::string& d : ModuleDirectories(here))
        for (const std::string& n : names) out.push_back(d + n);
    for (const std::string& n : names) out.push_back(n);  // the system's search
    return out;
}

std::string HighestVersionedLibrary(const std::string& stem) {
    std::vector<std::string> folders(std::begin(kSystemLibraryFolders), std::end(kSystemLibraryFolders));
    return HighestVersionedIn(folders, "lib" + stem + ".so.");
}

void* LoadModule(const char* name) {
    if (!name || !*name) {
        SetLoaderError("empty module name");
        errno = ENOENT;
        return nullptr;
    }
    SplitName split = Split(name);
    if (IsOwnName(split)) return Held(OpenOwnModule());
    {
        std::string known;
        {
            std::lock_guard<std::mutex> lock(g_mutex);
            auto it = TheTables().resolved.find(name);
            if (it != TheTables().resolved.end()) known = it->second;
        }
        if (!known.empty())
            if (void* handle = dlopen(known.c_str(), RTLD_NOW)) return Held(handle);
    }
    std::string error;
    auto loaded = [&](const std::string& candidate, void* handle) {
        {
            std::lock_guard<std::mutex> lock(g_mutex);
            TheTables().resolved[name] = candidate;
        }
        return Held(handle);
    };
    for (const std::string& candidate : ModuleCandidates(name))
        if (void* handle = TryOpen(candidate, RTLD_NOW, &error)) return loaded(candidate, handle);
    for (const std::string& candidate : VersionedCandidates(split))
        if (void* handle = TryOpen(candidate, RTLD_NOW, &error)) return loaded(candidate, handle);
    if (error.empty()) error = std::string(name) + ": cannot open shared object file: No such file or directory";
    SetLoaderError(error.c_str());
    errno = error.find("No such file or directory") != std::string::npos ? ENOENT : ENOEXEC;
    return nullptr;
}

void* FindSymbol(void* module, const char* name) {
    if (!module || !name) return nullptr;
    std::lock_guard<std::mutex> lock(g_mutex);  // no close while we look
    if (TheTables().live.find(module) == TheTables().live.end()) return nullptr;
    return dlsym(module, name);
}

bool IsCodeAddress(const void* address) {
    struct Probe {
        uintptr_t at;
        bool found;
    } probe{(uintptr_t)address, false};
    dl_iterate_phdr(
        [](dl_phdr_info* info, size_t, void* data) {
            Probe* p = static_cast<Probe*>(data);
            for (int i = 0; i < info->dlpi_phnum; ++i) {
                const ElfW(Phdr)& h = info->dlpi_phdr[i];
                if (h.p_type != PT_LOAD || !(h.p_flags & PF_X)) continue;
                uintptr_t start = info->dlpi_addr + h.p_vaddr;
                if (p->at >= start && p->at - start < h.p_memsz) {
                    p->found = true;
                    return 1;
                }
            }
            return 0;
        },
        &probe);
    return probe.found;
}

void* OpenModule(const char* name) {
    void* handle = LoadModule(name);
    if (handle) {
        std::lock_guard<std::mutex> lock(g_mutex);
        ++TheTables().opened[handle];
    }
    return handle;
}

bool CloseModule(void* module) {
    std::lock_guard<std::mutex> lock(g_mutex);
    auto it = TheTables().opened.find(module);
    if (it == TheTables().opened.end()) return false;
    if (--it->second == 0) TheTables().opened.erase(it);
    auto live = TheTables().live.find(module);
    if (live != TheTables().live.end() && --live->second == 0) TheTables().live.erase(live);
    return dlclose(module) == 0;
}

void* LoadedModuleHandle(const char* name) {
    if (!name || !*name) return nullptr;
    SplitName split = Split(name);
    if (IsOwnName(split)) {
        void* handle = OpenOwnModule();
        if (handle) dlclose(handle);
        return handle;
    }
    std::vector<std::string> candidates = ModuleCandidates(name);
    for (const std::string& versioned : VersionedCandidates(split)) candidates.push_back(versioned);
    for (const std::string& candidate : candidates) {
        if (void* handle = TryOpen(candidate, RTLD_NOW | RTLD_NOLOAD, nullptr)) {
            dlclose(handle);  // NOLOAD counted one more reference
            return handle;
        }
    }
    dlerror();
    return nullptr;
}

bool IsModuleNotFound(int code) { return code == ENOENT; }

std::string SystemErrorText(int code) {
    char buf[256];
    const char* text = strerror_r(code, buf, sizeof buf);
    return text ? text : "";
}

}  // namespace qotool::platform
