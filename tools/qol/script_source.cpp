#include "script_source.h"

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

}  // namespace qol
