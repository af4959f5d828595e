#include "qotool/cstring.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace {

std::string Bytes(const CString& s) { return std::string(s.c_str(), (size_t)s.GetLength()); }

// Every modifying member, applied to a copy, must leave the original's text
// and buffer address alone.
TEST(CStringTest, ModifyingACopyLeavesTheOriginal) {
    const std::vector<std::pair<const char*, std::function<void(CString&)>>> ops = {
        {"SetAt", [](CString& s) { s.SetAt(0, 'X'); }},
        {"+=", [](CString& s) { s += "tail"; }},
        {"+= char", [](CString& s) { s += '!'; }},
        {"MakeUpper", [](CString& s) { s.MakeUpper(); }},
        {"MakeLower", [](CString& s) { s.MakeLower(); }},
        {"TrimLeft", [](CString& s) { s.TrimLeft(); }},
        {"TrimRight", [](CString& s) { s.TrimRight(); }},
        {"Replace", [](CString& s) { s.Replace("ab", "xyz"); }},
        {"Delete", [](CString& s) { s.Delete(1, 2); }},
        {"Insert", [](CString& s) { s.Insert(2, "++"); }},
        {"GetBuffer", [](CString& s) { s.GetBuffer(0)[0] = 'Q'; }},
        {"GetBufferSetLength", [](CString& s) { s.GetBufferSetLength(3); }},
        {"ReleaseBuffer", [](CString& s) { s.ReleaseBuffer(2); }},
        {"Format", [](CString& s) { s.Format("%d", 42); }},
        {"assign", [](CString& s) { s = "other"; }},
        {"Empty", [](CString& s) { s.Empty(); }},
    };
    for (const auto& [name, op] : ops) {
        CString original(" abAB cd ");
        const char* buffer = original.c_str();
        CString copy(original);
        ASSERT_EQ(buffer, copy.c_str()) << name;
        op(copy);
        EXPECT_EQ(" abAB cd ", Bytes(original)) << name;
        EXPECT_EQ(buffer, original.c_str()) << name;
        EXPECT_NE(" abAB cd ", Bytes(copy)) << name;
    }
}

TEST(CStringTest, EmbeddedZerosSurviveEveryOperation) {
    CString s("a\0b\0c", 5);
    ASSERT_EQ(5, s.GetLength());
    EXPECT_EQ(1, s.Find('\0'));
    EXPECT_EQ(3, s.ReverseFind('\0'));
    EXPECT_EQ(2, s.Find("b"));
    EXPECT_EQ(std::string("b\0c", 3), Bytes(s.Mid(2)));
    EXPECT_EQ(std::string("\0c", 2), Bytes(s.Right(2)));
    EXPECT_EQ(std::string("a\0", 2), Bytes(s.Left(2)));

    CString t = s;
    t += CString("\0z", 2);
    EXPECT_EQ(std::string("a\0b\0c\0z", 7), Bytes(t));
    t.MakeUpper();
    EXPECT_EQ(std::string("A\0B\0C\0Z", 7), Bytes(t));
    EXPECT_EQ(1, t.Replace("B", "bb"));
    EXPECT_EQ(std::string("A\0bb\0C\0Z", 8), Bytes(t));
    t.Insert(8, "!");
    EXPECT_EQ(std::string("A\0bb\0C\0Z!", 9), Bytes(t));
    t.Delete(0, 2);
    EXPECT_EQ(std::string("bb\0C\0Z!", 7), Bytes(t));

    EXPECT_NE(s, CString("a\0b\0d", 5));
    EXPECT_LT(CString("a\0b", 3), CString("a\0c", 3));
    EXPECT_EQ(s, CString("a\0b\0c", 5));
    EXPECT_NE(s, "a");  // the char* side stops at its zero
    CString sum = s + CString("\0", 1);
    EXPECT_EQ(6, sum.GetLength());
}

TEST(CStringTest, CaseChangesStepOverTwoByteCharacters) {
    struct Case { const char* in; const char* upper; const char* lower; };
    const Case cases[] = {
        {"\xB0\x61", "\xB0\x61", "\xB0\x61"},
        {"\xB0\x41", "\xB0\x41", "\xB0\x41"},
        {"ab\xB0" "aCd", "AB\xB0" "aCD", "ab\xB0" "acd"},
        {"中文Ab", "中文AB", "中文ab"},
        {"x\xB0", "X\xB0", "x\xB0"},  // truncated lead byte at the end
        {"\x81" "a" "\x82" "b" "c", "\x81" "a" "\x82" "b" "C", "\x81" "a" "\x82" "b" "c"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.upper, Bytes(CString(c.in).MakeUpper())) << c.in;
        EXPECT_EQ(c.lower, Bytes(CString(c.in).MakeLower())) << c.in;
    }
}

