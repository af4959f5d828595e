// Directory listings by name patterns, and the file search along the
// places of a search specification.
#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/files.h"
#include "platform/module_path.h"
#include "platform/paths.h"
#include "qotool/paths.h"
#include "textutil/path_macro.h"

namespace qotool::textutil {

namespace {

using platform::IsSeparator;
using platform::UpperGbk;
using platform::WithSeparator;

size_t UnitLength(std::string_view s, size_t i) { return (unsigned char)s[i] >= 0x80 && i + 1 < s.size() ? 2 : 1; }

bool SameUnit(std::string_view a, size_t i, size_t n, std::string_view b, size_t j) {
    if (UnitLength(b, j) != n) return false;
    if (n == 2) return a[i] == b[j] && a[i + 1] == b[j + 1];
    return tolower((unsigned char)a[i]) == tolower((unsigned char)b[j]);
}

bool MatchFrom(std::string_view pattern, size_t p, std::string_view name, size_t n) {
    // Iterative match with one backtrack point for the last '*'.
    size_t starP = std::string_view::npos, starN = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            starP = ++p;
            starN = n;
            continue;
        }
        if (p < pattern.size() && (pattern[p] == '?' || SameUnit(pattern, p, UnitLength(pattern, p), name, n))) {
            const size_t step = pattern[p] == '?' ? 1 : UnitLength(pattern, p);
            n += UnitLength(name, n);
            p += step;
            continue;
        }
        if (starP == std::string_view::npos) return false;
        p = starP;
        starN += UnitLength(name, starN);
        n = starN;
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size();
}

// The entries of a directory in name order (letter case aside).
bool SortedEntries(const std::string& directory, bool fileAttributes, std::vector<platform::DirectoryEntry>& entries) {
    if (!platform::ListDirectoryEntries(directory.c_str(), fileAttributes, entries)) return false;
    std::vector<std::pair<std::string, size_t>> order;
    order.reserve(entries.size());
    for (size_t i = 0; i < entries.size(); ++i) order.emplace_back(UpperGbk(entries[i].name), i);
    std::sort(order.begin(), order.end(), [&](const auto& a, const auto& b) {
        return a.first != b.first ? a.first < b.first : entries[a.second].name < entries[b.second].name;
    });
    std::vector<platform::DirectoryEntry> sorted;
    sorted.reserve(entries.size());
    for (const auto& item : order) sorted.push_back(std::move(entries[item.second]));
    entries.swap(sorted);
    return true;
}

struct Listing {
    std::vector<std::string> patterns;
    bool subdirectories = false, first = false, readOnlyOnly = false, writableOnly = false;
    // Every directory the walk has entered, by device and inode: links and
    // mounts that lead to one of them (a loop, or many ways into one tree)
    // are not followed again, so the walk lists each directory once.
    std::set<std::pair<uint64_t, uint64_t>> visited;
};

std::string ListDirectory(Listing& listing, std::string directory) {
    while (!directory.empty() && directory.front() == ' ') directory.erase(0, 1);
    while (!directory.empty() && directory.back() == ' ') directory.pop_back();
    directory = directory.empty() ? std::string("\\") : WithSeparator(directory);

    std::vector<platform::DirectoryEntry> entries;
    if (!SortedEntries(directory, listing.readOnlyOnly != listing.writableOnly, entries)) return std::string();

    std::string list;
    bool found = false;
    for (const std::string& pattern : listing.patterns) {
        for (const platform::DirectoryEntry& entry : entries) {
            if (entry.directory || !WildcardMatch(pattern, entry.name)) continue;
            if (listing.readOnlyOnly != listing.writableOnly && entry.readOnly != listing.readOnlyOnly) continue;
            if (!list.empty()) list += "\r\n";
            list += directory;
            list += entry.name;
            found = true;
            if (listing.first) break;
        }
        if (found && listing.first) break;
    }
    list = UpperGbk(list);

    if (!listing.subdirectories || (listing.first && found)) return list;
    std::pair<uint64_t, uint64_t> self;
    if (platform::DirectoryIdentity(directory.c_str(), self.first, self.second)) listing.visited.insert(self);
    for (const platform::DirectoryEntry& entry : entries) {
        if (!entry.directory) continue;
        if (!listing.visited.insert({entry.device, entry.inode}).second) continue;
        const std::string sublist = ListDirectory(listing, directory + entry.name);
        if (sublist.empty()) continue;
        if (!list.empty()) list += "\r\n";
        list += sublist;
        if (listing.first) break;
    }
    return list;
}

// The directories of one place letter.
std::vector<std::string> PlaceDirectories(char letter) {
    switch (toupper((unsigned char)letter)) {
    case 'A': return {platform::WorkDirectory()};
    case 'L': return {platform::SystemNameFromOs(platform::LibraryDirectory())};
    case 'C': {
        std::string current = platform::CurrentDirectory();
        if (current.empty()) return {};
        return {std::move(current)};
    }
    case 'S': return {platform::SystemDirectory()};
    case 'W': return {platform::WindowsDirectory()};
    case 'P': {
        std::vector<std::string> list;
        const char* value = getenv("ZIVavuDara");
        if (!value) return list;
        const std::string text = platform::SystemNameFromOs(value);
        size_t start = 0;
        while (start <= text.size()) {
            size_t stop = text.find_first_of(";,", start);
            if (stop == std::string::npos) stop = text.size();
            std::string entry = text.substr(start, stop - start);
            start = stop + 1;
            if (entry.size() > 260) entry.resize(260);
            if (!entry.empty()) list.push_back(UpperGbk(entry));
        }
        return list;
    }
    default: return {};
    }
}

bool EndsWithNoCase(const std::string& text, const char* tail) {
    const size_t n = strlen(tail);
    return text.size() >= n && strncasecmp(text.c_str() + text.size() - n, tail, n) == 0;
}

// The parent of a directory that ends with a separator (unchanged at the
// top).
std::string Parent(const std::string& directory) {
    const std::string inner = directory.substr(0, directory.size() - 1);
    const size_t last = platform::LastSeparator(inner);
    return last == std::string::npos ? directory : inner.substr(0, last + 1);
}

std::string SearchOne(std::string directory, std::string_view file, bool deep) {
    directory = directory.empty() ? std::string("\\") : WithSeparator(directory);
    std::string part, name(file);
    const size_t last = platform::LastSeparator(file);
    if (last != std::string::npos) {
        part = UpperGbk(file.substr(0, last + 1));
        name = std::string(file.substr(last + 1));
        if (part.size() >= 4 && EndsWithNoCase(part.substr(0, part.size() - 1), "UIT")) part.resize(part.size() - 4);
        while (part.size() >= 3 && part[0] == '.' && part[1] == '.' && IsSeparator(part[2])) {
            part.erase(0, 3);
            directory = Parent(directory);
        }
    }
    return DirectoryFiles(directory + part, name, deep ? "SF" : "");
}

}  // namespace

