// Argument lists: ReadPara reading a call's arguments into typed
// destinations, the argument signature, the optional entries, the error
// messages, syntax-check mode, and WritePara writing by-reference arguments
// back into their variables.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "engine/run_context.h"
#include "engine/var_store.h"
#include "qotool/qolanguage.h"
#include "qotool/qotool.h"
#include "support/gbk_text.h"
#include "support/result_text.h"

namespace {

using qotool::engine::CatchScope;
using qotool::engine::QolUnwind;
using qotool::test::Gbk;
using qotool::test::ResultOf;

// Argument text that ReadPara reads as a host would: the cursor stands just
// after the call's '(' (counted as open) and no run is active.
struct Arguments {
    Arguments(CQoLanguage& qo, const char* text) : buffer(text, text + strlen(text) + 1), cursor(buffer.data()) {
        ++qo.m_pRun->bracketDepth;
    }
    std::string Rest() const { return cursor; }
    std::vector<char> buffer;
    char* cursor;
};

// ---- the edge cases of argument reading ----

TEST(ReadParaTest, MissingOmittedSkippedAndExtraArguments) {
    struct Case {
        const char* text;
        const char* format;
        int32_t a, b;           // the destinations start at -5
        const char* signature;  // the value's string
        const char* rest;       // what the cursor leaves (null: not checked)
    } cases[] = {
        {"7) + 1", "%4%4", 7, -5, "N", "+ 1"},  // a missing argument leaves its destination
        {", 5)", "%4%4", -5, 5, "*N", ""},      // an omitted one is a star
        {"'x')", "?4", -5, -5, "-", nullptr},   // a format that ends while skipping
        {"1, 2, 3)", "%4", 1, -5, "N", "2, 3)"},  // extra arguments are left unread
    };
    for (const Case& c : cases) {
        CQoLanguage qo;
        Arguments args(qo, c.text);
        int32_t a = -5, b = -5;
        qo.ReadPara('N', args.cursor, c.format, &a, &b);
        EXPECT_EQ(qo.m_cType, 'N') << c.text;
        EXPECT_EQ(a, c.a) << c.text;
        EXPECT_EQ(b, c.b) << c.text;
        EXPECT_EQ(std::string(qo.m_strValue.view()), c.signature) << c.text;
        if (c.rest) {
            EXPECT_EQ(args.Rest(), c.rest) << c.text;
        }
    }
}

TEST(ReadParaTest, AnOptionalEntryIsSkippedWhenTheValueDoesNotFit) {
    struct Case {
        const char* text;
        int32_t number;
        const char* string;
        const char* signature;
    } cases[] = {
        {"5)", 5, "old", "N"},
        {"'x')", -1, "x", "-S"},
        {"5, 'y')", 5, "y", "NS"},
    };
    for (const Case& c : cases) {
        CQoLanguage qo;
        Arguments args(qo, c.text);
        int32_t number = -1;
        CString string = "old";
        qo.ReadPara('N', args.cursor, "?4%s", &number, &string);
        EXPECT_EQ(number, c.number) << c.text;
        EXPECT_EQ(Gbk(string), Gbk(c.string)) << c.text;
        EXPECT_EQ(std::string(qo.m_strValue.view()), c.signature) << c.text;
    }
}

// A length after s or v fills a buffer with at most n - 1 bytes and a zero.
TEST(ReadParaTest, AnyValueAsTextAndAsTypedText) {
    CQoLanguage qo;
    Arguments args(qo, "3, 3, 'a', 1.5, 'abcdefgh')");
    CString v, r, rs;
    char buffer[8] = "zzzzzzz", cut[8];
    memset(cut, 'z', sizeof cut);
    char *cell = buffer, *cutCell = cut;
    qo.ReadPara('N', args.cursor, "%v%r%r%v4%s5", &v, &r, &rs, &cell, &cutCell);
    EXPECT_EQ(Gbk(v), Gbk("3"));
    EXPECT_EQ(Gbk(r), Gbk("N:3"));
    EXPECT_EQ(Gbk(rs), Gbk("S:a"));
    EXPECT_STREQ(buffer, "1.5");
    EXPECT_EQ(std::string(cut, 6), std::string("abcd\0z", 6));
    EXPECT_EQ(std::string(qo.m_strValue.view()), "SSSSS");
}

TEST(ReadParaTest, IntegerCodesKeepTheLowBitsOfTheTruncatedNumber) {
    struct Case {
        const char* format;
        const char* text;
        int64_t expected;
    } cases[] = {
        {"%1", "300)", 44},       {"%1", "-1)", -1},        {"%1", "255)", -1},
        {"%2", "65535)", -1},     {"%2", "70000)", 4464},   {"%2", "-2.9)", -2},
        {"%4", "-1.9)", -1},      {"%4", "4294967295)", -1}, {"%4", "4294967296)", 0},
        {"%4", "2147483648)", INT32_MIN},                   {"%b", "0.5)", 1},
        {"%b", "0)", 0},          {"%b", "-3)", 1},
    };
    for (const Case& c : cases) {
        CQoLanguage qo;
        Arguments args(qo, c.text);
        unsigned char cell[8];
        memset(cell, 0x5A, sizeof cell);
        qo.ReadPara('N', args.cursor, c.format, cell);
        int64_t got = 0;
        switch (c.format[1]) {
        case '1': got = (int8_t)cell[0]; break;
        case 'b': got = cell[0]; break;
        case '2': {
            int16_t v;
            memcpy(&v, cell, sizeof v);
            got = v;
            break;
        }
        default: {
            int32_t v;
            memcpy(&v, cell, sizeof v);
            got = v;
            break;
        }
        }
        EXPECT_EQ(got, c.expected) << c.format << " " << c.text;
        // Only the cell's own width is written.
        const size_t width = c.format[1] == '2' ? 2 : c.format[1] == '4' ? 4 : 1;
        EXPECT_EQ(cell[width], 0x5A) << c.format << " " << c.text;
    }
}

// NULL (the empty type) gives each code its default.
TEST(ReadParaTest, FloatDoubleAndPointerCodesAndDefaults) {
    CQoLanguage qo;
    Arguments args(qo, "0.1, 0.1, convert('140737488355327', 'P', '%mem'), NULL, NULL, NULL)");
    float f = 0;
    double g = 0;
    uintptr_t p = 0, p0 = 9;
    CString s = "old";
    int32_t n = 9;
    qo.ReadPara('N', args.cursor, "%f%g%p%s%4%p", &f, &g, &p, &s, &n, &p0);
    EXPECT_EQ(f, 0.1f);
    EXPECT_EQ(g, 0.1);
    EXPECT_EQ(p, (uintptr_t)140737488355327ull);  // a 47-bit address survives
    EXPECT_EQ(Gbk(s), Gbk(""));
    EXPECT_EQ(n, 0);
    EXPECT_EQ(p0, 0u);
    EXPECT_EQ(std::string(qo.m_strValue.view()), "NNPSNP");
}

TEST(ReadParaTest, TheResultTypeRules) {
    struct Case {
        char resultType;
        char type;
        const char* rest;
    } cases[] = {
        {'N', 'N', "+ 1"}, {'s', 'S', "+ 1"}, {')', ')', ") + 1"}, {'(', ')', ") + 1"}, {0, 0, "+ 1"},
    };
    for (const Case& c : cases) {
        CQoLanguage qo;
        Arguments args(qo, "7) + 1");
        int32_t a = 0;
        qo.ReadPara(c.resultType, args.cursor, "%4", &a);
        EXPECT_EQ(a, 7);
        EXPECT_EQ(qo.m_cType, c.type) << (int)c.resultType;
        EXPECT_EQ(args.Rest(), c.rest) << (int)c.resultType;
    }
}

TEST(ReadParaTest, ANullFormatOrCursorReadsNothing) {
    CQoLanguage qo;
    Arguments args(qo, "7)");
    qo.ReadPara('S', args.cursor, nullptr);
    EXPECT_EQ(args.Rest(), "7)");
    EXPECT_EQ(ResultOf(qo), "S:");
    char* none = nullptr;
    qo.m_strValue = "x";
    qo.ReadPara('S', none, "%4", nullptr);
    EXPECT_EQ(ResultOf(qo), "S:");
}

// ---- errors ----

TEST(ReadParaTest, AWrongTypeNamesBothTypesAndTheArgumentText) {
    struct Case {
        const char* format;
        const char* text;
        const char* message;
    } cases[] = {
        {"%4%4", "'a', 5)", "参数类型不应该是S型，而应该是N型：\r\n'a', 5)"},
        {"%4%s", "1, 2)", "参数类型不应该是N型，而应该是S型：\r\n2)"},
        {"%S", "1)", "参数类型不应该是N型，而应该是S型：\r\n1)"},
        {"%p", " 1)", "参数类型不应该是N型，而应该是P型：\r\n1)"},
        {"%g", "convert(1, 'P'))", "参数类型不应该是P型，而应该是N型：\r\nconvert(1, 'P'))"},
        // An argument's own error comes from the executor, a forged address too.
        {"%4%4", "1 / 0, 5)", "被零除~"},
        {"%4", "convert('123', 'P', '%qol'))", "地址指针取变量值操作非法~"},
    };
    for (const Case& c : cases) {
        CQoLanguage qo;
        Arguments args(qo, c.text);
        int64_t a = 0, b = 0x77;
        qo.ReadPara('N', args.cursor, c.format, &a, &b);
        // A host sees the message as the error text; the signature is not stored.
        EXPECT_EQ(qo.m_cType, 'X') << c.text;
        std::string message = c.message;  // a prefix when it ends with '~'
        const bool prefix = message.back() == '~';
        if (prefix) message.pop_back();
        const std::string error(qo.m_strError.view());
        EXPECT_EQ(Gbk(prefix ? error.substr(0, message.size()) : error), Gbk(message)) << c.text;
        EXPECT_EQ(b, 0x77) << c.text;
    }
}

TEST(ReadParaTest, AnUnknownCodeShowsTheHelpText) {
    CQoLanguage qo;
    Arguments args(qo, "7)");
    int32_t a = 0;
    qo.ReadPara('N', args.cursor, "%x", &a);
    EXPECT_EQ(qo.m_cType, 'X');
    EXPECT_EQ(Gbk(qo.m_strError),
              Gbk("ReadPara第2个变元为参数格式化符，不能为：%x，只能取\r\n"
                  "  %s:CString %sn:char[n]\r\n"
                  "  %b:bool(0~1)\r\n"
                  "  %1:__int8,char(-128~127),byte(0~255)\r\n"
                  "  %2:__int16,short(-32768~32767),UINT,WORD(0~65535)\r\n"
                  "  %4:__int32,int,long(-2147483648~2147483647),DWORD,指针(0~4294967295)\r\n"
                  "  %f:float(+/-1.401298E-45~3.402823E38)\r\n"
                  "  %g:double(+/-4.94065645841247E-324~1.79769313486231E308)\r\n"
                  "  %p:void*(0~4294967295)\r\n"
                  "  %v任意型到CString %vn:任意型到char[n]\r\n"
                  "出错处：\r\n7)"));
}

// ---- syntax-check mode ----

TEST(ReadParaTest, InSyntaxCheckModeNothingIsStored) {
    CQoLanguage qo;
    qo.m_bSyntaxCheck = 1;
    Arguments args(qo, "7, , 'a', undefined_name)");
    int32_t a = -1;
    CString s = "old";
    qo.ReadPara('N', args.cursor, "%4%4%4%s", &a, &a, &a, &s);
    EXPECT_EQ(a, -1);
    EXPECT_EQ(Gbk(s), Gbk("old"));
    EXPECT_EQ(std::string(qo.m_strValue.view()), "?*??");
    EXPECT_EQ(qo.m_cType, 'N');
    EXPECT_EQ(args.Rest(), "");
}

TEST(ReadParaTest, ASyntaxCheckStopsAnExtensionFunctionAfterReading) {
    CQoLanguage qo;
    qo.m_bSyntaxCheck = 1;
    qo.m_modeFlags |= 0x01;
    CatchScope scope(qo.m_pRun);
    Arguments args(qo, "7)");
    EXPECT_THROW(qo.ReadPara('N', args.cursor, "%4", nullptr), QolUnwind);
    EXPECT_EQ(qo.m_cType, '?');
    EXPECT_EQ(qo.m_modeFlags & 0x01, 0x01);  // put back
}

// ---- by-reference arguments through a user executor ----

std::function<void(CQoLanguage*, char*&)> g_body;

char ArgumentExecutor(char** cursor, const char* word, CQoLanguage* qo) {
    if (strcmp(word, "rp") != 0 || !g_body) return 0;
    g_body(qo, *cursor);
    return 1;
}

class ByReferenceTest : public ::testing::Test {
protected:
    void SetUp() override { ruqo_UserQolExecutor("ArgListTest", '+', (intptr_t)&ArgumentExecutor); }
    void TearDown() override {
        ruqo_UserQolExecutor("ArgListTest", '-', 0);
        g_body = nullptr;
    }
    std::string Run(const char* text) { return qotool::test::RunAndResult(qo, text); }
    CQoLanguage qo;
};

TEST_F(ByReferenceTest, EachCodeWritesItsOwnForm) {
    struct Case {
        const char* format;
        const char* expected;
        const char* text = nullptr;  // null: the variable w of the code's type, passed with '&'
    } cases[] = {
        {"%1", "N:-1"},     {"%2", "N:-1"},       {"%4", "N:-1"}, {"%b", "N:255"},
        {"%f", "N:0.100000001490116"}, {"%g", "N:0.1"}, {"%s", "S:new"}, {"%S", "S:new"},
        {"%s8", "S:buffer"}, {"%p", "P:1234"},
        {"%4", "N:5", "w = 5; rp(w); w"},  // without '&' the variable is passed by value
    };
    for (const Case& c : cases) {
        static const Case* current;
        current = &c;
        g_body = [](CQoLanguage* q, char*& cursor) {
            union {
                int8_t i8;
                int16_t i16;
                int32_t i32;
                uint8_t u8;
                float f;
                double g;
                uintptr_t p;
            } cell{};
            CString text;
            char buffer[8];
            char* bufferCell = buffer;
            const char code = current->format[1];
            void* destination = code == 's' && current->format[2] ? (void*)&bufferCell
                                : (code == 's' || code == 'S') ? (void*)&text
                                                                : (void*)&cell;
            q->ReadPara('N', cursor, current->format, destination);
            switch (code) {
            case '1': cell.i8 = -1; break;
            case '2': cell.i16 = -1; break;
            case '4': cell.i32 = -1; break;
            case 'b': cell.u8 = 255; break;
            case 'f': cell.f = 0.1f; break;
            case 'g': cell.g = 0.1; break;
            case 'p': cell.p = 1234; break;
            default:
                text = "new";
                strcpy(buffer, "buffer");
                break;
            }
            q->WritePara();
            q->SetValueType('Z', nullptr);
        };
        const char* setup = c.text                                   ? c.text
                            : c.format[1] == 's' || c.format[1] == 'S' ? "w = 'old'; rp(&w); w"
                            : c.format[1] == 'p'                       ? "w = convert(5, 'P'); rp(&w); w"
                                                                       : "w = 5; rp(&w); w";
        EXPECT_EQ(Gbk(Run(setup)), Gbk(c.expected)) << c.format;
    }
}

TEST_F(ByReferenceTest, ReadingOneArgumentAtATimeKeepsTheList) {
    // '(' keeps earlier records and leaves the ')' for the caller; an
    // upper-case result type starts a new list.
    for (char second : {'(', 'N'}) {
        static char secondType;
        secondType = second;
        g_body = [](CQoLanguage* q, char*& c) {
            int32_t a = 0, b = 0;
            q->ReadPara('(', c, "%4", &a);
            q->ReadPara(secondType, c, "%4", &b);
            a = 10;
            b = 20;
            q->WritePara();
            q->SetValueType('Z', nullptr);
        };
        const std::string expected = second == '(' ? "S:10 20" : "S:1 20";
        EXPECT_EQ(Run("x = 1; y = 2; rp(&x, &y); str(x) + ' ' + str(y)"), expected) << second;
    }
}

TEST_F(ByReferenceTest, APointerCodeKeepsTheReferenceItself) {
    static uintptr_t seen;
    g_body = [](CQoLanguage* q, char*& c) {
        seen = 0;
        q->ReadPara('N', c, "%p", &seen);
        q->WritePara();  // unchanged: the variable receives its own address
        q->SetValueType('Z', nullptr);
    };
    EXPECT_EQ(Run("v = 1; rp(&v); Type(v)"), "S:P");
    QoLVarDefine* record = qotool::engine::DoVariable(&qo, "v", 0, 0);
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(seen, (uintptr_t)record);
    EXPECT_EQ(std::string(record->GetDef().view()), std::to_string(seen));
}

TEST_F(ByReferenceTest, AnErrorStopsTheHandlerBeforeItsWork) {
    static bool reached;
    reached = false;
    g_body = [](CQoLanguage* q, char*& c) {
        int32_t a = 0, b = 0;
        q->ReadPara('N', c, "%4%4", &a, &b);
        reached = true;
    };
    const std::string result = Run("rp('a', 5)");
    EXPECT_FALSE(reached);
    EXPECT_EQ(Gbk(result.substr(0, result.find("\r\n【位于】"))),
              Gbk("X:外部扩展函数rp执行错误\r\n参数类型不应该是S型，而应该是N型：\r\n'a', 5)"));
}

}  // namespace
