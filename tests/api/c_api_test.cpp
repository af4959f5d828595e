// The handle API of qotool.h as a C host uses it: runs, values with their
// lengths, variables, error positions, the syntax check, bad handles, and
// the argument readers of C extension modules.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "qotool/qolanguage.h"
#include "qotool/qotool.h"
#include "support/gbk_text.h"

using qotool::test::Gbk;

namespace {

struct Interp {
    QoInterp* handle = ruqo_CreateInterp();
    ~Interp() { ruqo_FreeInterp(handle); }
    // Runs text; "T:value" with the value's bytes, zero bytes kept.
    std::string Run(const std::string& text, const char* fileName = nullptr) {
        ruqo_Eval(handle, text.data(), (long)text.size(), fileName);
        char type = 0;
        const char* value = nullptr;
        size_t length = 0;
        EXPECT_EQ(ruqo_GetResult(handle, &type, &value, &length), QO_OK);
        return std::string(1, type) + ":" + std::string(value, length);
    }
};

TEST(CApiTest, RunsGiveTypeValueAndLength) {
    Interp interp;
    const struct {
        std::string text;
        std::string result;
        int code;
    } cases[] = {
        {"1 + 2", "N:3", QO_OK},
        {"'a' 'b'", "S:ab", QO_OK},
        {"", "Z:", QO_OK},
        {"'a\\x00b'", std::string("S:a\0b", 5), QO_OK},
        {"x = 5", "N:5", QO_OK},
        {"x * 2", "N:10", QO_OK},  // variables live on between runs
        // The text stops at its first zero byte.
        {std::string("7\0nosuch", 8), "N:7", QO_OK},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ruqo_Eval(interp.handle, c.text.data(), (long)c.text.size(), nullptr), c.code) << c.text;
        EXPECT_EQ(Gbk(interp.Run(c.text)), Gbk(c.result)) << c.text;
    }
}

TEST(CApiTest, ErrorsKeepTheSystemsMessageAndGiveLineAndColumn) {
    Interp interp;
    const struct {
        const char* text;
        const char* fileName;
        int line, column;  // 0: no position
    } cases[] = {
        {"a = 1;\nb = 2;\nc = a + missing;", nullptr, 3, 16},
        {"a = 1;\r\n\r\n  missing", "f.qol", 3, 10},
        {"'中文' + missing", nullptr, 1, 15},
        {"#f(p){\n  return p + missing;\n}\nf(1);", "g.qol", 2, 21},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ruqo_Eval(interp.handle, c.text, -1, c.fileName), QO_ERROR) << c.text;
        const std::string message = ruqo_ErrorMessage(interp.handle);
        EXPECT_NE(message.find("'missing' 变量未定义"), std::string::npos) << ::testing::PrintToString(Gbk(message));
        EXPECT_NE(message.find("【发生错误处】"), std::string::npos) << ::testing::PrintToString(Gbk(message));
        int line = 0, column = 0;
        EXPECT_EQ(ruqo_ErrorPosition(interp.handle, &line, &column), QO_OK) << c.text;
        EXPECT_EQ(line, c.line) << c.text;
        EXPECT_EQ(column, c.column) << c.text;
    }
    // A good run clears the error.
    EXPECT_EQ(ruqo_Eval(interp.handle, "1", -1, nullptr), QO_OK);
    EXPECT_STREQ(ruqo_ErrorMessage(interp.handle), "");
    EXPECT_EQ(ruqo_ErrorPosition(interp.handle, nullptr, nullptr), QO_NOTFOUND);
}

