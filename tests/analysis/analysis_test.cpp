// The static analysis against texts with their expected findings: true
// positives, and as negatives the texts that a checker must not flag (the
// idioms of the examples, dynamic scope, loops that fill arrays, module
// words, ErrorCheck blocks).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "analysis/analysis.h"
#include "analysis/source_text.h"
#include "builtins/catalog.h"
#include "support/gbk_text.h"

namespace {

namespace analysis = qotool::analysis;

// "E code L:C" (error), "W ..." (warning), "I ..." (information); L and C 1-based, C in characters.
std::vector<std::string> Findings(const std::string& text, const analysis::Options& options = {}) {
    const analysis::SourceText source = analysis::SourceText::FromGbk(text);
    std::vector<std::string> out;
    for (const analysis::Finding& f : analysis::Analyze(text, options).findings) {
        const char letter = f.severity == analysis::Severity::kError     ? 'E'
                            : f.severity == analysis::Severity::kWarning ? 'W'
                                                                         : 'I';
        out.push_back(std::string(1, letter) + " " + f.code + " " + std::to_string(source.LineOf(f.offset) + 1) + ":" +
                      std::to_string(source.CharacterColumn(f.offset) + 1));
    }
    return out;
}

struct Row {
    const char* title;
    const char* text;
    std::vector<std::string> expected;
};

TEST(AnalysisTest, FindsWhatRunsWouldReportAndNothingElse) {
    analysis::Options runner;
    runner.functions = {"print", "readline"};
    runner.variables = {"argv", "argc"};
    const Row rows[] = {
        // true positives
        {"a name nothing assigns", "a = b + 1;", {"E undefined-name 1:5"}},
        {"a call of a function nothing defines", "x = 1;\r\nx = nosuch(x);", {"E unknown-function 2:5"}},
        {"too many arguments", "abs(1, 2)", {"E too-many-arguments 1:1"}},
        {"too few arguments", "left('abc')", {"E too-few-arguments 1:1"}},
        {"a parameter without a value", "#f(a, b=1, c){ return a; } f(1, 2); f(1, 2, 3); f(1, 2, 3, 4)",
         {"E too-few-arguments 1:28"}},
        {"a literal open at a line ending in ';'", "a = 'abc;\r\nb = 1;", {"E unclosed-string 1:5"}},
        {"a bracket open before ';'", "f = abs(1; g = 2;", {"E unclosed-bracket 1:8"}},
        {"a brace open at the end of the text", "if (1) { a = 1;", {"W unclosed-brace 1:8"}},
        {"case outside a switch", "case 1: a = 1;", {"E case-outside-switch 1:1"}},
        {"else without if", "a = 1; else a = 2;", {"E else-without-if 1:8"}},
        {"do without while", "do { a = 1; }", {"E do-without-while 1:1"}},
        {"goto to a label the text lacks", "goto fin; a = 1;", {"E undefined-label 1:6"}},
        {"two statements without ';'", "a = 1 b = 2", {"E missing-semicolon 1:7"}},
        {"an assignment to a value", "1 = 2", {"E assign-to-value 1:3"}},
        {"switch without a body", "switch (1) a = 1;", {"E switch-without-body 1:12"}},
        {"for without its two ';'", "for (i = 0, i < 3) a = i;", {"E bad-for 1:5"}},
        {"ErrorCheck without its block", "ErrorCheck() a = 1;", {"E block-expected 1:14"}},
        {"the 0x5C trail byte in a literal", "s = '\x81\x5C';", {"W unclosed-string 1:5", "W gbk-trail-backslash 1:6"}},
        {"guarded reads and calls are warnings", "try { a = nosuch_v; } SkipError b = q; c = 0 && nosuch();",
         {"W undefined-name 1:11", "W undefined-name 1:37", "W unknown-function 1:49"}},
        {"unreachable code is a warning", "{ goto x; ] } #x: 1", {"W unmatched-bracket 1:11"}},
        {"a bracket too many", "a = abs(1)); goto -1 ]", {"E unmatched-bracket 1:11", "W unmatched-bracket 1:22"}},
        {"a function reading its caller's variable", "rate = 2; #f(x){ return x * rate; } f(1)",
         {"I dynamic-scope 1:29"}},
        // negatives: the false positives of the interpreter's own check
        {"the readline idiom", "while (Type(line = readline()) == 'S') n = 1;", {}},
        {"an assignment inside a call", "y = Type(z = 1); w = z;", {}},
        {"an array filled in a loop", "for (i=0;i<3;i++) a[i]=i; b=a[2];", {}},
        {"a module word and its object", "c = ruqo_Counter_Create(5); c.Add(2); c.Value()", {}},
        {"ErrorCheck keeps its findings", "r = ErrorCheck(){ xx(1; }; r", {}},
        // negatives: the language's forms
        {"a parameter read through dynamic scope", "#inner() { return q; } #outer(q) { return inner() * 2; } outer(1)",
         {"I dynamic-scope 1:19"}},
        {"a function defined by docmd", "docmd('qol', '#f(a) { return a; }'); f(2)", {}},
        {"surplus arguments are not evaluated", "#f(a, b=10){ return a+b; } f(1,2,undefined_thing)", {}},
        {"membership groups", "x = 5; y = x $ [1,5) + (x $ {1,3,5}) + (7 $ [1,3] [6,*]);", {}},
        {"switch, case and labels", "switch(2){case 1: case 2: a=2; break; default: a=3;} goto end; a=1; #end: b=a;", {}},
        {"a rule table", "Array::fee.SetDefine(kind, weight; price){ 'letter', ~0.1; 1.2; }; Array::fee.Locate('x', 3); "
                         "Array::fee.Output(price) + fee[0][0] + weight",
         {}},
        {"is and its names", "is(v > 3; 1:2, 5; 7)", {}},
        {"links, declarations, catch", "b = 5; #a=#b; private c = 1, d[2] = {1, 2}; try { x = 1/0; } catch(e) { y = e; } a + c + d[0]", {}},
        {"variables a built-in sets", "p = MemBuffer(buf, 8); MemRead(p, '%4%s4', x, y); x + y + buf", {}},
        {"native calls and function values", "Dll::c::strlen('%4=%s', 'abc'); f = LoadFunction('c', 'abs', '%4=%4'); f(-3)", {}},
        {"markers, system variables, the runner's words", "i=0; while(i<3){ ?i=i+1; ?? $ $$ } print(argv[0], argc, system_n)", {}},
        {"QolRun's block and its names", "QolRun(0; a = 2, s = 'x'){ return a * 3; }", {}},
        {"a built-in argument that may not be evaluated", "limit(-5, 0, f())", {"W unknown-function 1:14"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.title);
        EXPECT_EQ(Findings(row.text, runner), row.expected) << qotool::test::Readable(row.text);
    }
}

TEST(AnalysisTest, SymbolsAndReferencesNameWhatEditorsJumpTo) {
    const std::string text = "#add(a, b){ return a + b; }\r\ntotal = add(1, 2);\r\n#fin: Array::t.Create('x');\r\ngoto fin;";
    const analysis::Result result = analysis::Analyze(text);
    ASSERT_EQ(result.symbols.size(), 3u);
    EXPECT_EQ(result.symbols[0].name, "add");
    EXPECT_EQ(result.symbols[0].detail, "#add(a, b)");
    EXPECT_EQ(text.substr(result.symbols[0].endOffset - 1, 1), "}");
    EXPECT_EQ(result.symbols[1].kind, analysis::SymbolKind::kLabel);
    EXPECT_EQ(result.symbols[2].kind, analysis::SymbolKind::kTable);
    int addUses = 0, finUses = 0;
    for (const analysis::Reference& r : result.references) {
        if (r.kind == analysis::SymbolKind::kFunction && r.name == "add") ++addUses;
        if (r.kind == analysis::SymbolKind::kLabel && r.name == "fin") ++finUses;
    }
    EXPECT_EQ(addUses, 2);
    EXPECT_EQ(finUses, 2);
}

// Columns: a two-byte GBK character is one character and one UTF-16 unit; a
// character GBK lacks reads as '?' and keeps its UTF-16 width.
TEST(AnalysisTest, SourcePositionsMapExactlyBetweenUtf16AndGbk) {
    const analysis::SourceText source = analysis::SourceText::FromUtf8(u8"a='中ß😀';\nb=q");
    EXPECT_EQ(source.Gbk(), "a='\xD6\xD0?" "?';\nb=q");
    ASSERT_EQ(source.MissingCharacters().size(), 2u);
    const uint32_t q = (uint32_t)source.Gbk().size() - 1;
    EXPECT_EQ(source.LineOf(q), 1u);
    EXPECT_EQ(source.Utf16Column(q), 2u);
    const uint32_t quote = (uint32_t)source.Gbk().find('\'', 3);
    EXPECT_EQ(source.Utf16Column(quote), 7u);  // a = ' 中 ß 😀(2 units)
    EXPECT_EQ(source.CharacterColumn(quote), 6u);
    EXPECT_EQ(source.OffsetOfUtf16(0, 7), quote);
    EXPECT_EQ(source.OffsetOfUtf16(0, 6), quote - 1);  // inside the surrogate pair: the character's start
    EXPECT_EQ(source.OffsetOfUtf16(0, 4), 3u + 2u);    // after 中
    EXPECT_EQ(source.OffsetOfUtf16(0, 99), source.LineEnd(0));
    EXPECT_EQ(source.OffsetOfUtf16(9, 0), source.Gbk().size());
    const analysis::Result result = analysis::AnalyzeSource(source);
    int unmappable = 0, undefined = 0;
    for (const analysis::Finding& f : result.findings) {
        unmappable += std::string(f.code) == "gbk-unmappable";
        undefined += std::string(f.code) == "undefined-name";
    }
    EXPECT_EQ(unmappable, 2);
    EXPECT_EQ(undefined, 1);
}

// Bad input ends in findings, never a crash or a hang.
TEST(AnalysisTest, HostileTextsEndInFindings) {
    std::string binary;
    for (int i = 0; i < 70000; ++i) binary += (char)((i * 7919) % 251 + 1);
    const std::string deep(100000, '(');
    const std::string braces(100000, '{');
    for (const std::string& text : {binary, deep, braces, std::string("\x81"), std::string("a\0b = c", 7)}) {
        const analysis::Result result = analysis::Analyze(text);
        EXPECT_LE(result.findings.size(), analysis::kMaxFindings + 1);
    }
    EXPECT_TRUE(analysis::Analyze(std::string("a\0b = c", 7)).findings.size() == 1);
}

}  // namespace
