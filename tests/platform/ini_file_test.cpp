// The profile reader and writer over texts: names fold ASCII case only,
// lines the writer does not touch keep their bytes, new lines end in CRLF.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/ini_file.h"
#include "support/gbk_text.h"

namespace qotool::platform {
namespace {

using test::Gbk;

TEST(IniFile, ReadsSectionsAndKeys) {
    const std::string text =
        "; comment\r\n[One]\r\n a = 1 \r\nB=\"quoted \"\r\n[名字]\r\n键=值\r\nx=中\\文\r\n[one]\r\na=second\n";
    struct Row {
        const char* section;
        const char* key;
        const char* expected;  // "?" when missing
    };
    const std::vector<Row> rows = {
        {"One", "a", "1"},           {"ONE", "A", "1"},        {" One ", "b", "quoted "},
        {"名字", "键", "值"},        {"名字", "x", "中\\文"},  {"One", "c", "?"},
        {"Two", "a", "?"},           {"名字", "键 ", "值"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.key);
        bool found = false;
        EXPECT_EQ(Gbk(ProfileTextRead(text, row.section, row.key, "?", &found)), Gbk(row.expected));
        EXPECT_EQ(found, std::string(row.expected) != "?");
    }
}

TEST(IniFile, WritesInPlaceAppendsAndRemoves) {
    struct Row {
        const char* title;
        const char* before;
        const char* section;
        const char* key;
        const char* value;  // null removes
        const char* after;
    };
    const std::vector<Row> rows = {
        {"new file", "", "S", "k", "v", "[S]\r\nk=v\r\n"},
        {"replace keeps other lines and the key spelling", "[S]\nk=old\r\nz=1\n", "s", "K", "新", "[S]\nk=新\r\nz=1\n"},
        {"new key after the last one", "[S]\r\na=1\r\n\r\n[T]\r\n", "S", "b", "2", "[S]\r\na=1\r\nb=2\r\n\r\n[T]\r\n"},
        {"new section at the end", "[S]\r\na=1", "T", "b", "2", "[S]\r\na=1\r\n[T]\r\nb=2\r\n"},
        {"remove", "[S]\r\na=1\r\nb=2\r\n", "S", "a", nullptr, "[S]\r\nb=2\r\n"},
        {"remove a missing key", "[S]\r\nb=2\r\n", "S", "a", nullptr, "[S]\r\nb=2\r\n"},
        {"trail byte like a bracket", "[\x81]]\r\n", "\x81]", "k", "v", "[\x81]]\r\nk=v\r\n"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.title);
        EXPECT_EQ(Gbk(ProfileTextWrite(row.before, row.section, row.key, row.value)), Gbk(row.after));
    }
}

}  // namespace
}  // namespace qotool::platform