bool WildcardMatch(std::string_view pattern, std::string_view name) {
    if (MatchFrom(pattern, 0, name, 0)) return true;
    // "X.*" also matches "X" (so "*.*" matches every name).
    if (pattern.size() >= 2 && pattern.substr(pattern.size() - 2) == ".*")
        return MatchFrom(pattern.substr(0, pattern.size() - 2), 0, name, 0);
    return false;
}

std::string DirectoryFiles(std::string_view directory, std::string_view patterns, std::string_view options) {
    Listing listing;
    listing.subdirectories = options.find('S') != std::string_view::npos;
    listing.first = options.find('F') != std::string_view::npos;
    listing.readOnlyOnly = options.find('R') != std::string_view::npos;
    listing.writableOnly = options.find('W') != std::string_view::npos;
    size_t start = 0;
    while (start <= patterns.size()) {
        size_t stop = patterns.find_first_of(";,", start);
        if (stop == std::string_view::npos) stop = patterns.size();
        if (stop > start) listing.patterns.emplace_back(patterns.substr(start, stop - start));
        start = stop + 1;
    }
    return ListDirectory(listing, std::string(directory));
}

std::string SearchFileByPath(std::string_view file, std::string_view spec) {
    if (file.empty() || IsSeparator(file[0]) || (file.size() >= 2 && file[1] == ':')) return std::string(file);
    if (spec.empty()) spec = "AlCswP";
    for (char letter : spec) {
        if (!isalpha((unsigned char)letter)) continue;
        const bool deep = isupper((unsigned char)letter);
        for (const std::string& directory : PlaceDirectories(letter)) {
            std::string hit = SearchOne(directory, file, deep);
            if (!hit.empty()) return hit;
        }
    }
    return std::string(file);
}

}  // namespace qotool::textutil

CString ruqo_SearchFileByPath(const char* file, const char* spec) {
    try {
        const std::string hit = qotool::textutil::SearchFileByPath(file ? file : "", spec ? spec : "");
        return CString(hit.data(), (int)hit.size());
    } catch (...) {
        return CString(file ? file : "");
    }
}

CString ruqo_GetDirectoyFiles(CString directory, CString patterns, CString options) {
    try {
        const std::string list = qotool::textutil::DirectoryFiles(directory.view(), patterns.view(), options.view());
        return CString(list.data(), (int)list.size());
    } catch (...) {
        return CString();
    }
}
