#include "platform/registry.h"

#include <dirent.h>
#include <iconv.h>
#include <strings.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <unordered_map>

#include "platform/cstring.h"
#include "platform/encoding.h"
#include "platform/file_io.h"
#include "platform/odbc.h"

namespace qotool::platform {

namespace {

// ---- the tree ----

struct Key {
    std::vector<std::string> subkeys;  // display names, creation order
    std::vector<std::pair<std::string, RegistryValue>> values;
};

// Keys by their folded full path: the root number in hex, '\', the
// upper-cased components joined by '\'.
struct Tree {
    std::unordered_map<std::string, Key> keys;
};

std::string Upper(std::string_view text) {
    CString s(text.data(), (int)text.size());
    s.MakeUpper();
    return std::string(s.view());
}

// The components of a key path: split at '\' (never a trail byte), empty
// components dropped.
std::vector<std::string> Components(std::string_view path) {
    std::vector<std::string> parts;
    std::string part;
    for (size_t i = 0; i < path.size(); ++i) {
        const unsigned char c = (unsigned char)path[i];
        if (c >= 0x80 && i + 1 < path.size()) {
            part += path[i];
            part += path[++i];
        } else if (c == '\\') {
            if (!part.empty()) parts.push_back(part);
            part.clear();
        } else {
            part += path[i];
        }
    }
    if (!part.empty()) parts.push_back(part);
    return parts;
}

std::string RootPrefix(uint32_t root) {
    char buf[16];
    snprintf(buf, sizeof buf, "%08X", root);
    return buf;
}

bool IsRoot(uint32_t root) {
    return root == kClassesRoot || root == kCurrentUser || root == kLocalMachine || root == kUsers ||
           root == kCurrentConfig;
}

std::string FoldedPath(uint32_t root, const std::vector<std::string>& parts, size_t count) {
    std::string path = RootPrefix(root);
    for (size_t i = 0; i < count; ++i) {
        path += '\\';
        path += Upper(parts[i]);
    }
    return path;
}

// The key, created with its parents as needed.
Key& MakeKey(Tree& tree, uint32_t root, const std::vector<std::string>& parts) {
    Key* key = &tree.keys[RootPrefix(root)];
    for (size_t i = 0; i < parts.size(); ++i) {
        const std::string path = FoldedPath(root, parts, i + 1);
        auto found = tree.keys.find(path);
        if (found == tree.keys.end()) {
            key->subkeys.push_back(parts[i]);
            found = tree.keys.emplace(path, Key{}).first;
        }
        key = &found->second;
    }
    return *key;
}

void DeleteKey(Tree& tree, uint32_t root, const std::vector<std::string>& parts) {
    if (parts.empty()) return;
    const std::string path = FoldedPath(root, parts, parts.size());
    if (tree.keys.find(path) == tree.keys.end()) return;
    const std::string below = path + "\\";
    for (auto it = tree.keys.begin(); it != tree.keys.end();) {
        if (it->first == path || it->first.compare(0, below.size(), below) == 0)
            it = tree.keys.erase(it);
        else
            ++it;
    }
    auto parent = tree.keys.find(FoldedPath(root, parts, parts.size() - 1));
    if (parent == tree.keys.end()) return;
    const std::string last = Upper(parts.back());
    auto& list = parent->second.subkeys;
    list.erase(std::remove_if(list.begin(), list.end(), [&](const std::string& n) { return Upper(n) == last; }),
               list.end());
}

void SetValue(Key& key, const std::string& name, RegistryValue value) {
    const std::string folded = Upper(name);
    for (auto& entry : key.values) {
        if (Upper(entry.first) == folded) {
            entry.second = std::move(value);
            return;
        }
    }
    key.values.emplace_back(name, std::move(value));
}

void DeleteValue(Key& key, const std::string& name) {
    const std::string folded = Upper(name);
    auto& list = key.values;
    list.erase(std::remove_if(list.begin(), list.end(), [&](const auto& e) { return Upper(e.first) == folded; }),
               list.end());
}

// ---- the file text ----

// UTF-16LE bytes as GBK.
std::string Utf16ToGbk(std::string_view bytes) {
    iconv_t cd = iconv_open("UTF-8", "UTF-16LE");
    if (cd == (iconv_t)-1) return std::string();
    std::string utf8;
    char* in = const_cast<char*>(bytes.data());
    size_t inLeft = bytes.size() & ~(size_t)1;
    char buffer[4096];
    while (inLeft > 0) {
        char* out = buffer;
        size_t outLeft = sizeof buffer;
        const size_t r = iconv(cd, &in, &inLeft, &out, &outLeft);
        utf8.append(buffer, (size_t)(out - buffer));
        if (r == (size_t)-1 && errno != E2BIG) {
            // Skip one unconvertible unit.
            if (inLeft < 2) break;
            in += 2;
            inLeft -= 2;
            utf8 += '?';
        }
    }
    iconv_close(cd);
    return Utf8ToGbk(utf8);
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && strncasecmp(text.data(), prefix.data(), prefix.size()) == 0;
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
    return s;
}

struct RootName {
    const char* name;
    uint32_t root;
};
constexpr RootName kRootNames[] = {
    {"HKEY_CLASSES_ROOT", kClassesRoot}, {"HKCR", kClassesRoot},         {"HKEY_CURRENT_USER", kCurrentUser},
    {"HKCU", kCurrentUser},              {"HKEY_LOCAL_MACHINE", kLocalMachine}, {"HKLM", kLocalMachine},
    {"HKEY_USERS", kUsers},              {"HKU", kUsers},                {"HKEY_CURRENT_CONFIG", kCurrentConfig},
    {"HKCC", kCurrentConfig},
};

// Splits "ROOT\rest" into the root number and the components.
bool ParseKeyName(std::string_view text, uint32_t& root, std::vector<std::string>& parts) {
    std::vector<std::string> all = Components(text);
    if (all.empty()) return false;
    for (const RootName& r : kRootNames) {
        if (strcasecmp(all[0].c_str(), r.name) == 0) {
            root = r.root;
            parts.assign(all.begin() + 1, all.end());
            return true;
        }
    }
    return false;
}

// A quoted text at p (just after the opening quote): \\ and \" are escapes;
// two-byte characters are taken whole. Returns false when it does not end.
bool ReadQuoted(std::string_view line, size_t& p, std::string& out) {
    out.clear();
    while (p < line.size()) {
        const unsigned char c = (unsigned char)line[p];
        if (c >= 0x80 && p + 1 < line.size()) {
            out += line[p];
            out += line[p + 1];
            p += 2;
        } else if (c == '\\' && p + 1 < line.size()) {
            out += line[p + 1];
            p += 2;
        } else if (c == '"') {
            ++p;
            return true;
        } else {
            out += line[p++];
        }
    }
    return false;
}

bool ParseHexBytes(std::string_view text, std::string& bytes) {
    bytes.clear();
    size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == ',')) ++i;
        if (i >= text.size()) break;
        size_t j = i;
        while (j < text.size() && isxdigit((unsigned char)text[j])) ++j;
        if (j == i || j - i > 2) return false;
        bytes += (char)strtoul(std::string(text.substr(i, j - i)).c_str(), nullptr, 16);
        i = j;
        while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
        if (i < text.size() && text[i] != ',') return false;
    }
    return true;
}