TEST(CApiTest, VariablesGoInAndComeOutWhole) {
    Interp interp;
    EXPECT_EQ(ruqo_SetVar(interp.handle, "s", 'S', "a\0b", 3), QO_OK);
    EXPECT_EQ(ruqo_SetVar(interp.handle, "n", 'N', "2.5", -1), QO_OK);
    EXPECT_EQ(ruqo_SetVar(interp.handle, "t[2][1]", 'S', "cell", -1), QO_OK);
    EXPECT_EQ(interp.Run("len(s) + n"), "N:5.5");
    char type = 0;
    const char* text = nullptr;
    size_t length = 0;
    EXPECT_EQ(ruqo_GetVar(interp.handle, "s", &type, &text, &length), QO_OK);
    EXPECT_EQ(std::string(text, length), std::string("a\0b", 3));
    EXPECT_EQ(type, 'S');
    EXPECT_EQ(ruqo_GetVar(interp.handle, "t[2][1]", &type, &text, &length), QO_OK);
    EXPECT_STREQ(text, "cell");
    EXPECT_EQ(ruqo_GetVar(interp.handle, "nosuch", &type, &text, &length), QO_NOTFOUND);
    // Writing a variable leaves the last result alone.
    interp.Run("'kept'");
    EXPECT_EQ(ruqo_SetVar(interp.handle, "n", 'N', "1", -1), QO_OK);
    ruqo_GetResult(interp.handle, &type, &text, &length);
    EXPECT_STREQ(text, "kept");
    // The store's refusals come back with the system's message.
    EXPECT_EQ(ruqo_SetVar(interp.handle, "t[1][300]", 'S', "x", -1), QO_ERROR);
    EXPECT_NE(std::string(ruqo_ErrorMessage(interp.handle)).find("超出0至254"), std::string::npos);
    EXPECT_EQ(ruqo_SetVar(interp.handle, "v", 'P', "1", -1), QO_MISUSE);
}

TEST(CApiTest, NullAndUnknownHandlesAreRefused) {
    QoInterp* freed = ruqo_CreateInterp();
    ASSERT_EQ(ruqo_FreeInterp(freed), QO_OK);
    int stack = 0;
    QoInterp* forged = reinterpret_cast<QoInterp*>(&stack);
    for (QoInterp* bad : {static_cast<QoInterp*>(nullptr), freed, forged}) {
        EXPECT_EQ(ruqo_Eval(bad, "1", -1, nullptr), QO_MISUSE);
        EXPECT_EQ(ruqo_GetResult(bad, nullptr, nullptr, nullptr), QO_MISUSE);
        EXPECT_EQ(ruqo_GetVar(bad, "x", nullptr, nullptr, nullptr), QO_MISUSE);
        EXPECT_EQ(ruqo_SetVar(bad, "x", 'N', "1", -1), QO_MISUSE);
        EXPECT_EQ(ruqo_ErrorPosition(bad, nullptr, nullptr), QO_MISUSE);
        EXPECT_EQ(ruqo_CheckSyntax(bad, "1", -1, nullptr, nullptr), QO_MISUSE);
        EXPECT_EQ(ruqo_FreeInterp(bad), QO_MISUSE);
        EXPECT_EQ(ruqo_InterpObject(bad), nullptr);
        EXPECT_STRNE(ruqo_ErrorMessage(bad), "");
    }
    Interp interp;
    EXPECT_EQ(ruqo_Eval(interp.handle, nullptr, -1, nullptr), QO_MISUSE);
    EXPECT_EQ(ruqo_GetVar(interp.handle, nullptr, nullptr, nullptr, nullptr), QO_MISUSE);
    EXPECT_EQ(ruqo_FreeInterp(ruqo_SharedInterp()), QO_MISUSE);
    CQoLanguage* notAnInterpreter = reinterpret_cast<CQoLanguage*>(&stack);
    char* cursor = nullptr;
    EXPECT_EQ(ruqo_ReadPara(notAnInterpreter, 'N', &cursor, "", nullptr), QO_MISUSE);
    EXPECT_EQ(ruqo_ValueType(notAnInterpreter), 0);
    EXPECT_EQ(ruqo_SetValueNumber(nullptr, 1), QO_MISUSE);
    EXPECT_STREQ(ruqo_ValueExtType(nullptr), "");
}

TEST(CApiTest, SharedHandleRunsWhereExecQolRuns) {
    QoInterp* shared = ruqo_SharedInterp();
    ASSERT_NE(shared, nullptr);
    EXPECT_EQ(ruqo_SharedInterp(), shared);
    EXPECT_EQ(ruqo_InterpObject(shared), ruqo_GetSharedQol());
    ASSERT_EQ(ruqo_Eval(shared, "capi_shared = 41", -1, nullptr), QO_OK);
    EXPECT_STREQ(ruqo_ExecQol("capi_shared + 1"), "N:42");
}

