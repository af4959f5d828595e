// The string built-ins, called the way the executor calls them: the
// cursor just after the call's '(' (consumed through the bracket tracer),
// inside an active catcher. Results are written "T:text" as ruqo_ExecQol
// writes them; "f:" is the missing-argument marker. Narrow literals are
// GBK; "\x81" "a" is a two-byte character whose trail byte is the letter a.
// The plain use of each built-in is an example of docs/builtins.md, which
// the conformance runner checks; the tables here hold the edges.
#include "builtins/strings.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "engine/run_context.h"
#include "platform/number_text.h"
#include "qotool/qolanguage.h"
#include "support/gbk_text.h"

namespace qotool::builtins {
namespace {

using qotool::test::Gbk;
using qotool::test::Readable;

// Runs handler on the argument text args (what follows the '(').
std::string Call(Handler handler, const std::string& args, CQoLanguage* qo = nullptr) {
    std::unique_ptr<CQoLanguage> own;
    if (!qo) qo = (own = std::make_unique<CQoLanguage>()).get();
    std::string source = "(" + args;
    char* cursor = source.data();
    qo->m_pRun->bracketDepth = 0;
    qo->FunctionBracketTrace(cursor, '(');
    {
        engine::CatchScope catcher(qo->m_pRun);
        try {
            handler(qo, cursor, "");
        } catch (const engine::QolUnwind&) {
        }
    }
    std::string out = std::string(1, qo->m_cType) + ":";
    if (qo->m_cType == 'N') {
        char buf[32];
        out.append(buf, (size_t)platform::FormatNumber15(qo->m_dValue, buf));
    } else if (qo->m_cType == 'S' || qo->m_cType == 'X') {
        out.append((qo->m_cType == 'S' ? qo->m_strValue : qo->m_strError).view());
    }
    return out;
}

struct Case {
    Handler handler;
    std::string args, expected;
};

void RunCases(const std::vector<Case>& cases) {
    for (const Case& c : cases) EXPECT_EQ(Gbk(Call(c.handler, c.args)), Gbk(c.expected)) << Readable(c.args);
}

std::string Eval(CQoLanguage& qo, const std::string& text) {
    qo.DoQol(text.c_str(), nullptr);
    return std::string(qo.GetValueString().view());
}

TEST(StringBuiltinCodes, AscAsc2ChrLen) {
    RunCases({
        {Asc, "'abc')", "N:97"},                      {Asc, "'')", "N:0"},
        {Asc, "'中')", "N:214"},                       {Asc2, "'中文')", "N:54992"},
        {Asc2, "'a')", "N:97"},                       {Asc2, "'ab')", "N:97"},
        {Chr, "45217)", "S:\xB0\xA1"},                {Chr, "65536+66)", "S:B"},
        {Chr, "-1)", "S:\xFF\xFF"},                   {Chr, "256+67)", "S:\x01" "C"},
        {Chr, "0)", std::string("S:\0", 3)},          {Len, "'中a')", "N:3"},
        {Len, "'')", "N:0"},
    });
}

TEST(StringBuiltinCut, LeftRightMidClamp) {
    RunCases({
        {Left, "'abcdef', -1)", "S:"},                {Left, "'abc', 10)", "S:abc"},
        {Left, "'中文', 1)", "S:\xD6"},                 {Left, "'abc')", "f:"},
        {Right, "'abcdef', -3)", "S:"},               {Right, "'abc', 4)", "S:abc"},
        {Right, "'abc')", "f:"},                      {Mid, "'abcdef', 2)", "S:cdef"},
        {Mid, "'abc', 5)", "S:"},                     {Mid, "'abc', 3)", "S:"},
        {Mid, "'abc', -2, 2)", "S:ab"},               {Mid, "'abc', 1, -1)", "S:"},
        {Mid, "'abc', 1, 9)", "S:bc"},                {Mid, "'abcdef', 1.9, 2.9)", "S:bc"},
        {Mid, "'abc')", "f:"},
    });
}

TEST(StringBuiltinCase, UpperLowerTrim) {
    RunCases({
        {Upper, "'中a')", "S:中A"},
        {Upper, "'\x81" "ab')", "S:\x81" "aB"},  // the trail byte a stays
        {Lower, "'\x81" "AB')", "S:\x81" "Ab"},       {TrimL, "'  \t a b ')", "S:a b "},
        {TrimR, "' a b \t\r\n')", "S: a b"},          {TrimL, "' 中 ')", "S:中 "},
    });
}

TEST(StringBuiltinFind, FindFamily) {
    RunCases({
        {Find, "'abcabc', 'c')", "N:2"},              {Find, "'abc', 'x')", "N:-1"},
        {Find, "'abc', 'a', -4)", "N:0"},             {Find, "'abc', 'a', 9)", "N:-1"},
        {Find, "'\x81" "aa', 'a')", "N:2"},           {Find, "'中文中文', '文', 3)", "N:6"},
        {Find, "'中a', 'a', 1)", "N:2"},               {Find, "'abc')", "f:"},
        {FindR, "'abc', 'x')", "N:-1"},               {FindR, "'中文中文', '中文')", "N:4"},
        {FindR, "'a\x81" "a', 'a')", "N:0"},          {FindR, "'ab', 'abc')", "N:-1"},
        {FindN, "'中中中', '中')", "N:3"},                {FindN, "'\x81" "a\x81" "aa', 'a')", "N:1"},
        {FindN, "'abc', '')", "N:0"},                 {FindT, "'a,b', ',', 3)", "N:-1"},
        {FindT, "'a,b,c', ',')", "N:2"},              {FindT, "'a,b,c', ',', 0)", "N:2"},
        {FindT, "'甲，乙，丙', '，', 2)", "N:8"},           {FindT, "'abc')", "f:"},
    });
}

TEST(StringBuiltinMembership, InIn2IsDoubleByte) {
    RunCases({
        {In, "4, 1, 2, 3)", "N:0"},                   {In, "'B', 'a', 'b')", "N:0"},
        {In, "'乙', '甲', '乙')", "N:2"},                {In, "1, 1, nosuch)", "N:1"},
        {In, "1)", "f:"},  // later candidates are not evaluated
        {In2, "'z', 'abc', 'xy')", "N:0"},            {In2, "'a', '\x81" "a')", "N:1"},
        {In2, "'a')", "f:"},                          {IsDoubleByte, "'中a', 1)", "N:1"},
        {IsDoubleByte, "'中a', 2)", "N:0"},            {IsDoubleByte, "'a中b', 2)", "N:1"},
        {IsDoubleByte, "'a中', 3)", "N:0"},
        {IsDoubleByte, "'\xB0\xA1\xB0\xA1' + 'x', 2)", "N:0"},
        {IsDoubleByte, "'\xB0\xA1\xB0\xA1' + 'x', 3)", "N:1"},
        {IsDoubleByte, "'abc', 0)", "N:0"},           {IsDoubleByte, "'abc')", "f:"},
    });
    EXPECT_EQ(Call(In, "2, 1, nosuch)")[0], 'X');
    EXPECT_EQ(Call(In2, "'a', 1)")[0], 'X');
}

TEST(StringBuiltinReplace, ReplaceReplace2Stuff) {
    RunCases({
        {Replace, "'a-b-c', '-', '')", "S:abc"},      {Replace, "'abc', '', 'x')", "S:abc"},
        {Replace, "'\x81" "aa', 'a', 'X')", "S:\x81" "aX"},
        {Replace, "'中文中', '中', '汉')", "S:汉文汉"},       {Replace, "'abc', 'a')", "f:"},
        {Replace2, "'\x81" "aa', 'a', 'X')", "S:\x81" "XX"},
        {Replace2, "'aaa', 'a', '')", "S:"},          {Replace2, "'ab', 'a', 'aa')", "S:aab"},
        {Replace2, "'abc', '', '')", "S:abc"},        {Stuff, "'abc', 1, 10, 'Z')", "S:aZ"},
        {Stuff, "'abc', 1, -2, 'Z')", "S:aZbc"},      {Stuff, "'abc', 0, 1, '中')", "S:中bc"},
        {Stuff, "'abc', 3, 1, 'Z')", "S:Z"},          {Stuff, "'abc', -1, 1, 'Z')", "S:Z"},
        {Stuff, "'abc', 1, 1)", "f:"},                {Stuff, "'abc', 1)", "f:"},
    });
}

TEST(StringBuiltinStrcut, SplitsAndWritesBack) {
    struct RefCase {
        std::string setup, call, value, cut, rest;
    };
    const std::vector<RefCase> cases = {
        {"src='abc123def';", "&src, '%e', &cut)", "S:", "abc", "123def"},
        {"src='abcDE1';", "&src, '%E', &cut)", "S:abc", "DE", "1"},
        {"src='abc';", "&src, '%d', &cut)", "S:abc", "", ""},
        {"src='x=1;y';", "&src, '=;', &cut)", "S:x", "=", "1;y"},
        {"src='\x81" "aab';", "&src, 'a', &cut)", "S:\x81" "a", "a", "b"},
        {"src='ab文中c';", "&src, '文中', &cut)", "S:ab", "文中", "c"},
        {"src='ab\xA1\xA1\xA3\xACx中';", "&src, '%v', &cut)", "S:ab", "\xA1\xA1\xA3\xAC", "x中"},
        {"src='编号123号x';", "&src, '%c%d', &cut)", "S:", "编号123号", "x"},
        {"src=\"ab\\0cd\";", "&src, \"\\0\", &cut)", "S:ab", std::string(1, '\0'), "cd"},
        {"src='abc';", "&src, \"\\0\", &cut)", "S:abc", "", ""},
        {"src='abc123';", "src, '%d', cut)", "S:abc", "old", "abc123"},  // by value: nothing written
    };
    for (const RefCase& c : cases) {
        CQoLanguage qo;
        Eval(qo, c.setup + "cut='old';");
        EXPECT_EQ(Gbk(Call(StrCut, c.call, &qo)), Gbk(c.value)) << Readable(c.setup);
        EXPECT_EQ(Gbk(Eval(qo, "cut")), Gbk(c.cut)) << Readable(c.setup);
        EXPECT_EQ(Gbk(Eval(qo, "src")), Gbk(c.rest)) << Readable(c.setup);
    }
}

TEST(StringBuiltinTermForm, BuildsJoinedExpressions) {
    RunCases({
        {TermForm, "'a,b')", "S:a,b"},
        {TermForm, "'a|b|c', '%s=1', ' and ', '|')", "S:a=1 and b=1 and c=1"},
        {TermForm, "'甲，乙', \"n='%s'\", ',', '，')", "S:n='甲',n='乙'"},
    });
    const std::string message =
        "X:项格式化函数termform()第2个参数缺项形参%s\r\n典型用法："
        "termform(\"T1,...,Tn\",\"F='%s'\",\" OR \")";
    EXPECT_EQ(Gbk(Call(TermForm, "'a,b', 'no placeholder')").substr(0, message.size())), Gbk(message));
}

TEST(StringBuiltinExported, SectionCutMatchCutMatch) {
    RunCases({
        {RuqoSectionCut, "'a, b ,c', 2)", "S:b"},
        {RuqoSectionCut, "'a, b ,c', 4)", "S:<QO_NULL>"},
        {RuqoSectionCut, "'a;b', 2, ';')", "S:b"},
        {RuqoSectionCut, "'a', 3, ',', 'none')", "S:none"},
        {RuqoSectionCut, "'a,b')", "S:a"},
        {RuqoMatchCut, "'A=1;B=22', 'b=', ';')", "S:22"},
        {RuqoMatchCut, "'A=1', 'X=', ';')", "S:<QO_NULL>"},
        {RuqoMatchCut, "'A=1', 'X=', ';', '')", "S:"},
        {Match, "'abc', 'abc')", "N:3"},              {Match, "'abcdef', 'ab*')", "N:2"},
        {Match, "'abc', 'x*')", "N:-1"},              {Match, "'中国', 'zg')", "N:4"},
        {Match, "'abc', 'a?c', 1)", "N:3"},           {Match, "'abc')", "f:"},
    });
}

TEST(StringBuiltinMacro, ExpandsExpressions) {
    RunCases({
        {MacroReplace, "'%[2*3]-%[\"a\"+\"b\"]')", "S:6-ab"},
        {MacroReplace, "'100% %[5]%')", "S:100% 5%"},
        {MacroReplace, "'a%[nosuch]b')", "S:a%[nosuch]b"},  // a failing macro stays
        {MacroReplace, "'a%[1+1')", "S:a2"},
    });
    CQoLanguage qo;
    Eval(qo, "v=7;");
    EXPECT_EQ(Call(MacroReplace, "'v is %[v], w is %[w].')", &qo), "S:v is 7, w is %[w].");
    EXPECT_EQ(Gbk(qo.m_strError), Gbk(""));
}

TEST(StringBuiltinMacro, LevelStartStaysOnTheCallersText) {
    CQoLanguage qo;
    std::string source = "('a%[1+1]b%[nosuch]')";
    char* cursor = source.data();
    engine::LevelGuard run(&qo, 'P', source.data());  // as inside DoQol
    qo.FunctionBracketTrace(cursor, '(');
    engine::CatchScope catcher(qo.m_pRun);
    MacroReplace(&qo, cursor, "");
    EXPECT_EQ(Gbk(qo.m_strValue), Gbk("a2b%[nosuch]"));
    const char* start = qo.m_pRun->levelStart.at((size_t)qo.m_pRun->level);
    EXPECT_TRUE(start >= source.data() && start <= source.data() + source.size());
}

TEST(StringBuiltinArguments, WrongTypesAreReported) {
    EXPECT_EQ(Call(Left, "1, 2)").substr(0, 2), "X:");
    EXPECT_EQ(Call(Chr, "'a')").substr(0, 2), "X:");
}

TEST(StringBuiltinNames, NameTests) {
    const std::vector<std::pair<const char*, Handler>> cases = {
        {"find", Find},        {"FIND", Find},         {"findr", FindR},     {"FindN", FindN},
        {"findT", FindT},      {"findx", nullptr},     {"findrr", nullptr},  {"Asc2", Asc2},
        {"IN2", In2},          {"int", nullptr},       {"str", nullptr},     {"ruqo_sectioncut", RuqoSectionCut},
        {"RUQO_MatchCut", RuqoMatchCut},               {"ruqo_MatchSet", nullptr},
        {"ruqoSectionCut", nullptr},                   {"x", nullptr},       {"", nullptr},
    };
    for (const auto& c : cases) EXPECT_EQ(StringHandler(c.first), c.second) << c.first;
}

}  // namespace
}  // namespace qotool::builtins