// The data after '=' as a value; false when it is not one.
bool ParseData(std::string_view data, bool utf16File, RegistryValue& value) {
    data = Trim(data);
    if (!data.empty() && data[0] == '"') {
        size_t p = 1;
        std::string text;
        if (!ReadQuoted(data, p, text) || !Trim(data.substr(p)).empty()) return false;
        value.type = kRegSz;
        value.data = text;
        value.data += '\0';
        return true;
    }
    if (StartsWithNoCase(data, "dword:")) {
        std::string_view digits = Trim(data.substr(6));
        if (digits.empty() || digits.size() > 8) return false;
        for (char c : digits)
            if (!isxdigit((unsigned char)c)) return false;
        const uint32_t n = (uint32_t)strtoul(std::string(digits).c_str(), nullptr, 16);
        value.type = kRegDword;
        value.data.assign(4, '\0');
        for (int i = 0; i < 4; ++i) value.data[i] = (char)((n >> (8 * i)) & 0xFF);
        return true;
    }
    if (StartsWithNoCase(data, "hex")) {
        std::string_view rest = data.substr(3);
        uint32_t type = kRegBinary;
        if (!rest.empty() && rest[0] == '(') {
            const size_t close = rest.find(')');
            if (close == std::string_view::npos || close == 1) return false;
            const std::string number(rest.substr(1, close - 1));
            char* end = nullptr;
            type = (uint32_t)strtoul(number.c_str(), &end, 16);
            if (*end) return false;
            rest = rest.substr(close + 1);
        }
        if (rest.empty() || rest[0] != ':') return false;
        std::string bytes;
        if (!ParseHexBytes(rest.substr(1), bytes)) return false;
        if (utf16File && (type == kRegExpandSz || type == kRegMultiSz)) bytes = Utf16ToGbk(bytes);
        value.type = type;
        value.data = std::move(bytes);
        return true;
    }
    return false;
}

