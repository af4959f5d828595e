// Key/value lists, sections (what scripts see of both is in
// tests/qol/strings.cases), numbers as text, replacement outside literals,
// SQL clauses and the property store. Narrow literals are GBK; "\x81" "A"
// is a two-byte character whose trail byte is the letter A.
#include "qotool/textcut.h"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "qotool/qolanguage.h"
#include "support/gbk_text.h"

namespace {

using qotool::test::Gbk;
using qotool::test::Readable;

constexpr const char* kNull = nullptr;

// One case of a text function: its result and the expected text.
struct Expect {
    const char* name;
    CString actual;
    const char* expected;
};

void Check(const std::vector<Expect>& cases) {
    for (const Expect& c : cases) EXPECT_EQ(Gbk(c.actual), Gbk(c.expected)) << c.name;
}

TEST(TextCutFindNoCase, FindsWithoutLetterCase) {
    struct Case {
        const char *text, *sought;
        int expected;
    };
    const std::vector<Case> cases = {
        {"abcDEF", "Cde", 2}, {"Key=1", "KEY", 0},     {"abc", "x", -1},          {"", "a", -1},
        {"abc", "", -1},      {kNull, "a", -1},        {"abc", kNull, -1},        {"\x81" "A", "a", -1},
        {"\x81" "Aa", "A", 2}, {"中Ab", "aB", 2},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ruqo_FindNoCase(c.text, c.sought), c.expected) << Readable(c.text ? c.text : "");
}

// What scripts see of ruqo_MatchCut and ruqo_SectionCut is in strings.cases;
// here, the null pointers a host may pass.
TEST(TextCutMatchCut, NullArguments) {
    Check({
        {"null text", ruqo_MatchCut(kNull, "A=", ";", "d"), "d"},
        {"null default", ruqo_MatchCut("A=1", "X=", ";", kNull), ""},
        {"null key matches the start", ruqo_MatchCut("A=1;B=2", kNull, ";", ""), "A=1"},
        {"section of a null text", ruqo_SectionCut(kNull, 1, ",", "-"), "-"},
        {"null separator: no second section", ruqo_SectionCut("abc", 2, kNull, "-"), "-"},
    });
}

TEST(TextCutMatchSet, SetsAddsAndRemovesEntries) {
    const char* list = "A=1;B=22;C=3";
    Check({
        {"replace middle", ruqo_MatchSet(list, "B=", ";", "9"), "A=1;B=9;C=3"},
        {"replace first", ruqo_MatchSet(list, "a=", ";", "0"), "A=0;B=22;C=3"},
        {"remove middle", ruqo_MatchSet(list, "B=", ";", kNull), "A=1;C=3"},
        {"remove first", ruqo_MatchSet(list, "A=", ";", kNull), "B=22;C=3"},
        {"remove last with its delimiter", ruqo_MatchSet(list, "C=", ";", kNull), "A=1;B=22"},
        {"remove the only entry", ruqo_MatchSet("A=1", "A=", ";", kNull), ""},
        {"remove an absent key", ruqo_MatchSet(list, "X=", ";", kNull), list},
        {"add at the end", ruqo_MatchSet(list, "D=", ";", "4"), "A=1;B=22;C=3;D=4"},
        {"add to an empty text", ruqo_MatchSet("", "D=", ";", "4"), "D=4"},
        {"add to a null text", ruqo_MatchSet(kNull, "D=", ";", "4"), "D=4"},
        {"add after a final delimiter", ruqo_MatchSet("A=1;", "D=", ";", "4"), "A=1;D=4"},
        {"text shorter than the delimiter", ruqo_MatchSet("a", "k=", ";;", "v"), "a;;k=v"},
        {"star key replaces where found", ruqo_MatchSet(list, "*=22", ";", "7"), "A=1;B=227;C=3"},
        {"star key removal keeps the delimiter", ruqo_MatchSet(list, "*B=", ";", kNull), "A=1;;C=3"},
        {"star key added without a delimiter", ruqo_MatchSet("A=1", "*B=", ";", "2"), "A=1B=2"},
        {"Chinese entries", ruqo_MatchSet("甲=1，乙=2", "乙=", "，", "二"), "甲=1，乙=二"},
    });
}

TEST(TextCutNumberToString, SixteenSignificantDigitsShortestForm) {
    const double inf = std::numeric_limits<double>::infinity();
    Check({
        {"whole", ruqo_NumberToString(3, "", ""), "3"},
        {"half", ruqo_NumberToString(0.5, "", ""), "0.5"},
        {"zero", ruqo_NumberToString(0, "", ""), "0"},
        {"0.1+0.2", ruqo_NumberToString(0.1 + 0.2, "", ""), "0.3"},
        {"a third", ruqo_NumberToString(1.0 / 3, "", ""), "0.3333333333333333"},
        {"16 digits", ruqo_NumberToString(1234567890123456.0, "", ""), "1234567890123456"},
        {"17 digits", ruqo_NumberToString(12345678901234567.0, "", ""), "1.234567890123457e+16"},
        {"large", ruqo_NumberToString(1e20, "", ""), "1e+20"},
        {"three-digit exponent", ruqo_NumberToString(-1.5e100, "", ""), "-1.5e+100"},
        {"small", ruqo_NumberToString(1.5e-7, "", ""), "1.5e-07"},
        {"infinity", ruqo_NumberToString(-inf, "", ""), "-inf"},
        {"NaN", ruqo_NumberToString(std::numeric_limits<double>::quiet_NaN(), "", ""), "nan"},
        {"first and empty second", ruqo_NumberToString(3, "$", ""), "$3"},
        {"first and second", ruqo_NumberToString(3, "x", "="), "x=3"},
        {"null second", ruqo_NumberToString(3, "x", kNull), "x3"},
        {"second ignored without first", ruqo_NumberToString(3, kNull, "="), "3"},
    });
}

TEST(TextCutReplaceNoText, ReplacesOutsideQuotedLiterals) {
    Check({
        {"single quotes", ruqo_ReplaceNoText("x='a' a", "a", "b"), "x='a' b"},
        {"double quotes", ruqo_ReplaceNoText("\"a\" a \"a\" a", "a", "b"), "\"a\" b \"a\" b"},
        {"before a literal", ruqo_ReplaceNoText("a a 'a'", "a", "b"), "b b 'a'"},
        {"other quote inside", ruqo_ReplaceNoText("'say \"a\"' a", "a", "b"), "'say \"a\"' b"},
        {"unterminated literal stops", ruqo_ReplaceNoText("a 'a a", "a", "b"), "b 'a a"},
        {"quote after the last one", ruqo_ReplaceNoText("a \"x", "a", "b"), "b \"x"},
        {"new holds the old text", ruqo_ReplaceNoText("aa", "a", "aa"), "aaaa"},
        {"new holds a quote", ruqo_ReplaceNoText("a a", "a", "'"), "' '"},
        {"old is a quote", ruqo_ReplaceNoText("it's", "'", "''"), "it''s"},
        {"empty old", ruqo_ReplaceNoText("a 'a'", "", "b"), "a 'a'"},
        {"null new removes", ruqo_ReplaceNoText("a-b", "-", kNull), "ab"},
        {"null text", ruqo_ReplaceNoText(kNull, "a", "b"), ""},
        {"SQL names", ruqo_ReplaceNoText("select name from t where name='name'", "name", "f1"),
         "select f1 from t where f1='name'"},
        {"Chinese", ruqo_ReplaceNoText("字段='字段' 字段", "字段", "列"), "列='字段' 列"},
        {"never a trail byte", ruqo_ReplaceNoText("\x81" "A" "'A' A", "A", "B"), "\x81" "A" "'A' B"},
    });
}

// The clauses of a statement, "keyword:clause" each.
std::vector<std::string> Break(const char* statement, const char* keywords) {
    CString buffer;
    int count = -1;
    const char** pairs = ruqo_BreakSql(statement, count, buffer, keywords);
    std::vector<std::string> out;
    for (int i = 0; pairs && i < count; ++i) out.push_back(std::string(pairs[2 * i]) + ":" + pairs[2 * i + 1]);
    return out;
}

using Clauses = std::vector<std::string>;

TEST(TextCutBreakSql, RealStatementKeepsItsOwnText) {
    const char* sql =
        "SELECT dept, Count(*) AS n\r\n"
        "  FROM staff s\r\n"
        " WHERE s.name <> 'x from y' AND s.city IN (\"Order\", 'Where''s')\r\n"
        " GROUP BY dept\r\n"
        "HAVING count(*) > 1\r\n"
        " ORDER BY\tn DESC";
    EXPECT_EQ(Break(sql, nullptr), (Clauses{
                                       "SELECT:dept, Count(*) AS n\r\n ",
                                       "FROM:staff s\r\n",
                                       "WHERE:s.name <> 'x from y' AND s.city IN (\"Order\", 'Where''s')\r\n",
                                       "GROUP BY:dept\r",  // the line feed before HAVING ends it
                                       "ORDER BY:n DESC",
                                       "HAVING:count(*) > 1\r\n",
                                   }));
}

TEST(TextCutBreakSql, LiteralsBracketsAndKeywordLists) {
    const char* two = "SELECT,FROM";
    struct Case {
        const char *statement, *keywords;
        Clauses clauses;
    };
    const std::vector<Case> cases = {
        {"select 'a from b' from t", two, {"SELECT:'a from b'", "FROM:t"}},
        {"select [from] from t", two, {"SELECT:[from]", "FROM:t"}},
        {"select 'it\\' from' from t", two, {"SELECT:'it\\' from'", "FROM:t"}},
        {"select 'it'' from' from t", two, {"SELECT:'it'' from'", "FROM:t"}},
        {"select f((a), (select b from c)) from t", two, {"SELECT:f((a), (select b from c))", "FROM:t"}},
        {"select a   from t", two, {"SELECT:a  ", "FROM:t"}},
        {"select a from", two, {"SELECT:a from", "FROM:"}},
        {"select afrom from t", two, {"SELECT:afrom", "FROM:t"}},
        {"update t set a=1 where b=2", "update,set,where", {"UPDATE:t", "SET:a=1", "WHERE:b=2"}},
        {"x a group  by b", "group    by", {"GROUP BY:b"}},
        {"select 姓名 from 职员", two, {"SELECT:姓名", "FROM:职员"}},
        {kNull, two, {"SELECT:", "FROM:"}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Break(c.statement, c.keywords), c.clauses) << Readable(c.statement ? c.statement : "");
}

TEST(TextCutBreakSql, PairsAreWholePointersIntoTheBuffer) {
    CString buffer;
    int count = 0;
    const char** pairs = ruqo_BreakSql("select a from t", count, buffer, "SELECT,FROM");
    ASSERT_EQ(count, 2);
    ASSERT_EQ((const char*)pairs, buffer.c_str());
    EXPECT_EQ(pairs[0], buffer.c_str() + 2 * 2 * sizeof(char*));  // 16 bytes a keyword
    for (int i = 0; i < 4; ++i) EXPECT_LT(pairs[i], buffer.c_str() + buffer.GetLength()) << i;
}

TEST(TextCutCombProperty, ReadsWithoutChangingTheText) {
    CString property("name=\"张三\";age=30;");
    EXPECT_EQ(Gbk(ruqo_CombPropertyStr(property, "name", nullptr)), Gbk("张三"));
    EXPECT_EQ(Gbk(ruqo_CombPropertyStr(property, "missing", nullptr)), Gbk(""));
    EXPECT_EQ(ruqo_CombPropertyVal(property, "age", 1e308), 30);
    EXPECT_EQ(ruqo_CombPropertyVal(property, "missing", 1e308), 0);
    EXPECT_EQ(Gbk(ruqo_CombPropertyStr(property, nullptr, "x")), Gbk(""));
    EXPECT_EQ(Gbk(property), Gbk("name=\"张三\";age=30;"));
    CString broken("this is (not QOL");
    EXPECT_EQ(Gbk(ruqo_CombPropertyStr(broken, "a", nullptr)), Gbk(""));
    EXPECT_EQ(ruqo_CombPropertyVal(broken, "a", 1e308), 0);
}

// Writing regenerates the text with the interpreter's report built-in.
TEST(TextCutCombProperty, WritesRoundTrip) {
    CString property;
    EXPECT_EQ(Gbk(ruqo_CombPropertyStr(property, "title", "季度 \"报表\"")), Gbk("季度 \"报表\""));
    EXPECT_EQ(ruqo_CombPropertyVal(property, "width", 12.5), 12.5);
    EXPECT_EQ(Gbk(ruqo_CombPropertyStr(property, "title", nullptr)), Gbk("季度 \"报表\""));
    EXPECT_EQ(ruqo_CombPropertyVal(property, "width", 1e308), 12.5);
    EXPECT_EQ(Gbk(ruqo_CombPropertyStr(property, "width", "wide")), Gbk("wide"));
    EXPECT_EQ(Gbk(ruqo_CombPropertyStr(property, "title", "")), Gbk(""));
    EXPECT_EQ(Gbk(ruqo_CombPropertyStr(property, "title", nullptr)), Gbk(""));
    EXPECT_EQ(Gbk(property), Gbk("width=\"wide\";"));
    EXPECT_EQ(ruqo_CombPropertyVal(property, "width", 0), 0);
    EXPECT_EQ(Gbk(ruqo_CombPropertyStr(property, "width", nullptr)), Gbk(""));
}

TEST(TextCutLargeTexts, MegabyteListsAndStatements) {
    std::string list;
    for (int i = 0; list.size() < (1u << 20); ++i)
        list += "key" + std::to_string(i) + "=中文" + std::to_string(i) + ";";
    list += "last=end";
    EXPECT_EQ(Gbk(ruqo_MatchCut(list.c_str(), "LAST=", ";", "")), Gbk("end"));
    EXPECT_EQ(Gbk(ruqo_MatchCut(list.c_str(), "key7=", ";", "")), Gbk("中文7"));
    EXPECT_EQ((size_t)ruqo_MatchSet(list.c_str(), "last=", ";", nullptr).GetLength(), list.size() - 9);
    EXPECT_EQ(ruqo_FindNoCase(list.c_str(), "LAST=END"), (int)(list.size() - 8));

    std::string quoted;
    while (quoted.size() < (1u << 20)) quoted += "a 'a' \"a\" ";
    EXPECT_EQ((size_t)ruqo_ReplaceNoText(quoted.c_str(), "a", "bb").GetLength(), quoted.size() + quoted.size() / 10);

    std::string sections(1u << 20, 'x');
    EXPECT_EQ(Gbk(ruqo_SectionCut((sections + ",tail").c_str(), 2, ",", "")), Gbk("tail"));

    std::string sql = "select " + sections + " from t where '" + std::string(1000, 'w') + "'";
    auto parts = Break(sql.c_str(), nullptr);
    ASSERT_EQ(parts.size(), 6u);
    EXPECT_EQ(parts[0], "SELECT:" + sections);
    EXPECT_EQ(parts[1], "FROM:t");
}

}  // namespace
