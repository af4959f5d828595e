#include "support/gbk_text.h"

#include <cstdio>

#include "platform/encoding.h"

namespace qotool::test {

std::string Readable(std::string_view gbk) {
    // Control bytes first, so that the converter sees only printable text.
    std::string out = "\"";
    std::string run;
    auto flush = [&] {
        out += qotool::platform::GbkToUtf8(run, true);
        run.clear();
    };
    for (char ch : gbk) {
        unsigned char c = (unsigned char)ch;
        if (c >= 0x20 && c != 0x7F && c != '"') {
            run += ch;
            continue;
        }
        flush();
        switch (c) {
        case '\r': out += "\\r"; break;
        case '\n': out += "\\n"; break;
        case '\t': out += "\\t"; break;
        case '"': out += "\\\""; break;
        default: {
            char buf[8];
            snprintf(buf, sizeof buf, "\\x%02X", c);
            out += buf;
        }
        }
    }
    flush();
    out += "\"";
    return out;
}

void PrintTo(const Gbk& text, std::ostream* os) { *os << Readable(text.bytes); }

int CountOf(std::string_view text, std::string_view needle) {
    if (needle.empty()) return 0;
    int n = 0;
    for (size_t at = text.find(needle); at != std::string_view::npos; at = text.find(needle, at + needle.size()))
        ++n;
    return n;
}

}  // namespace qotool::test

void PrintTo(const CString& text, std::ostream* os) { *os << qotool::test::Readable(text.view()); }