struct LoadReport {
    int badLines = 0;
    int firstBadLine = 0;
    std::string firstBadText;
};

// Loads one file's text into the tree.
void LoadText(Tree& tree, std::string text, LoadReport& report) {
    bool utf16 = false;
    if (text.compare(0, 2, "\xFF\xFE") == 0) {
        text = Utf16ToGbk(std::string_view(text).substr(2));
        utf16 = true;
    } else if (text.size() >= 3 && text.compare(0, 3, "\xEF\xBB\xBF") == 0) {
        text = Utf8ToGbk(std::string_view(text).substr(3));
    }
    auto bad = [&](int line, std::string_view what) {
        if (report.badLines++ == 0) {
            report.firstBadLine = line;
            report.firstBadText = std::string(what.substr(0, 80));
        }
    };
    Key* current = nullptr;  // null: before the first key, or in a deleted key
    bool keyLineSeen = false;
    bool headerSeen = false;
    size_t at = 0;
    int lineNumber = 0;
    while (at < text.size()) {
        // One logical line: a line ending in '\' goes on in the next one.
        std::string line;
        const int firstLine = lineNumber + 1;
        for (;;) {
            size_t end = text.find('\n', at);
            if (end == std::string::npos) end = text.size();
            std::string_view piece = Trim(std::string_view(text).substr(at, end - at));
            at = end + 1;
            ++lineNumber;
            if (!line.empty()) piece = Trim(piece);
            if (!piece.empty() && piece.back() == '\\' && at < text.size() && line.size() < (1u << 20)) {
                line.append(piece.data(), piece.size() - 1);
                continue;
            }
            line.append(piece.data(), piece.size());
            break;
        }
        std::string_view l = line;
        if (l.empty() || l[0] == ';') continue;
        if (!headerSeen) {
            headerSeen = true;
            if (l == "REGEDIT4" || StartsWithNoCase(l, "Windows Registry Editor Version")) continue;
            bad(firstLine, l);
        }
        if (l[0] == '[') {
            keyLineSeen = true;
            current = nullptr;
            if (l.back() != ']') {
                bad(firstLine, l);
                continue;
            }
            std::string_view name = l.substr(1, l.size() - 2);
            const bool remove = !name.empty() && name[0] == '-';
            if (remove) name.remove_prefix(1);
            uint32_t root;
            std::vector<std::string> parts;
            if (!ParseKeyName(name, root, parts)) {
                bad(firstLine, l);
                continue;
            }
            if (remove)
                DeleteKey(tree, root, parts);
            else
                current = &MakeKey(tree, root, parts);
            continue;
        }
        std::string name;
        size_t p = 0;
        if (l[0] == '@') {
            p = 1;
        } else if (l[0] == '"') {
            p = 1;
            if (!ReadQuoted(l, p, name)) {
                bad(firstLine, l);
                continue;
            }
        } else {
            bad(firstLine, l);
            continue;
        }
        while (p < l.size() && (l[p] == ' ' || l[p] == '\t')) ++p;
        if (p >= l.size() || l[p] != '=') {
            bad(firstLine, l);
            continue;
        }
        std::string_view data = Trim(l.substr(p + 1));
        if (!current) {
            if (!keyLineSeen) bad(firstLine, l);
            continue;
        }
        if (data == "-") {
            DeleteValue(*current, name);
            continue;
        }
        RegistryValue value;
        if (!ParseData(data, utf16, value)) {
            bad(firstLine, l);
            continue;
        }
        SetValue(*current, name, std::move(value));
    }
}

// ---- sources ----

struct Source {
    std::string path;
    int64_t stamp = 0;
    int64_t size = 0;
    bool operator==(const Source& o) const { return path == o.path && stamp == o.stamp && size == o.size; }
};

bool EndsWithReg(const std::string& name) {
    return name.size() > 4 && strcasecmp(name.c_str() + name.size() - 4, ".reg") == 0;
}

