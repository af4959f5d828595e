#include "platform/number_text.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <random>
#include <string>

using namespace qotool::platform;

namespace {

std::string Format(double v) {
    char buf[32];
    return std::string(buf, (size_t)FormatNumber15(v, buf));
}

std::string Printf15(double v) {
    char buf[64];
    snprintf(buf, sizeof buf, "%.15g", v);
    return buf;
}

}  // namespace

TEST(NumberTextTest, FormatMatchesPrintfOnChosenValues) {
    const double values[] = {0.0, -0.0, 1, -1, 0.1, 0.3, 1.0 / 3, 1e15, 1e15 - 1, -1e15 + 1, 999999999999999.0,
                             1e16, 123456789012345678.0, 1e20, 1e-5, 1.5e-7, 5e-324, 1.7976931348623157e308,
                             2147483648.0, -2147483649.0, 4294967295.0, 0.5, 100, 1e21, 1e22};
    for (double v : values) EXPECT_EQ(Format(v), Printf15(v)) << v;
}

TEST(NumberTextTest, ExponentAndSpecialForms) {
    EXPECT_EQ(Format(std::numeric_limits<double>::quiet_NaN()).find("nan") != std::string::npos, true);
    EXPECT_EQ(Format(-std::numeric_limits<double>::infinity()), "-inf");
}

TEST(NumberTextTest, FormatAndParseAgreeWithTheCLibraryOnRandomValues) {
    std::mt19937_64 rng(12345);
    std::uniform_int_distribution<int> exponent(-30, 30);
    std::uniform_real_distribution<double> mantissa(-10, 10);
    for (int i = 0; i < 20000; ++i) {
        // Every third value is a whole number of 1 to 15 digits.
        double v = i % 3 == 0 ? (double)(int64_t)(mantissa(rng) * std::pow(10.0, i % 15)) : mantissa(rng) * std::pow(10.0, exponent(rng));
        std::string text = Printf15(v);
        ASSERT_EQ(Format(v), text) << v;
        ASSERT_EQ(ParseDouble(text.c_str()), strtod(text.c_str(), nullptr)) << text;
    }
}

TEST(NumberTextTest, ParseFollowsAtofForDecimalTextOnly) {
    struct Case {
        const char* text;
        double expected;
        int consumed;
    } cases[] = {
        {"12abc", 12, 2},       {"  -3.5e2x", -350, 8}, {"abc", 0, 0},        {"", 0, 0},
        {".5", 0.5, 2},         {"5.", 5, 2},           {"1e", 1, 1},         {"1e+", 1, 1},
        {"0x10", 0, 1},         {"inf", 0, 0},          {"nan", 0, 0},        {"+7", 7, 2},
        {"-", 0, 0},            {".", 0, 0},            {"00012.500", 12.5, 9},
        {"123456789012345678901234", 123456789012345678901234.0, 24},
        {"0.1000000000000000055511151231257827", 0.1, 36},
    };
    for (const Case& c : cases) {
        const char* end = nullptr;
        EXPECT_EQ(ParseDouble(c.text, &end), c.expected) << c.text;
        EXPECT_EQ(end - c.text, c.consumed) << c.text;
    }
    EXPECT_TRUE(std::isinf(ParseDouble("1e400")));
    EXPECT_EQ(ParseDouble("1e-400"), 0.0);
    EXPECT_TRUE(std::signbit(ParseDouble("-0")));
}

TEST(NumberTextTest, Int64AndPointerNarrowing) {
    EXPECT_EQ(ParseInt64(" -42x"), -42);
    EXPECT_EQ(ParseInt64("99999999999999999999"), INT64_MAX);
    EXPECT_EQ(ParseInt64("-99999999999999999999"), INT64_MIN);
    EXPECT_EQ(NarrowPointer(-1), (uintptr_t)0xFFFFFFFFu);
    EXPECT_EQ(NarrowPointer(4294967295LL), (uintptr_t)0xFFFFFFFFu);
    EXPECT_EQ(NarrowPointer(0x7f0012345678LL), (uintptr_t)0x7f0012345678LL);
    EXPECT_EQ(SignedPointer(0xFFFFFFFFu), -1);
    EXPECT_EQ(SignedPointer((uintptr_t)0x7f0012345678LL), 0x7f0012345678LL);
    EXPECT_EQ(TruncToInt64(-2.9), -2);
    EXPECT_EQ(TruncToInt64(std::nan("")), 0);
}