TEST(CApiTest, CheckSyntaxReportsFindingsInOrder) {
    Interp interp;
    interp.Run("defined = 1");
    struct Finding {
        int line, column;
        std::string message;
    };
    const struct {
        const char* text;
        std::vector<std::string> findings;  // "line:column message"
    } cases[] = {
        {"x = defined + 1;\ny = x;", {}},
        {"a = 1;\nfoo(a);\nb = nosuch;", {"2:1 执行不认识的函数：foo", "3:5 'nosuch' 变量未定义"}},
        {"\n\nb = (1 + ;", {"3:10 N型数据(1)不能加Z型数据()"}},
        {"while (1) { n = nosuch2 }", {"1:17 'nosuch2' 变量未定义"}},
    };
    for (const auto& c : cases) {
        std::vector<std::string> found;
        auto report = [](void* context, int line, int column, const char* message) {
            static_cast<std::vector<std::string>*>(context)->push_back(std::to_string(line) + ":" +
                                                                       std::to_string(column) + " " + message);
        };
        const int code = ruqo_CheckSyntax(interp.handle, c.text, -1, report, &found);
        EXPECT_EQ(code, c.findings.empty() ? QO_OK : QO_ERROR) << c.text;
        ASSERT_EQ(found.size(), c.findings.size()) << c.text;
        for (size_t i = 0; i < found.size(); ++i) EXPECT_EQ(Gbk(found[i]), Gbk(c.findings[i])) << c.text;
    }
    // Nothing ran for real.
    EXPECT_EQ(interp.Run("Type(x)"), "S:X");
    EXPECT_EQ(interp.Run("Type(a)"), "S:X");
    EXPECT_EQ(interp.Run("defined"), "N:1");
}

// An executor in the shape of a C module's, reading through the C readers.
char ReaderExecutor(char** cursor, const char* word, CQoLanguage* qo) {
    if (strcmp(word, "capi_join") != 0) return 0;
    QoText a = {nullptr, 0}, b = {nullptr, 0};
    int32_t n = 0;
    char small[8] = "";
    char* cell = small;
    if (ruqo_ReadPara(qo, 'S', cursor, "%s%4?v?s8", &a, &n, &b, &cell, nullptr) != QO_OK) return 1;
    std::string out(a.data, a.length);
    out += "|" + std::to_string(n) + "|" + (b.data ? std::string(b.data, b.length) : "-") + "|" + small;
    ruqo_SetValueText(qo, out.data(), (long)out.size());
    return 1;
}

TEST(CApiTest, ExtensionReadersServeCModules) {
    ruqo_UserQolExecutor("capi_reader", '+', reinterpret_cast<intptr_t>(&ReaderExecutor));
    Interp interp;
    const struct {
        const char* text;
        std::string result;
    } cases[] = {
        {"capi_join('a\\x00', 7, 1.5, 'longer text')", std::string("S:a\0|7|1.5|longer ", 18)},
        {"capi_join('x', 4294967295)", "S:x|-1|-|"},
        {"capi_join('x', 2,, 'y')", "S:x|2|-|y"},
    };
    for (const auto& c : cases) EXPECT_EQ(Gbk(interp.Run(c.text)), Gbk(c.result)) << c.text;
    // A wrong type is the system's message, through the external call.
    EXPECT_EQ(ruqo_Eval(interp.handle, "capi_join(1, 2)", -1, nullptr), QO_ERROR);
    EXPECT_NE(std::string(ruqo_ErrorMessage(interp.handle)).find("参数类型不应该是N型"), std::string::npos)
        << ::testing::PrintToString(Gbk(ruqo_ErrorMessage(interp.handle)));
    ruqo_UserQolExecutor("capi_reader", '-', 0);
}

TEST(CApiTest, VersionMatchesTheHeader) {
    EXPECT_STREQ(ruqo_LibVersion(), QO_VERSION);
    EXPECT_EQ(ruqo_LibVersionNumber(), QO_VERSION_NUMBER);
}

}  // namespace