void AddSource(std::vector<Source>& list, const std::string& path) {
    struct stat info;
    if (stat(path.c_str(), &info) != 0) return;
    if (S_ISDIR(info.st_mode)) {
        std::vector<std::string> names;
        if (DIR* dir = opendir(path.c_str())) {
            while (dirent* entry = readdir(dir))
                if (EndsWithReg(entry->d_name)) names.push_back(entry->d_name);
            closedir(dir);
        }
        std::sort(names.begin(), names.end());
        const std::string base = path.back() == '/' ? path : path + "/";
        for (const std::string& n : names) {
            struct stat file;
            if (stat((base + n).c_str(), &file) == 0 && S_ISREG(file.st_mode))
                list.push_back({base + n, (int64_t)file.st_mtim.tv_sec * 1000000000 + file.st_mtim.tv_nsec,
                                (int64_t)file.st_size});
        }
        return;
    }
    list.push_back({path, (int64_t)info.st_mtim.tv_sec * 1000000000 + info.st_mtim.tv_nsec, (int64_t)info.st_size});
}

std::vector<Source> CurrentSources() {
    std::vector<Source> list;
    if (const char* env = getenv("QO_REGISTRY"); env && *env) {
        AddSource(list, env);
        return list;
    }
    AddSource(list, "/etc/qotool/");
    std::string user;
    if (const char* xdg = getenv("XDG_CONFIG_HOME"); xdg && *xdg)
        user = xdg;
    else if (const char* home = getenv("HOME"); home && *home)
        user = std::string(home) + "/.config";
    if (!user.empty()) AddSource(list, user + "/qotool/");
    return list;
}

void DropProblem(const char*, const char*, const char*) {}

std::atomic<RegistryReporter> g_reporter{DropProblem};

void Report(const char* message, const char* text1, const char* text2) {
    g_reporter.load(std::memory_order_acquire)(message, text1, text2);
}

struct Store {
    std::mutex lock;
    std::vector<std::pair<std::string, std::string>> pending;  // load problems not yet reported
    std::vector<Source> sources;
    bool loaded = false;
    Tree tree;
};

Store& TheStore() {
    static Store* store = new Store();
    return *store;
}

