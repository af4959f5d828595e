#include "script_source.h"

#include <algorithm>
#include <cstdio>

#include "platform/encoding.h"

namespace qol {

void CommentOutShebang(std::string& gbk) {
    if (gbk.size() >= 2 && gbk[0] == '#' && gbk[1] == '!') {
        gbk[0] = '/';
        gbk[1] = '/';
    }
}

std::vector<TrailBackslash> FindTrailBackslashes(std::string_view gbk) {
    std::vector<TrailBackslash> found;
    int line = 1;
    for (size_t i = 0; i < gbk.size();) {
        const unsigned char c = static_cast<unsigned char>(gbk[i]);
        if (c == '\n') ++line;
        if (c >= 0x81 && c != 0xFF && i + 1 < gbk.size()) {
            if (gbk[i + 1] == '\\') found.push_back({line, c});
            i += 2;
        } else {
            ++i;
        }
    }
    return found;
}

std::string TrailBackslashWarning(const std::string& name, const TrailBackslash& found) {
    const char bytes[3] = {static_cast<char>(found.lead), '\\', 0};
    const std::string character = qotool::platform::GbkToUtf8(std::string_view(bytes, 2), true);
    char escape[16];
    std::snprintf(escape, sizeof escape, u8"\\x%02X\\x5C", found.lead);
    return name + u8":" + std::to_string(found.line) + u8": warning: '" + character + u8"' is " + escape +
           u8" in GBK; inside a string literal its second byte is a backslash that starts an escape, "
           u8"so write it there as " + escape + u8"\n";
}

OpenAtEnd FindOpenAtEnd(std::string_view gbk) {
    std::vector<size_t> open;  // the offsets of the open brackets
    const size_t n = gbk.size();
    size_t i = 0;
    auto result = [&](char what, size_t offset) {
        OpenAtEnd found;
        found.brackets = static_cast<int>(open.size());
        if (what != 0) {
            found.what = what;
            found.offset = offset;
        } else if (!open.empty()) {
            found.what = gbk[open.back()];
            found.offset = open.back();
        }
        return found;
    };
    while (i < n) {
        const unsigned char c = static_cast<unsigned char>(gbk[i]);
        if (c >= 0x80) {  // a two-byte character: its trail byte may look like a bracket
            i += 2;
        } else if (c == '\'' || c == '"') {
            const size_t start = i;
            for (++i; i < n && gbk[i] != static_cast<char>(c); ++i) {
                if (gbk[i] == '\\') ++i;
            }
            if (i >= n) return result(static_cast<char>(c), start);
            ++i;
        } else if (c == '/' && i + 1 < n && gbk[i + 1] == '/') {
            i = gbk.find('\n', i);
            if (i == std::string_view::npos) i = n;
        } else if (c == '/' && i + 1 < n && gbk[i + 1] == '*') {
            const size_t end = gbk.find("*/", i + 2);
            if (end == std::string_view::npos) return result('*', i);
            i = end + 2;
        } else {
            if (c == '(' || c == '[' || c == '{') open.push_back(i);
            if ((c == ')' || c == ']' || c == '}') && !open.empty()) open.pop_back();
            ++i;
        }
    }
    return result(0, 0);
}

std::string OpenAtEndWarning(const std::string& name, std::string_view gbk, const OpenAtEnd& open) {
    if (open.what == 0) return std::string();
    int line = 1, column = 1;
    for (size_t i = 0; i < open.offset && i < gbk.size(); ++column) {
        if (gbk[i] == '\n') {
            ++line;
            column = 0;
        }
        i += static_cast<unsigned char>(gbk[i]) >= 0x80 ? 2 : 1;
    }
    std::string what;
    if (open.what == '*')
        what = u8"the comment /* is not closed";
    else if (open.what == '\'' || open.what == '"')
        what = std::string(u8"the string literal that starts with ") + open.what + u8" is not closed";
    else
        what = std::string(u8"'") + open.what + u8"' is not closed";
    return name + u8":" + std::to_string(line) + u8":" + std::to_string(column) + u8": warning: " + what +
           u8" at the end of the script\n";
}

namespace {

// The length of the UTF-8 character at the start of text; 0 when it starts
// with a byte that is not UTF-8.
size_t Utf8CharacterLength(std::string_view text) {
    const unsigned char lead = static_cast<unsigned char>(text[0]);
    const size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
    if (length == 1) return 1;
    if (text.size() < length || !qotool::platform::IsUtf8WithNonAscii(text.substr(0, length))) return 0;
    return length;
}

}  // namespace

std::string LostCharacterWarning(const std::string& name, std::string_view utf8, std::string_view gbk,
                                 int firstLine) {
    // Each lost character or byte is one "?" more in gbk than in utf8.
    const auto marks = [](std::string_view text) { return std::count(text.begin(), text.end(), '?'); };
    const long lost = static_cast<long>(marks(gbk) - marks(utf8));
    if (lost <= 0) return std::string();
    int line = firstLine, column = 1;
    std::string what;
    for (size_t i = 0; i < utf8.size(); ++column) {
        if (utf8[i] == '\n') {
            ++line;
            column = 0;
        }
        const size_t length = Utf8CharacterLength(utf8.substr(i));
        char code[32];
        if (length == 0) {
            std::snprintf(code, sizeof code, u8"the byte \\x%02X", static_cast<unsigned char>(utf8[i]));
            what = std::string(code) + u8" is not UTF-8";
            break;
        }
        if (length > 1) {
            const std::string_view character = utf8.substr(i, length);
            if (qotool::platform::Utf8ToGbk(character) == "?") {
                unsigned long value = static_cast<unsigned char>(character[0]) & (0xFF >> (length + 1));
                for (size_t k = 1; k < length; ++k) value = value << 6 | (static_cast<unsigned char>(character[k]) & 0x3F);
                std::snprintf(code, sizeof code, u8"' (U+%04lX)", value);
                what = u8"'" + std::string(character) + code + u8" has no GBK form";
                break;
            }
        }
        i += length;
    }
    if (what.empty()) return std::string();
    std::string text = name + u8":" + std::to_string(line) + u8":" + std::to_string(column) + u8": warning: " + what +
                       u8" and became '?'";
    if (lost > 1) text += u8" (" + std::to_string(lost - 1) + (lost == 2 ? u8" more such character" : u8" more such characters") + u8" in this text)";
    return text + u8"\n";
}

}  // namespace qol
