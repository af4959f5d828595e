// The interpreter's value (type letter, number, string, pointer with its
// extended type, error text), its conversions, and the error report with its
// position text and source excerpt.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "engine/run_context.h"
#include "qotool/qolanguage.h"
#include "support/gbk_text.h"

namespace {

using qotool::engine::LevelGuard;
using qotool::test::Gbk;

// ---- value to text ----

TEST(GetValueStringTest, LengthFormReportsBytesAndKeepsZeroBytes) {
    CQoLanguage qo;
    const char bytes[] = {'a', 'b', 0, 'c', 'd'};
    qo.m_cType = 'S';
    EXPECT_EQ(qo.SetValueString(bytes, 5), bytes);
    int length = -1;
    const char* text = qo.GetValueString(length);
    EXPECT_EQ(length, 5);
    EXPECT_EQ(std::string(text, 5), std::string(bytes, 5));

    // Another type: its text goes into the string member.
    qo.m_cType = 'N';
    qo.m_dValue = 0.25;
    text = qo.GetValueString(length);
    EXPECT_EQ(length, 4);
    EXPECT_STREQ(text, "0.25");
    EXPECT_EQ(Gbk(qo.ValueString(nullptr)), Gbk("0.25"));
    // ValueString stores a text it is given, and the type stays.
    EXPECT_EQ(Gbk(qo.ValueString("abc")), Gbk("abc"));
    EXPECT_EQ(Gbk(qo.m_strValue), Gbk("abc"));
    EXPECT_EQ(qo.m_cType, 'N');
}

// ---- value to number ----

TEST(GetValueNumberTest, ConvertsEveryType) {
    struct Case {
        const char* name;
        char type;
        double number;
        const char* string;
        uintptr_t pointer;
        double value;      // GetValueNumber
        double evalValue;  // the evaluator's number
    } cases[] = {
        {"number", 'N', 2.5, "", 0, 2.5, 2.5},
        {"string 12abc", 'S', 0, "12abc", 0, 12, 12},
        {"string abc", 'S', 0, "abc", 0, 0, 0},
        {"string with blanks, sign and exponent", 'S', 0, "  -3.5e1x", 0, -35, -35},
        {"string in hex reads as 0", 'S', 0, "0x10", 0, 0, 0},
        {"string inf reads as 0", 'S', 0, "inf", 0, 0, 0},
        {"no value", 'Z', 7, "7", 7, 0, 0},
        {"error", 'X', 7, "7", 7, 0, 0},
        {"small pointer", 'P', 0, "", 77, 77, 77},
        {"pointer with the top bit set", 'P', 0, "", 0xFFFFFFFFu, -1, 4294967295.0},
        {"pointer above 32 bits", 'P', 0, "", (uintptr_t)1 << 40, 1099511627776.0, 1099511627776.0},
    };
    for (const Case& c : cases) {
        CQoLanguage qo;
        qo.m_cType = c.type;
        qo.m_dValue = c.number;
        qo.SetValueString(c.string, -1);
        qo.m_pValue = c.pointer;
        EXPECT_EQ(qo.GetValueNumber(), c.value) << c.name;
        EXPECT_EQ(qo.EvalNumber(), c.evalValue) << c.name;
    }
}

// ---- setting the value ----

TEST(SetValueStringTest, StoresBytesWithoutChangingTheType) {
    struct Case {
        const char* name;
        const char* text;
        int length;
        std::string stored;
    } cases[] = {
        {"exact length with a zero byte", "ab\0cd", 5, std::string("ab\0cd", 5)},
        {"negative length: up to the zero", "ab\0cd", -1, "ab"},
        {"length zero", "abc", 0, ""},
        {"shorter length", "abc", 2, "ab"},
        {"null text", nullptr, 3, ""},
    };
    for (const Case& c : cases) {
        CQoLanguage qo;
        qo.m_cType = 'N';
        qo.SetValueString("old", -1);
        EXPECT_EQ(qo.SetValueString(c.text, c.length), c.text) << c.name;
        EXPECT_TRUE(qo.m_strValue.view() == c.stored) << c.name;
        EXPECT_EQ(qo.m_cType, 'N') << c.name;
    }
}

// ---- pointer text ----

TEST(PointerTextTest, ReadsPointersBack) {
    struct Case {
        const char* text;
        uintptr_t pointer;
        const char* extType;
        bool found;
    } cases[] = {
        {"77%dll", 77, "%dll", true},
        {"4294967295%mem", 4294967295u, "%mem", true},
        {"123", 123, "", false},
        {"%mem", 0, "%mem", true},
        {"12%func:f%x", 12, "%func:f%x", true},
        {"-1%mem", 0xFFFFFFFFu, "%mem", true},
        {"  8abc", 8, "", false},
        {"140737488355327%qol", (uintptr_t)140737488355327ULL, "%qol", true},
    };
    for (const Case& c : cases) {
        CQoLanguage qo;
        qo.SetValueType('N', "%old");
        EXPECT_EQ(qo.PointerFromText(c.text), c.found) << c.text;
        EXPECT_EQ(qo.m_cType, 'P') << c.text;
        EXPECT_EQ(qo.m_pValue, c.pointer) << c.text;
        EXPECT_STREQ(qo.GetValueExtType(), c.extType) << c.text;
    }
}

// ---- the error report ----

// A text of distinct-looking bytes, so that a piece taken from the wrong
// place does not compare equal by accident.
std::string Pattern(size_t length) {
    std::string text;
    for (size_t i = 0; i < length; ++i) text += (char)('a' + (i * 7 + i / 26) % 26);
    return text;
}

const std::string kSeparator = "\r\n∷∷∷\r\n";
const std::string kMarker = "【发生错误处】";

std::string Located(const std::string& positionText) { return "\r\n【位于】" + positionText + "：\r\n"; }

// Reports "msg" at offset of text inside a run level (no catcher active, so
// the report does not unwind) and returns the error text.
std::string ReportAt(const std::string& text, size_t offset) {
    CQoLanguage qo;
    LevelGuard guard(&qo, 'P', text.c_str());
    qo.ReportError("msg", text.c_str() + offset);
    EXPECT_EQ(qo.m_cType, 'X');
    return std::string(qo.m_strError.view());
}

TEST(ErrorExcerptTest, TheExcerptShowsTheHeadTheTailsAndTheMarker) {
    const std::string t50 = Pattern(50), t400 = Pattern(400), t500 = Pattern(500), wide = "ab中文cd";
    // A two-byte character at 199..200 and the error at 200 (its trail
    // byte): the position moves to 201, so the tail before the error is the
    // 100 bytes from 101.
    std::string split = Pattern(400);
    split[199] = '\xB0';
    split[200] = '\xA1';
    struct Case {
        std::string text;
        size_t offset;
        std::string excerpt;  // after the position text
    } cases[] = {
        {t50, 20, t50.substr(0, 20) + kMarker + t50.substr(20)},
        {t50, 0, kMarker + t50},
        {t50, 50, t50 + kMarker},
        // The head (first 99 bytes) and the tail before the error (from byte
        // 50) meet, so everything before the error is shown; after it, 99
        // bytes, the separator and the last 100 bytes.
        {t400, 150, t400.substr(0, 150) + kMarker + t400.substr(150, 99) + kSeparator + t400.substr(300)},
        {t500, 250, t500.substr(0, 99) + kSeparator + t500.substr(150, 100) + kMarker + t500.substr(250, 99) +
                        kSeparator + t500.substr(400)},
        // Near the end the rest is shown whole.
        {t400, 320, t400.substr(0, 99) + kSeparator + t400.substr(220, 100) + kMarker + t400.substr(320)},
        // The marker never splits a two-byte character.
        {wide, 3, "ab中" + kMarker + "文cd"},
        {wide, 2, "ab" + kMarker + "中文cd"},
        {split, 200, split.substr(0, 99) + kSeparator + split.substr(101, 100) + kMarker + split.substr(201)},
    };
    for (const Case& c : cases) {
        const std::string position = "〖错误位置" + std::to_string(c.offset) + "〗";
        EXPECT_EQ(Gbk(ReportAt(c.text, c.offset)), Gbk("msg" + Located(position) + c.excerpt)) << c.offset;
    }
}

// A position in a text that no level runs gets neither position text nor excerpt.
TEST(ErrorExcerptTest, APositionOutsideTheRunningTextsIsNotLocated) {
    const std::string running = "1+abc", other = "xyz";
    CQoLanguage qo;
    LevelGuard guard(&qo, 'P', running.c_str());
    qo.ReportError("msg", other.c_str() + 1);
    EXPECT_EQ(Gbk(qo.m_strError), Gbk("msg"));
}

}  // namespace
