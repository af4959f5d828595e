// Test support for GBK texts. Narrow literals in the tests are GBK (the
// build's execution charset), so expectations are written as plain literals;
// what GoogleTest prints on a failure is converted to UTF-8 here so that it
// is readable on a terminal.
#ifndef QOTOOL_TESTS_SUPPORT_GBK_TEXT_H
#define QOTOOL_TESTS_SUPPORT_GBK_TEXT_H

#include <ostream>
#include <string>
#include <string_view>

#include "qotool/cstring.h"

namespace qotool::test {

// The UTF-8 form of a GBK text, quoted, with control characters and bytes
// that do not convert written as C escapes ("\r", "\x00", "\xFF").
std::string Readable(std::string_view gbk);

// A GBK text that GoogleTest prints readably: wrap std::string expectations
// in it, e.g. EXPECT_EQ(Gbk(actual), Gbk(expected)).
struct Gbk {
    std::string bytes;
    Gbk(const char* text) : bytes(text ? text : "") {}
    Gbk(std::string text) : bytes(std::move(text)) {}
    Gbk(std::string_view text) : bytes(text) {}
    Gbk(const CString& text) : bytes(text.view()) {}
    friend bool operator==(const Gbk& a, const Gbk& b) { return a.bytes == b.bytes; }
    friend bool operator!=(const Gbk& a, const Gbk& b) { return a.bytes != b.bytes; }
};

void PrintTo(const Gbk& text, std::ostream* os);

// Number of non-overlapping occurrences of needle in text.
int CountOf(std::string_view text, std::string_view needle);
inline bool StartsWith(std::string_view text, std::string_view prefix) { return text.substr(0, prefix.size()) == prefix; }
inline bool Contains(std::string_view text, std::string_view part) { return text.find(part) != text.npos; }

}  // namespace qotool::test

// CString values in assertions print as readable UTF-8 too. (CString is in
// the global namespace, so its printer must be found there.)
void PrintTo(const CString& text, std::ostream* os);

#endif
