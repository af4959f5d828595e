// Source scanning that a script cannot show directly: quoting values back
// into literals, skipping sentences and expressions (and the memo of the
// sentence skipper), and tracing function-call brackets for executors.
// Words, blanks, comments and keywords are read by every case row.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine/run_context.h"
#include "engine/scanner.h"
#include "qotool/qolanguage.h"
#include "qotool/qotool.h"
#include "support/gbk_text.h"
#include "support/log_capture.h"

namespace {

using qotool::test::Gbk;

// ---- quoting ----

TEST(MakeQolStringTest, QuotesSpecialBytes) {
    struct Case {
        std::string text;
        char quote;
        std::string literal;
    } cases[] = {
        {"abc", '"', "\"abc\""},
        {"", '\'', "''"},
        {"a\tb\"c\\", '"', "\"a\\tb\\\"c\\\\\""},
        {"it's \"x\"", '\'', "'it\\'s \"x\"'"},
        {std::string("a\0b", 3), '"', "\"a\\0b\""},
        {"\r\n", '"', "\"\\r\\n\""},
        {"中文", '"', "\"中文\""},
    };
    for (const Case& c : cases) {
        CString quoted = ruqo_MakeQolString(CString(c.text.data(), (int)c.text.size()), c.quote);
        EXPECT_EQ(Gbk(quoted), Gbk(c.literal)) << qotool::test::Readable(c.text);
    }
}

TEST(MakeQolStringTest, EachSingleByteReadsBackUnchanged) {
    // One byte at a time, so that a byte is never helped by its neighbours
    // (a lone CR after a ';', a lead byte before the closing quote, ...).
    for (int b = 0; b < 256; ++b) {
        for (std::string text : {std::string(1, (char)b), std::string(";") + (char)b + ";"}) {
            CString literal = ruqo_MakeQolString(CString(text.data(), (int)text.size()), '"');
            std::string source(literal.view());
            char* cursor = source.data();
            CString back;
            ASSERT_EQ(ruqo_GetStringData(cursor, back), literal.GetLength()) << "byte " << b;
            EXPECT_TRUE(back.view() == text) << "byte " << b;
        }
    }
}

// ---- skipping sentences ----

struct SentenceCase {
    const char* name;
    std::string text;
    char stopAtEnd;
    std::string rest;  // the text from the returned position on
};

TEST(SkipSentenceTest, FindsTheEndOfOneSentence) {
    const std::vector<SentenceCase> cases = {
        {"a comma after a call ends the sentence", "a=f(1,2), b=3;", 0, "b=3;"},
        {"stop flag: the comma's position", "a=f(1,2), b=3;", 1, ", b=3;"},
        {"semicolon", "a=1; b=2", 0, "b=2"},
        {"semicolon kept with the stop flag", "a=1; b=2", 1, "; b=2"},
        {"a declaration list ends only at the semicolon", "private a, b; c", 0, "c"},
        {"public list", "public x=f(1,2), y; z", 0, "z"},
        {"remove list", "remove a, b; c", 0, "c"},
        {"delete list", "delete a,b;c", 0, "c"},
        {"declaration keywords have exact case", "Private a, b; c", 0, "b; c"},
        {"a keyword must be followed by a blank", "privatex, b; c", 0, "b; c"},
        {"if with else", "if(x) a=1; else b=2; c", 0, "c"},
        {"if with else, stop flag", "if(x) a=1; else b=2; c", 1, "; c"},
        {"if without else", "if(x) a=1; b=2;", 0, "b=2;"},
        {"if with blocks", "if (x) {a=1;b} else {c;d} e", 0, "e"},
        {"IF in capitals", "IF(x) a=1; ELSE b=2; c", 0, "c"},
        {"if not followed by a bracket is a word", "iffy, b", 0, "b"},
        {"a letter before if makes a word of it", "xif(x) a=1; else b=2; c", 0, "else b=2; c"},
        {"a brace that closes an enclosing block", "a=1 } b", 1, "} b"},
        {"a brace that closes an enclosing block, passed", "a=1 } b", 0, "b"},
        {"a block ends the sentence", "{a;b} c", 0, "c"},
        {"a comma inside braces does not end it", "{a,b}, c", 1, "}, c"},
        {"a closing bracket of an enclosing call", "1, 2) x", 1, ", 2) x"},
        {"a closing bracket below zero ends it", "a+1) x", 1, ") x"},
        {"a closing bracket below zero, passed", "a+1) x", 0, "x"},
        {"square brackets count as brackets", "a[1,2]=3, b", 0, "b"},
        {"a division is not a comment", "a=6/3; b", 0, "b"},
        {"a division before a comment", "a=6/2/*;*/+1; b", 0, "b"},
        {"a line comment hides a semicolon", "a=1 // ;\r\n+2; b", 0, "b"},
        {"a literal hides separators", "a=\";,}\"; b", 0, "b"},
        {"a literal with the line end after ; stops at that ;", "a=\"x;\r\ny\"; b", 1, ";\r\ny\"; b"},
        {"a function definition ends where the next begins", "FUNCTION: f FUNCTION: g", 0, "FUNCTION: g"},
        {"function: in any case", "function: f FUNCTION: g", 0, "FUNCTION: g"},
        {"an inner definition is skipped whole", "a FUNCTION: f, g; h", 0, "h"},
        {"a two-byte character is stepped over whole", "a=\x81" "}" "b; c", 0, "c"},
        {"a [ trail byte is not a bracket", "a=\x81" "[; c", 0, "c"},
        {"end of the text", "a=1", 0, ""},
        {"leading blanks and comments", "  /* x */ a; b", 0, "b"},
    };
    for (const SentenceCase& c : cases) {
        std::string buffer = c.text;
        char* end = ruqo_SkipSentence(buffer.data(), c.stopAtEnd);
        ASSERT_NE(end, nullptr) << c.name;
        EXPECT_EQ(Gbk(std::string(end)), Gbk(c.rest)) << c.name;
    }
}

TEST(SkipSentenceTest, NullTextGivesNull) { EXPECT_EQ(ruqo_SkipSentence(nullptr, 0), nullptr); }

// The memo answers what the skipper answers for whatever text is at the
// address now: every text is written over the one before in one buffer
// (texts that differ only after the end the skipper found, or that are
// shorter, included) and asked twice, the second time from the memo.
TEST(SkipSentenceTest, MemoAgreesWithTheSkipperOnTextsRewrittenInPlace) {
    const std::vector<std::string> texts = {
        "if(x) a=1; b=2;",
        "if(x) a=1; else b=2; c",
        "if(x) a=1; /* */ else b=2; c",
        "if(x) a=1; /* */ elsa=2; c",
        "if(x) a=1;",
        "if(x) a=1",
        "a=1; b=2",
        "a=1; b=2; c=3",
        "{a=1; b=2} c",
        "{a=1; b=2 c",
        "a=\"x;\"; b",
        "a=\"x;",
        "",
        "  /* never closed",
        std::string(5000, 'a') + "; b",
        std::string(5000, 'a') + "c; b",
    };
    std::vector<char> buffer(8192);
    for (int pass = 0; pass < 2; ++pass) {
        for (char stop : {0, 1}) {
            for (const std::string& text : texts) {
                memcpy(buffer.data(), text.c_str(), text.size() + 1);
                const char* expected = ruqo_SkipSentence(buffer.data(), stop);
                for (int ask = 0; ask < 2; ++ask)
                    EXPECT_EQ(qotool::engine::SkipSentenceMemo(buffer.data(), stop), expected)
                        << text.substr(0, 40) << " stop " << (int)stop;
            }
        }
    }
}

// ---- skipping expressions ----

TEST(SkipExpressionTest, StopsAtItsClosingCharacter) {
    struct Case {
        const char* name;
        std::string text;
        char closing;
        std::string rest;
    } cases[] = {
        {"to a closing bracket, consumed", "a, f(b), c) x", ')', "x"},
        {"nested brackets", "(a)[b]) x", ')', "x"},
        {"to a colon", "a::b ? c : d : e", ':', "e"},
        {"no closer stops at a comma", "a+b, c", 0, ", c"},
        {"no closer stops at a brace", "a } b", 0, "} b"},
        {"to a question mark, not consumed", "a > b ? c", '?', "? c"},
        {"literals hide closers", "\")\" ) x", ')', "x"},
        {"a comment hides closers", "a /* ) */ ) x", ')', "x"},
        {"a block is skipped as a sentence", "{a) b} ) x", ')', "x"},
        {"end of the text", "a + b", ')', ""},
    };
    for (const Case& c : cases) {
        std::string buffer = c.text;
        char* cursor = buffer.data();
        qotool::engine::SkipExpression(cursor, c.closing);
        EXPECT_EQ(Gbk(std::string(cursor)), Gbk(c.rest)) << c.name;
    }
}

// ---- bracket tracing ----

TEST(FunctionBracketTraceTest, CountsBrackets) {
    struct Case {
        const char* name;
        std::string text;
        char bracket;
        int depthChange;
        int moved;
    } cases[] = {
        {"opening bracket consumed with blanks", "( /*c*/ x", '(', 1, 8},
        {"no opening bracket at the cursor", "x(", '(', 0, 0},
        {"closing bracket consumed", ")  x", ')', -1, 3},
        {"no closing bracket at the cursor", "x)", ')', 0, 0},
        {"plus counts without moving", "(x", '+', 1, 0},
        {"minus counts without moving", ")x", '-', -1, 0},
        {"other characters do nothing", "(x", '*', 0, 0},
    };
    for (const Case& c : cases) {
        CQoLanguage qo;
        qo.m_pRun->bracketDepth = 5;
        std::string buffer = c.text;
        char* cursor = buffer.data();
        char* result = qo.FunctionBracketTrace(cursor, c.bracket);
        EXPECT_EQ(result, cursor) << c.name;
        EXPECT_EQ(cursor - buffer.data(), c.moved) << c.name;
        EXPECT_EQ(qo.m_pRun->bracketDepth, 5 + c.depthChange) << c.name;
    }
}

TEST(FunctionBracketTraceTest, NegativeDepthIsLoggedAndTheRunGoesOn) {
    qotool::test::LogCapture log;
    CQoLanguage qo;
    char text[] = ") 1";
    char* cursor = text;
    qo.FunctionBracketTrace(cursor, ')');
    EXPECT_EQ(qo.m_pRun->bracketDepth, -1);
    EXPECT_EQ(cursor, text + 2);
    EXPECT_NE(qo.m_cType, 'X');
    ASSERT_EQ(log.Messages().size(), 1u);
    EXPECT_EQ(Gbk(log.Messages()[0]), Gbk("QOL解释器括号跟踪异常"));

    // Every step that leaves the counter below zero is logged; from zero
    // on the counter is quiet.
    qo.FunctionBracketTrace(cursor, '-');
    qo.FunctionBracketTrace(cursor, '+');
    EXPECT_EQ(qo.m_pRun->bracketDepth, -1);
    EXPECT_EQ(log.Messages().size(), 3u);
    qo.FunctionBracketTrace(cursor, '+');
    qo.FunctionBracketTrace(cursor, '+');
    EXPECT_EQ(qo.m_pRun->bracketDepth, 1);
    EXPECT_EQ(log.Messages().size(), 3u);
}

}  // namespace
