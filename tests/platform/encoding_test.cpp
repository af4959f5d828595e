// GBK <-> UTF-8 conversion at the edges. Narrow literals in this file are
// GBK (the build's execution charset); u8 literals are UTF-8.
#include "platform/encoding.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/temp_env.h"

namespace qotool::platform {
namespace {

struct GbkCase {
    const char* name;
    std::string gbk;
    std::string plain;    // escapeBad = false
    std::string escaped;  // escapeBad = true
};

TEST(GbkToUtf8Test, ConvertsAndMarksBadBytes) {
    const std::vector<GbkCase> cases = {
        {"empty", "", "", ""},
        {"ascii", "abc 123", "abc 123", "abc 123"},
        {"chinese", "中文", u8"中文", u8"中文"},
        {"trail byte is a backslash", "誠\\", u8"誠\\", u8"誠\\"},
        {"trail byte is @", "丂@", u8"丂@", u8"丂@"},
        {"embedded zero", std::string("a\0b", 3), std::string("a\0b", 3), std::string("a\0b", 3)},
        {"unmapped two-byte code", "x\xAA\xA1" "y", "x??y", "x\\xAA\\xA1y"},
        {"byte GBK does not use", "\xFF", "?", "\\xFF"},
        {"trail byte is a letter", "\x81" "A", u8"丄", u8"丄"},
        {"lead byte before a blank", "\x81" " x", "? x", "\\x81 x"},
        {"lead byte at the end", "a\x81", "a?", "a\\x81"},
        {"bad byte between characters", "中\xFF" "文", u8"中?文", u8"中\\xFF文"},
    };
    for (const GbkCase& c : cases) {
        EXPECT_EQ(GbkToUtf8(c.gbk, false), c.plain) << c.name;
        EXPECT_EQ(GbkToUtf8(c.gbk, true), c.escaped) << c.name;
    }
}

struct Utf8Case {
    const char* name;
    std::string utf8;
    std::string gbk;
};

TEST(Utf8ToGbkTest, ConvertsAndMarksBadInput) {
    const std::vector<Utf8Case> cases = {
        {"empty", "", ""},
        {"ascii", "a;b{c}", "a;b{c}"},
        {"chinese", u8"中文", "中文"},
        {"embedded zero", std::string("a\0b", 3), std::string("a\0b", 3)},
        {"character without GBK form is one ?", u8"a😀b", "a?b"},
        {"malformed byte", "\xC3(", "?("},
        {"truncated sequence at the end", "ok\xE4\xB8", "ok??"},
        {"encoded surrogate", "\xED\xA0\x80", "???"},
    };
    for (const Utf8Case& c : cases) {
        EXPECT_EQ(Utf8ToGbk(c.utf8), c.gbk) << c.name;
    }
}

TEST(EncodingRoundTripTest, EveryMappedTwoByteCodeSurvives) {
    int mapped = 0;
    for (int lead = 0x81; lead <= 0xFE; ++lead) {
        for (int trail = 0x40; trail <= 0xFE; ++trail) {
            if (trail == 0x7F) continue;
            const std::string gbk{static_cast<char>(lead), static_cast<char>(trail)};
            const std::string utf8 = GbkToUtf8(gbk, false);
            if (utf8 == "??") continue;  // no Unicode form
            ++mapped;
            ASSERT_TRUE(IsUtf8WithNonAscii(utf8)) << lead << " " << trail;
            ASSERT_EQ(Utf8ToGbk(utf8), gbk) << lead << " " << trail;
        }
    }
    EXPECT_GT(mapped, 21000);  // GBK maps 21886 two-byte codes
}

TEST(IsUtf8WithNonAsciiTest, AcceptsOnlyWellFormedNonAscii) {
    const struct {
        const char* name;
        std::string text;
        bool expected;
    } cases[] = {
        {"empty", "", false},
        {"ascii only", "'ab' 12", false},
        {"chinese", u8"'中文'", true},
        {"four-byte character", u8"x😀", true},
        {"highest code point", "\xF4\x8F\xBF\xBF", true},
        {"gbk bytes", "'中文'", false},
        {"overlong slash", "\xC0\xAF", false},
        {"overlong three-byte", "\xE0\x80\xAF", false},
        {"surrogate", "\xED\xA0\x80", false},
        {"above U+10FFFF", "\xF4\x90\x80\x80", false},
        {"truncated", "\xE4\xB8", false},
        {"lone continuation byte", "a\x80", false},
        {"valid then invalid", u8"中" "\xFF", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(IsUtf8WithNonAscii(c.text), c.expected) << c.name;
    }
}

TEST(EnvironmentIsUtf8Test, FirstNonEmptyVariableDecides) {
    const struct {
        const char* all;
        const char* ctype;
        const char* lang;
        bool expected;
    } cases[] = {
        {"C.UTF-8", nullptr, nullptr, true},
        {nullptr, nullptr, "en_US.utf8", true},
        {"", "", "zh_CN.Utf-8", true},
        {nullptr, "zh_CN.UTF8", "C", true},
        {"C", nullptr, "en_US.UTF-8", false},
        {nullptr, "zh_CN.GBK", "en_US.UTF-8", false},
        {nullptr, nullptr, "POSIX", false},
        {nullptr, nullptr, nullptr, false},
        {"", "", "", false},
    };
    for (const auto& c : cases) {
        test::EnvironmentVariable all("LC_ALL", c.all), ctype("LC_CTYPE", c.ctype), lang("LANG", c.lang);
        EXPECT_EQ(EnvironmentIsUtf8(), c.expected)
            << (c.all ? c.all : "-") << " " << (c.ctype ? c.ctype : "-") << " "
            << (c.lang ? c.lang : "-");
    }
}

}  // namespace
}  // namespace qotool::platform