void Load(Store& store, std::vector<Source> sources) {
    store.tree = Tree{};
    for (uint32_t root : {kClassesRoot, kCurrentUser, kLocalMachine, kUsers, kCurrentConfig})
        store.tree.keys[RootPrefix(root)];
    for (const Source& source : sources) {
        std::string text;
        FILE* f = fopen(source.path.c_str(), "rb");
        if (!f) continue;
        char buf[65536];
        size_t n;
        while ((n = fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
        fclose(f);
        LoadReport report;
        LoadText(store.tree, std::move(text), report);
        if (report.badLines > 0) {
            char where[64];
            snprintf(where, sizeof where, "（第%d行，共%d处）", report.firstBadLine, report.badLines);
            std::string file = source.path;
            if (IsUtf8WithNonAscii(file)) file = Utf8ToGbk(file);
            const std::string text1 = file + where;
            store.pending.push_back({text1, report.firstBadText});
        }
    }
    store.sources = std::move(sources);
    store.loaded = true;
}

// The store, loaded from the current files; the caller holds the lock.
Tree& Current(Store& store) {
    std::vector<Source> sources = CurrentSources();
    if (!store.loaded || !(sources == store.sources)) Load(store, std::move(sources));
    return store.tree;
}

const Key* FindKey(Tree& tree, uint32_t root, std::string_view keyPath) {
    if (!IsRoot(root)) return nullptr;
    const std::vector<std::string> parts = Components(keyPath);
    auto found = tree.keys.find(FoldedPath(root, parts, parts.size()));
    return found == tree.keys.end() ? nullptr : &found->second;
}

// ---- the virtual key of installed ODBC drivers ----

// HKEY_LOCAL_MACHINE\SOFTWARE\ODBC\ODBCINST.INI\ODBC Drivers names each
// driver unixODBC's installer knows as a text value "Installed", read when
// a query reaches the key (or lists its way to it). Without unixODBC it
// adds nothing. Values the files give there stay and come first.
constexpr const char* kOdbcDriversPath[] = {"SOFTWARE", "ODBC", "ODBCINST.INI", "ODBC Drivers"};
constexpr int kOdbcDriversDepth = 4;

struct VirtualPart {
    int depth = -1;  // components of the query along the key's path; -1: off it
    bool present = false;
    std::vector<std::string> drivers;
};

// Asked before the store's lock is taken: the installer may be slow.
VirtualPart VirtualPartOf(uint32_t root, std::string_view keyPath) {
    VirtualPart part;
    if (root != kLocalMachine) return part;
    const std::vector<std::string> parts = Components(keyPath);
    if (parts.size() > (size_t)kOdbcDriversDepth) return part;
    for (size_t i = 0; i < parts.size(); ++i)
        if (Upper(parts[i]) != Upper(kOdbcDriversPath[i])) return part;
    part.depth = (int)parts.size();
    part.present = ListInstalledOdbcDrivers(part.drivers);
    return part;
}

// The key as a query sees it: the files' key, with the virtual part laid
// over it in scratch.
const Key* Resolve(const Key* key, const VirtualPart& part, Key& scratch) {
    if (part.depth < 0 || !part.present) return key;
    scratch = key ? *key : Key{};
    if (part.depth < kOdbcDriversDepth) {
        const std::string next = Upper(kOdbcDriversPath[part.depth]);
        bool listed = false;
        for (const std::string& name : scratch.subkeys) listed = listed || Upper(name) == next;
        if (!listed) scratch.subkeys.push_back(kOdbcDriversPath[part.depth]);
        return &scratch;
    }
    for (const std::string& driver : part.drivers) {
        const std::string folded = Upper(driver);
        bool given = false;
        for (const auto& entry : scratch.values) given = given || Upper(entry.first) == folded;
        if (!given) scratch.values.emplace_back(driver, RegistryValue{kRegSz, std::string("Installed", 10)});
    }
    return &scratch;
}

// Holds the store's lock; load problems are reported after it is released,
// so that a reporter may query the store again.
class Hold {
public:
    explicit Hold(Store& store) : store_(store) { store_.lock.lock(); }
    ~Hold() {
        std::vector<std::pair<std::string, std::string>> problems;
        problems.swap(store_.pending);
        store_.lock.unlock();
        for (const auto& problem : problems) {
            try {
                Report("注册表文件有语法错误，已略过错误行：", problem.first.c_str(), problem.second.c_str());
            } catch (...) {
            }
        }
    }
    Hold(const Hold&) = delete;
    Hold& operator=(const Hold&) = delete;

private:
    Store& store_;
};

}  // namespace

bool RegistryKeyExists(uint32_t root, std::string_view keyPath) {
    const VirtualPart part = VirtualPartOf(root, keyPath);
    Store& store = TheStore();
    Hold hold(store);
    Key scratch;
    return Resolve(FindKey(Current(store), root, keyPath), part, scratch) != nullptr;
}

RegistryStatus RegistryQueryValue(uint32_t root, std::string_view keyPath, std::string_view valueName,
                                  RegistryValue& value, size_t bufferBytes) {
    const VirtualPart part = VirtualPartOf(root, keyPath);
    Store& store = TheStore();
    Hold hold(store);
    Key scratch;
    const Key* key = Resolve(FindKey(Current(store), root, keyPath), part, scratch);
    if (!key) return RegistryStatus::kNoKey;
    const std::string folded = Upper(valueName);
    for (const auto& entry : key->values) {
        if (Upper(entry.first) != folded) continue;
        value.type = entry.second.type;
        if (bufferBytes > 0 && entry.second.data.size() > bufferBytes) {
            value.data.clear();
            return RegistryStatus::kMoreData;
        }
        value.data = entry.second.data;
        return RegistryStatus::kOk;
    }
    return RegistryStatus::kNoValue;
}

namespace {

// Runs use(key) on the key at keyPath under the store's lock; false when
// there is no such key.
template <typename Use>
bool WithKey(uint32_t root, std::string_view keyPath, Use use) {
    const VirtualPart part = VirtualPartOf(root, keyPath);
    Store& store = TheStore();
    Hold hold(store);
    Key scratch;
    const Key* key = Resolve(FindKey(Current(store), root, keyPath), part, scratch);
    if (!key) return false;
    use(*key);
    return true;
}

}  // namespace

bool RegistrySubkeys(uint32_t root, std::string_view keyPath, std::vector<std::string>& names) {
    names.clear();
    return WithKey(root, keyPath, [&](const Key& key) { names = key.subkeys; });
}

bool RegistryValueNames(uint32_t root, std::string_view keyPath, std::vector<std::string>& names) {
    names.clear();
    return WithKey(root, keyPath, [&](const Key& key) {
        for (const auto& entry : key.values) names.push_back(entry.first);
    });
}

RegistryReporter SetRegistryReporter(RegistryReporter reporter) {
    return g_reporter.exchange(reporter ? reporter : DropProblem, std::memory_order_acq_rel);
}

void ReloadRegistry() {
    Store& store = TheStore();
    Hold hold(store);
    Load(store, CurrentSources());
}

}  // namespace qotool::platform