TEST(CStringTest, CompareNoCase) {
    struct Case { const char* a; const char* b; int sign; };
    const Case cases[] = {
        {"abc", "ABC", 0},        {"abc", "abd", -1},      {"abd", "ABC", 1},
        {"ab", "abc", -1},        {"", "", 0},             {"中文A", "中文a", 0},
        {"\xB0" "a", "\xB0" "A", 1},  // trail bytes compared exactly
        {"\xB0" "ax", "\xB0" "aX", 0},
        {"_", "a", -1},           // letters fold to lower case
    };
    for (const Case& c : cases) {
        int r = CString(c.a).CompareNoCase(c.b);
        EXPECT_EQ(c.sign, (r > 0) - (r < 0)) << c.a << " / " << c.b;
    }
}

TEST(CStringTest, FindNeverMatchesOnATrailByte) {
    const CString s("\xB0" "aba" "\xB0\xB0" "a");  // B0 61 | 62 | 61 | B0 B0 | 61
    EXPECT_EQ(3, s.Find('a'));
    EXPECT_EQ(3, s.Find("a"));
    EXPECT_EQ(6, s.Find("a", 4));
    EXPECT_EQ(6, s.ReverseFind('a'));
    EXPECT_EQ(2, s.Find("ba"));
    EXPECT_EQ(4, s.Find("\xB0", 1));  // 0xB0 at 4 starts a character, at 5 not
    EXPECT_EQ(-1, s.Find("\xB0", 5));
    EXPECT_EQ(0, s.Find('\xB0'));  // high bytes: plain byte search
    EXPECT_EQ(-1, CString("\xB0" "a").Find('a'));
    EXPECT_EQ(-1, CString("\xB0" "a").ReverseFind('a'));
    EXPECT_EQ(0, CString("a\xB0" "a").ReverseFind('a'));
    EXPECT_EQ(2, CString("中a").Find('a'));

    // A start inside a two-byte character moves to the next one.
    EXPECT_EQ(2, CString("\xB0" "aa").Find('a', 1));
    EXPECT_EQ(2, CString("\xB0" "aa").Find("a", 1));
    EXPECT_EQ(0, s.Find("", -5));
    EXPECT_EQ(-1, s.Find("a", 100));
    EXPECT_EQ(-1, s.Find("zz"));
}

TEST(CStringTest, GetBufferAndReleaseBuffer) {
    CString s;
    char* p = s.GetBuffer(10);
    std::strcpy(p, "hello");
    s.ReleaseBuffer();
    EXPECT_EQ("hello", Bytes(s));
    s.GetBuffer(0);
    s.ReleaseBuffer(3);
    EXPECT_EQ("hel", Bytes(s));

    p = s.GetBufferSetLength(6);
    EXPECT_EQ(std::string("hel\0\0\0", 6), Bytes(s));
    EXPECT_EQ('\0', p[6]);
    p[3] = 'p';
    s.ReleaseBuffer(4);
    EXPECT_EQ("help", Bytes(s));
    s.GetBufferSetLength(2);
    EXPECT_EQ("he", Bytes(s));
    EXPECT_EQ('\0', s.c_str()[2]);
}

TEST(CStringTest, AppendAndInsertOfOwnText) {
    CString s("abc");
    s += s;
    EXPECT_EQ("abcabc", Bytes(s));
    s.Append(s.c_str() + 1, 2);
    EXPECT_EQ("abcabcbc", Bytes(s));
    s.Insert(0, s.c_str() + 6);
    EXPECT_EQ("bcabcabcbc", Bytes(s));
    CString shared = s;
    s.Append(s.c_str(), 2);
    EXPECT_EQ("bcabcabcbcbc", Bytes(s));
    EXPECT_EQ("bcabcabcbc", Bytes(shared));
    EXPECT_EQ(2, s.Replace("ca", s.c_str() + 11));  // the new text is the last "c"
    EXPECT_EQ("bcbcbcbcbc", Bytes(s));

    CString big('x', 100);  // full block: appending its own text moves it
    big.SetAt(0, 'a');
    big += big;
    ASSERT_EQ(200, big.GetLength());
    EXPECT_EQ('a', big[100]);
    EXPECT_EQ(std::string(99, 'x'), Bytes(big.Mid(101)));
}

