#include "platform/paths.h"

#include <dirent.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <vector>

#include "platform/encoding.h"

namespace qotool::platform {

namespace {

bool FileSystemIsGbk() {
    const char* value = getenv("QO_FS_ENCODING");
    if (!value || !*value) return false;
    for (const char* name : {"gbk", "cp936", "gb2312", "gb18030"})
        if (strcasecmp(value, name) == 0) return true;
    return false;
}

bool HasHighBytes(std::string_view s) {
    for (char c : s)
        if ((unsigned char)c >= 0x80) return true;
    return false;
}

// One component in the file system's encoding.
std::string OsComponent(std::string_view name, bool gbk) {
    if (gbk || !HasHighBytes(name)) return std::string(name);
    std::string utf8 = GbkToUtf8(name, false);
    // Bytes that are not GBK go unchanged rather than as '?'.
    if (Utf8ToGbk(utf8) != name) return std::string(name);
    return utf8;
}

// Components of the path at and after `from`, split at separators.
std::vector<std::string_view> Split(std::string_view path, size_t from) {
    std::vector<std::string_view> parts;
    size_t start = from;
    for (size_t i = from; i < path.size(); ++i) {
        if ((unsigned char)path[i] >= 0x80 && i + 1 < path.size()) {
            ++i;
            continue;
        }
        if (IsSeparator(path[i])) {
            if (i > start) parts.push_back(path.substr(start, i - start));
            start = i + 1;
        }
    }
    if (start < path.size()) parts.push_back(path.substr(start));
    return parts;
}

// Equal without regard to ASCII letter case; a GBK name's trail bytes
// compare exactly.
bool SameNoCase(std::string_view a, std::string_view b, bool gbk) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        unsigned char x = (unsigned char)a[i], y = (unsigned char)b[i];
        if (gbk && x >= 0x80 && i + 1 < a.size()) {
            if (x != y || a[i + 1] != b[i + 1]) return false;
            ++i;
            continue;
        }
        if (tolower(x) != tolower(y)) return false;
    }
    return true;
}

bool Exists(const std::string& path) {
    struct stat info;
    return lstat(path.c_str(), &info) == 0;
}

// The entry of folder whose name equals name without regard to case. The
// entries are read into a buffer on the stack rather than through a
// directory stream, whose 32 KiB buffer comes from the heap: every start
// makes this look-up (the message log looks for its file).
bool FindNoCase(const std::string& folder, std::string_view name, bool gbk, std::string& found) {
    const int fd = open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    alignas(dirent64) char entries[4096];
    bool hit = false;
    ssize_t size;
    while (!hit && (size = getdents64(fd, entries, sizeof entries)) > 0) {
        for (ssize_t at = 0; at < size;) {
            const dirent64* entry = reinterpret_cast<const dirent64*>(entries + at);
            if (SameNoCase(entry->d_name, name, gbk)) {
                found = entry->d_name;
                hit = true;
                break;
            }
            at += entry->d_reclen;
        }
    }
    close(fd);
    return hit;
}

// The name with its ASCII letters in lower case (a GBK name's trail bytes
// stay as they are).
std::string LowerAscii(std::string_view name, bool gbk) {
    std::string lower(name);
    for (size_t i = 0; i < lower.size(); ++i) {
        const unsigned char c = (unsigned char)lower[i];
        if (gbk && c >= 0x80) {
            ++i;
        } else if (c >= 'A' && c <= 'Z') {
            lower[i] = (char)(c - 'A' + 'a');
        }
    }
    return lower;
}

}  // namespace

std::string FileSystemName(std::string_view path, bool* missing) {
    if (missing) *missing = false;
    const bool gbk = FileSystemIsGbk();
    std::string out;
    size_t from = 0;
    if (path.size() >= 2 && path[1] == ':' && isalpha((unsigned char)path[0])) {
        const char env[] = {'Q', 'O', '_', 'D', 'R', 'I', 'V', 'E', '_', (char)toupper((unsigned char)path[0]), '\0'};
        const char* drive = getenv(env);
        out = drive && *drive ? drive : "/";
        if (out.back() != '/') out += '/';
        from = 2;
    } else if (!path.empty() && IsSeparator(path[0])) {
        out = "/";
    }
    const std::vector<std::string_view> parts = Split(path, from);
    std::vector<std::string> names;
    names.reserve(parts.size());
    for (std::string_view part : parts) names.push_back(OsComponent(part, gbk));

    std::string whole = out;
    for (size_t i = 0; i < names.size(); ++i) {
        if (i) whole += '/';
        whole += names[i];
    }
    const bool trailing = !path.empty() && path.size() > from && EndsWithSeparator(path);
    if (trailing && !names.empty()) whole += '/';
    if (names.empty() || Exists(whole)) return whole;

    // The folders as written, else all in lower case (the usual spelling
    // here), spare the walk through them when they exist.
    size_t first = 0;
    if (names.size() >= 2) {
        std::string folders = out, lower = out;
        for (size_t i = 0; i + 1 < names.size(); ++i) {
            folders += names[i] + '/';
            lower += LowerAscii(names[i], gbk) + '/';
        }
        if (Exists(folders)) {
            out = folders;
            first = names.size() - 1;
        } else if (lower != folders && Exists(lower)) {
            out = lower;
            first = names.size() - 1;
        }
    }
    // Walk the components, looking up a missing one without regard to case.
    for (size_t i = first; i < names.size(); ++i) {
        std::string next = out + names[i];
        if (names[i] != "." && names[i] != ".." && !Exists(next)) {
            // The lower-case spelling, the usual one here, is tried before the folder is read.
            std::string found = LowerAscii(names[i], gbk);
            if ((found != names[i] && Exists(out + found)) || FindNoCase(out, names[i], gbk, found)) {
                next = out + found;
            } else {
                for (size_t j = i + 1; j < names.size(); ++j) next += '/' + names[j];
                out = next;
                if (missing) *missing = true;
                break;
            }
        }
        out = next;
        if (i + 1 < names.size()) out += '/';
    }
    if (trailing) out += '/';
    return out;
}

std::string SystemNameFromOs(std::string_view name) {
    if (!FileSystemIsGbk() && IsUtf8WithNonAscii(name)) return Utf8ToGbk(name);
    return std::string(name);
}

size_t LastSeparator(std::string_view path) {
    size_t last = std::string_view::npos;
    for (size_t i = 0; i < path.size(); ++i) {
        if ((unsigned char)path[i] >= 0x80 && i + 1 < path.size()) {
            ++i;
            continue;
        }
        if (IsSeparator(path[i])) last = i;
    }
    return last;
}

bool EndsWithSeparator(std::string_view path) {
    const size_t last = LastSeparator(path);
    return last != std::string_view::npos && last + 1 == path.size();
}

std::string WithSeparator(std::string path) {
    if (path.empty() || EndsWithSeparator(path)) return path;
    const bool backslashes = (path.size() >= 2 && path[1] == ':') ||
                             (path.find('/') == std::string::npos && path.find('\\') != std::string::npos);
    path += backslashes ? '\\' : '/';
    return path;
}

std::string UpperGbk(std::string_view text) {
    std::string out(text);
    for (size_t i = 0; i < out.size(); ++i) {
        const unsigned char c = (unsigned char)out[i];
        if (c >= 0x80) {
            ++i;
        } else if (c >= 'a' && c <= 'z') {
            out[i] = (char)(c - 32);
        }
    }
    return out;
}

}  // namespace qotool::platform
