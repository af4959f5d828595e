#include "platform/ini_file.h"

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "platform/file_io.h"

namespace qotool::platform {

namespace {

struct Line {
    size_t begin;    // first byte of the line
    size_t content;  // end of the content (before CR/LF)
    size_t end;      // past the line end
};

std::vector<Line> SplitLines(std::string_view text) {
    std::vector<Line> lines;
    size_t i = 0;
    while (i < text.size()) {
        size_t j = text.find('\n', i);
        size_t next = j == std::string_view::npos ? text.size() : j + 1;
        size_t content = j == std::string_view::npos ? text.size() : j;
        if (content > i && text[content - 1] == '\r') --content;
        lines.push_back({i, content, next});
        i = next;
    }
    return lines;
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
    return s;
}

// Equal names: ASCII letters fold, the two bytes of a GBK character
// compare exactly (a trail byte is never folded).
bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        unsigned char x = (unsigned char)a[i], y = (unsigned char)b[i];
        if (x >= 0x80 && i + 1 < a.size()) {
            if (x != y || a[i + 1] != b[i + 1]) return false;
            ++i;
            continue;
        }
        if (x >= 'A' && x <= 'Z') x = (unsigned char)(x | 0x20);
        if (y >= 'A' && y <= 'Z') y = (unsigned char)(y | 0x20);
        if (x != y) return false;
    }
    return true;
}

// The section name of a "[name]" line, or false.
bool SectionName(std::string_view line, std::string_view& name) {
    line = Trim(line);
    if (line.empty() || line.front() != '[') return false;
    line.remove_prefix(1);
    // The first "]" that is not the trail byte of a two-byte character.
    size_t close = 0;
    while (close < line.size() && line[close] != ']')
        close += ((unsigned char)line[close] >= 0x80 && close + 1 < line.size()) ? 2 : 1;
    name = Trim(line.substr(0, close));
    return true;
}

// The key and value of a "key=value" line, or false.
bool KeyValue(std::string_view line, std::string_view& key, std::string_view& value) {
    size_t eq = line.find('=');
    if (eq == std::string_view::npos) return false;
    key = Trim(line.substr(0, eq));
    value = Trim(line.substr(eq + 1));
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
    return !key.empty();
}

// Lines [first, last) of the section's body, or false.
bool FindSection(std::string_view text, const std::vector<Line>& lines, std::string_view section, size_t& first,
                 size_t& last) {
    for (size_t i = 0; i < lines.size(); ++i) {
        std::string_view name;
        if (!SectionName(text.substr(lines[i].begin, lines[i].content - lines[i].begin), name)) continue;
        if (!SameName(name, Trim(section))) continue;
        first = i + 1;
        last = first;
        while (last < lines.size()) {
            std::string_view ignored;
            if (SectionName(text.substr(lines[last].begin, lines[last].content - lines[last].begin), ignored)) break;
            ++last;
        }
        return true;
    }
    return false;
}

}  // namespace

std::string ProfileTextRead(std::string_view text, std::string_view section, std::string_view key,
                            std::string_view fallback, bool* found) {
    if (found) *found = false;
    const std::vector<Line> lines = SplitLines(text);
    size_t first = 0, last = 0;
    if (FindSection(text, lines, section, first, last)) {
        for (size_t i = first; i < last; ++i) {
            std::string_view k, v;
            if (!KeyValue(text.substr(lines[i].begin, lines[i].content - lines[i].begin), k, v)) continue;
            if (!SameName(k, Trim(key))) continue;
            if (found) *found = true;
            return std::string(v);
        }
    }
    return std::string(fallback);
}

std::string ProfileTextWrite(std::string_view text, std::string_view section, std::string_view key,
                             const char* value) {
    const std::vector<Line> lines = SplitLines(text);
    std::string entry;
    if (value) {
        entry.append(Trim(key));
        entry += '=';
        entry += value;
        entry += "\r\n";
    }
    size_t first = 0, last = 0;
    if (!FindSection(text, lines, section, first, last)) {
        if (!value) return std::string(text);
        std::string out(text);
        if (!out.empty() && out.back() != '\n') out += "\r\n";
        out += '[';
        out.append(Trim(section));
        out += "]\r\n";
        out += entry;
        return out;
    }
    for (size_t i = first; i < last; ++i) {
        std::string_view k, v;
        if (!KeyValue(text.substr(lines[i].begin, lines[i].content - lines[i].begin), k, v)) continue;
        if (!SameName(k, Trim(key))) continue;
        std::string out(text.substr(0, lines[i].begin));
        if (value) {
            // The key keeps its spelling in the file.
            out.append(k);
            out += '=';
            out += value;
            out += "\r\n";
        }
        out.append(text.substr(lines[i].end));
        return out;
    }
    if (!value) return std::string(text);
    // A new key goes after the section's last non-blank line.
    size_t at = first;
    for (size_t i = first; i < last; ++i)
        if (!Trim(text.substr(lines[i].begin, lines[i].content - lines[i].begin)).empty()) at = i + 1;
    size_t offset = at < lines.size() ? lines[at].begin : text.size();
    std::string out(text.substr(0, offset));
    if (!out.empty() && out.back() != '\n') out += "\r\n";
    out += entry;
    out.append(text.substr(offset));
    return out;
}

std::string ReadProfileString(const char* path, std::string_view section, std::string_view key,
                              std::string_view fallback) {
    std::string content;
    if (!path || !ReadWholeFile(path, content)) return std::string(fallback);
    return ProfileTextRead(content, section, key, fallback);
}

int ReadProfileInt(const char* path, std::string_view section, std::string_view key, int fallback) {
    std::string content;
    if (!path || !ReadWholeFile(path, content)) return fallback;
    bool found = false;
    std::string value = ProfileTextRead(content, section, key, "", &found);
    if (!found) return fallback;
    const char* p = value.c_str();
    char* end = nullptr;
    long n = strtol(p, &end, 10);
    if (end == p) return fallback;
    return (int)n;
}

bool WriteProfileString(const char* path, std::string_view section, std::string_view key, const char* value) {
    if (!path) return false;
    std::string content;
    ReadWholeFile(path, content);
    std::string out = ProfileTextWrite(content, section, key, value);
    if (out == content && !content.empty()) return true;
    FILE* f = OpenFile(path, "wb");
    if (!f) return false;
    bool ok = fwrite(out.data(), 1, out.size(), f) == out.size();
    ok = fclose(f) == 0 && ok;
    return ok;
}

}  // namespace qotool::platform