TEST(CStringTest, Format) {
    CString s("old");
    s.Format("%s-%d-%05.1f", "n", -7, 2.25);
    EXPECT_EQ("n--7-002.2", Bytes(s));
    s.Format("<%s>", s.c_str());
    EXPECT_EQ("<n--7-002.2>", Bytes(s));
    s.Format("%0*d", 3000, 1);
    EXPECT_EQ(3000, s.GetLength());
    EXPECT_EQ('1', s[2999]);
    s.Format("%s", "");
    EXPECT_TRUE(s.IsEmpty());
}

TEST(CStringTest, SubstringsClampTheirArguments) {
    const CString s("abcdef");
    struct Case { CString got; const char* want; };
    const Case cases[] = {
        {s.Left(-1), ""},      {s.Left(0), ""},        {s.Left(2), "ab"},   {s.Left(99), "abcdef"},
        {s.Right(-1), ""},     {s.Right(2), "ef"},     {s.Right(99), "abcdef"},
        {s.Mid(-3), "abcdef"}, {s.Mid(4), "ef"},       {s.Mid(6), ""},      {s.Mid(99), ""},
        {s.Mid(2, 2), "cd"},   {s.Mid(-1, 2), "ab"},   {s.Mid(4, 99), "ef"}, {s.Mid(1, -1), ""},
        {s.Mid(99, 2), ""},    {s.Mid(1, INT_MAX), "bcdef"},
    };
    for (const Case& c : cases) EXPECT_EQ(c.want, Bytes(c.got));
    EXPECT_EQ(s.c_str(), s.Left(6).c_str());  // whole-string results share

    CString t("abcdef");
    EXPECT_EQ(6, t.Delete(10, 2));
    EXPECT_EQ(4, t.Delete(-1, 2));
    EXPECT_EQ("cdef", Bytes(t));
    EXPECT_EQ(2, t.Delete(2, 100));
    EXPECT_EQ(5, t.Insert(99, "xyz"));
    EXPECT_EQ(7, t.Insert(-4, "<<"));
    EXPECT_EQ("<<cdxyz", Bytes(t));
}

TEST(CStringTest, SharedCopiesAcrossThreads) {
    const CString s("shared between threads");
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&s] {
            for (int i = 0; i < 20000; ++i) {
                CString c = s;
                if (i % 100 == 0) c += "x";
            }
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ("shared between threads", Bytes(s));
    EXPECT_TRUE(s.IsValid());
}

TEST(CStringArrayTest, InsertAndRemove) {
    CStringArray a;
    a.Add("b");
    a.Add(CString("d"));
    a.InsertAt(0, CString("a"));
    a.InsertAt(2, CString("c"), 2);
    ASSERT_EQ(5, a.GetSize());
    EXPECT_EQ("a b c c d", Bytes(a[0] + " " + a[1] + " " + a[2] + " " + a[3] + " " + a[4]));

    a.InsertAt(7, a[0]);  // beyond the end: gap of empty strings, own element
    ASSERT_EQ(8, a.GetSize());
    EXPECT_TRUE(a[5].IsEmpty());
    EXPECT_EQ("a", Bytes(a[7]));

    a.RemoveAt(2, 100);
    ASSERT_EQ(2, a.GetSize());
    EXPECT_EQ("b", Bytes(a[1]));
    a.RemoveAt(-1);
    a.RemoveAt(2);
    EXPECT_EQ(2, a.GetSize());
    EXPECT_TRUE(a.GetAt(5).IsEmpty());

    for (int i = 0; i < 100; ++i) a.Add(a[i]);
    EXPECT_EQ(102, a.GetSize());
    EXPECT_EQ("b", Bytes(a[101]));

    CStringArray copy = a;
    copy.ElementAt(0) += "!";
    copy.SetAt(1, "z");
    EXPECT_EQ("a", Bytes(a[0]));
    EXPECT_EQ("b", Bytes(a[1]));
    EXPECT_EQ("a!", Bytes(copy[0]));
    a.RemoveAll();
    EXPECT_EQ(0, a.GetSize());
    a = copy;
    EXPECT_EQ("z", Bytes(a[1]));
}

}  // namespace
