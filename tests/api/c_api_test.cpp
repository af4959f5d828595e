// The handle API of qotool.h as a C host uses it: runs, values with their
// lengths, variables, error positions, the syntax check, bad handles, the
// argument readers of C extension modules, and the functions a host
// registers on one interpreter (lookup, replacement and release, argument
// checks, re-entrant runs, calls into the script, arrays in and out).
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
    ~Interp() {
        if (handle) ruqo_FreeInterp(handle);
    }
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
    // Results keep their zero bytes; a text stops at its first one.
    EXPECT_EQ(interp.Run("s + ''"), std::string("S:a\0b", 5));
    EXPECT_EQ(interp.Run(std::string("7\0nosuch", 8)), "N:7");
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

// echo(...): its first argument back; argc(...): how many arrived; tag: the
// user data's text.
int Echo(QoInterp*, int argc, const QoValue* argv, QoValue* result, void*) {
    if (argc > 0) *result = argv[0];
    return QO_OK;
}
int Argc(QoInterp*, int argc, const QoValue*, QoValue* result, void*) {
    *result = ruqo_ValueNumber(argc);
    return QO_OK;
}
int Tag(QoInterp*, int, const QoValue*, QoValue* result, void* data) {
    *result = ruqo_ValueText(static_cast<const char*>(data), -1);
    return QO_OK;
}
int Half(QoInterp* qo, int argc, const QoValue* argv, QoValue* result, void*) {
    double n = 0;
    if (ruqo_CheckNumber(qo, argc, argv, 0, &n) != QO_OK) return QO_ERROR;
    *result = ruqo_ValueNumber(n / 2);
    return QO_OK;
}
int Join(QoInterp* qo, int argc, const QoValue* argv, QoValue* result, void*) {
    const char *a, *b;
    size_t na, nb;
    if (ruqo_CheckText(qo, argc, argv, 0, &a, &na) || ruqo_CheckText(qo, argc, argv, 1, &b, &nb)) return QO_ERROR;
    char buffer[64];  // a local buffer: the value copies it
    snprintf(buffer, sizeof buffer, "%.*s+%.*s", (int)na, a, (int)nb, b);
    *result = ruqo_ValueText(buffer, -1);
    return QO_OK;
}
int Fail(QoInterp* qo, int, const QoValue*, QoValue*, void*) { return ruqo_Error(qo, "盘点失败：%d", 7); }

int g_released = 0;
void Release(void*) { ++g_released; }

TEST(HostFunctionsTest, ScriptsCallThemWithValuesInAndOut) {
    Interp qo;
    static char tag[] = "data";
    ASSERT_EQ(ruqo_RegisterFunction(qo.handle, "echo", Echo, nullptr, nullptr), QO_OK);
    ASSERT_EQ(ruqo_RegisterFunction(qo.handle, "argc", Argc, nullptr, nullptr), QO_OK);
    ASSERT_EQ(ruqo_RegisterFunction(qo.handle, "tag", Tag, tag, nullptr), QO_OK);
    ASSERT_EQ(ruqo_RegisterFunction(qo.handle, "half", Half, nullptr, nullptr), QO_OK);
    ASSERT_EQ(ruqo_RegisterFunction(qo.handle, "join", Join, nullptr, nullptr), QO_OK);
    ASSERT_EQ(ruqo_RegisterFunction(qo.handle, "fail", Fail, nullptr, nullptr), QO_OK);
    const struct {
        const char* text;
        const char* result;
    } cases[] = {
        {"echo(6 * 7)", "N:42"},
        {"echo('a' + 'b')", "S:ab"},
        {"echo()", "Z:"},
        {"ECHO(1)", "N:1"},  // letter case does not matter, as for the built-ins
        {"argc()", "N:0"},
        {"argc(1, , 3)", "N:3"},
        {"tag() + tag()", "S:datadata"},
        {"half(5) + 1", "N:3.5"},
        {"join('x', str(half(8)))", "S:x+4"},
        {"try { fail() } catch (e) { e }", "S:盘点失败：7"},
        {"try { half('a') } catch (e) { e }", "S:参数类型不应该是S型，而应该是N型：\r\nhalf()第1个参数：'a'"},
        {"try { join('a') } catch (e) { e }", "S:参数类型不应该是Z型，而应该是S型：\r\njoin()第2个参数"},
        // A script's own function of the same name wins; the built-ins come first.
        {"#echo(v) { return 'mine'; } echo(1)", "S:mine"},
        {"remove echo(); echo(2)", "N:2"},
        {"#abs(v) { return 0; } abs(0 - 3)", "N:3"},
        {"ErrorCheck() { q = echo(undefinedName); }", "S:未定义变元=undefinedName"},
    };
    for (const auto& c : cases) EXPECT_EQ(Gbk(qo.Run(c.text)), Gbk(c.result)) << c.text;
    // An error outside a try stops the run with the bare message and its place.
    EXPECT_EQ(ruqo_Eval(qo.handle, "x = 1;\ny = fail();", -1, "f.qol"), QO_ERROR);
    QoErrorInfo info;
    ASSERT_EQ(ruqo_ErrorInfo(qo.handle, &info), QO_OK);
    EXPECT_EQ(Gbk(info.message), Gbk("盘点失败：7"));
    EXPECT_EQ(std::string(info.fileName), "f.qol");
    EXPECT_EQ(info.line, 2);
    EXPECT_EQ(info.column, 11);
    EXPECT_EQ(std::string(info.sourceLine), "y = fail();");
    EXPECT_NE(std::string(ruqo_ErrorMessage(qo.handle)), info.message);  // the whole text keeps its parts
}

TEST(HostFunctionsTest, ReplacementRemovalAndFreeReleaseEachOnce) {
    g_released = 0;
    Interp qo;
    static char first[] = "first", second[] = "second";
    ASSERT_EQ(ruqo_RegisterFunction(qo.handle, "tag", Tag, first, Release), QO_OK);
    ASSERT_EQ(ruqo_RegisterFunction(qo.handle, "TAG", Tag, second, Release), QO_OK);
    EXPECT_EQ(g_released, 1);
    EXPECT_EQ(qo.Run("tag()"), "S:second");
    EXPECT_EQ(ruqo_RegisterFunction(qo.handle, "tag", nullptr, nullptr, nullptr), QO_OK);
    EXPECT_EQ(g_released, 2);
    EXPECT_EQ(ruqo_RegisterFunction(qo.handle, "tag", nullptr, nullptr, nullptr), QO_NOTFOUND);
    EXPECT_TRUE(qotool::test::StartsWith(qo.Run("tag()"), "X:执行不认识的函数：tag\r\n"));
    // A thousand names, each found; all released with the interpreter.
    std::vector<std::string> names;
    for (int i = 0; i < 1000; ++i) names.push_back("f" + std::to_string(i));
    for (const std::string& name : names)
        ASSERT_EQ(ruqo_RegisterFunction(qo.handle, name.c_str(), Argc, nullptr, Release), QO_OK);
    std::string sum = "0";
    for (int i = 0; i < 1000; i += 37) sum += "+f" + std::to_string(i) + "(" + std::to_string(i) + ")";
    EXPECT_EQ(qo.Run(sum), "N:28");  // 28 calls of one argument each
    EXPECT_EQ(ruqo_FreeInterp(qo.handle), QO_OK);
    qo.handle = nullptr;
    EXPECT_EQ(g_released, 1002);
}

// nested(text): runs text on the same interpreter (or, with a second
// argument, on the one in user data) from inside the call.
int Nested(QoInterp* qo, int argc, const QoValue* argv, QoValue* result, void* other) {
    const char* text;
    size_t length;
    if (ruqo_CheckText(qo, argc, argv, 0, &text, &length)) return QO_ERROR;
    QoInterp* target = argc > 1 ? static_cast<QoInterp*>(other) : qo;
    const int rc = ruqo_Eval(target, text, (long)length, nullptr);
    char type;
    const char* value;
    size_t n;
    ruqo_GetResult(target, &type, &value, &n);
    *result = rc == QO_OK ? ruqo_ValueText(value, (long)n) : ruqo_ValueText("error", -1);
    // Registering while a host function of the interpreter runs is refused.
    if (ruqo_RegisterFunction(qo, "late", Echo, nullptr, nullptr) != QO_MISUSE) return ruqo_Error(qo, "registered");
    return QO_OK;
}

TEST(HostFunctionsTest, HostFunctionsRunTextOnTheirOwnAndOtherInterpreters) {
    Interp qo, other;
    ASSERT_EQ(ruqo_RegisterFunction(qo.handle, "nested", Nested, other.handle, nullptr), QO_OK);
    ASSERT_EQ(ruqo_RegisterFunction(other.handle, "nested", Nested, qo.handle, nullptr), QO_OK);
    EXPECT_EQ(qo.Run("v = 2; nested('v * 10') + '|' + str(v)"), "S:20|2");
    EXPECT_EQ(qo.Run("nested('w = 5', 1) + '|' + Type(w)"), "S:5|X");
    EXPECT_EQ(other.Run("w"), "N:5");
    EXPECT_EQ(qo.Run("nested('1/0') + nested('nested(\"3\", 1)', 1)"), "S:error3");
    EXPECT_EQ(qo.Run("1 + 1"), "N:2");  // usable afterwards
    EXPECT_EQ(ruqo_RegisterFunction(qo.handle, "late", Echo, nullptr, nullptr), QO_OK);
}

TEST(HostFunctionsTest, CallsIntoTheScriptPassArgumentsAsTheLanguageDoes) {
    Interp qo;
    qo.Run("#area(w, h = 2) { return w * h; }\n#shout(s) { return s + '!'; }\n#boom(x) { return x / 0; }");
    const QoValue three = ruqo_ValueNumber(3), four = ruqo_ValueNumber(4);
    const QoValue zeroText = ruqo_ValueText("a\0b", 3);
    QoValue args[] = {three, four}, result;
    EXPECT_EQ(ruqo_Call(qo.handle, "area", 2, args, &result), QO_OK);
    EXPECT_EQ(result.type, 'N');
    EXPECT_EQ(result.number, 12);
    EXPECT_EQ(ruqo_Call(qo.handle, "area", 1, &three, &result), QO_OK);  // the default
    EXPECT_EQ(result.number, 6);
    EXPECT_EQ(ruqo_Call(qo.handle, "shout", 1, &zeroText, &result), QO_OK);
    EXPECT_EQ(std::string(result.text, (size_t)result.length), std::string("a\0b!", 4));
    EXPECT_EQ(ruqo_Call(qo.handle, "boom", 1, &three, &result), QO_ERROR);
    EXPECT_EQ(result.type, 'X');
    int line = 0, column = 0;
    EXPECT_EQ(ruqo_ErrorPosition(qo.handle, &line, &column), QO_OK);  // in the defining text
    EXPECT_EQ(line, 3);
    EXPECT_EQ(ruqo_Call(qo.handle, "nosuch", 0, nullptr, &result), QO_NOTFOUND);
    EXPECT_EQ(ruqo_Call(qo.handle, "abs", 1, &three, &result), QO_NOTFOUND);  // built-ins are not script functions
}

TEST(HostFunctionsTest, ArraysGoInAndComeOutWhole) {
    Interp qo;
    QoValue cells[] = {ruqo_ValueNumber(1), ruqo_ValueText("two", -1), ruqo_ValueNone(),
                       ruqo_ValueNumber(4), ruqo_ValueText("x\0y", 3), ruqo_ValueObject(77, "%Thing")};
    ASSERT_EQ(ruqo_SetArray(qo.handle, "m", 2, 3, cells), QO_OK);
    EXPECT_EQ(qo.Run("m[0,1] + m[1][1] + Type(m[0,2]) + str(m[1,0] + 1)"), std::string("S:twox\0yZ5", 10));
    qo.Run("m[2,0] = 9; v[4] = 'e'");
    QoValue out[9];
    int rows = 0, columns = 0;
    ASSERT_EQ(ruqo_GetArray(qo.handle, "m", &rows, &columns, out, 9), QO_OK);
    EXPECT_EQ(rows, 3);
    EXPECT_EQ(columns, 3);
    EXPECT_EQ(out[6].type, 'N');
    EXPECT_EQ(out[6].number, 9);
    EXPECT_EQ(std::string(out[4].text, (size_t)out[4].length), std::string("x\0y", 3));
    EXPECT_EQ(out[5].pointer, 77u);
    EXPECT_EQ(std::string(out[5].extType), "%Thing");
    EXPECT_EQ(out[7].type, 'Z');
    ASSERT_EQ(ruqo_GetArray(qo.handle, "v", &rows, &columns, nullptr, 0), QO_OK);
    EXPECT_EQ(rows * 10 + columns, 51);
    // Set again: the old array goes whole.
    ASSERT_EQ(ruqo_SetArray(qo.handle, "m", 1, 0, cells), QO_OK);
    EXPECT_EQ(ruqo_GetArray(qo.handle, "m", &rows, &columns, nullptr, 0), QO_OK);
    EXPECT_EQ(rows * 10 + columns, 11);
    EXPECT_EQ(ruqo_GetArray(qo.handle, "nosuch", &rows, &columns, out, 9), QO_NOTFOUND);
}

int BadType(QoInterp*, int, const QoValue*, QoValue* result, void*) {
    result->type = 'Q';
    return QO_OK;
}
int BadLength(QoInterp*, int, const QoValue*, QoValue* result, void*) {
    result->type = 'S';
    result->text = "abc";
    result->length = -2;
    return QO_OK;
}
int Silent(QoInterp*, int, const QoValue*, QoValue*, void*) { return 5; }

TEST(HostFunctionsTest, BadInputGetsADefinedAnswer) {
    Interp qo;
    const std::string longName(81, 'n'), longestName(80, 'n');
    const struct {
        QoInterp* interp;
        const char* name;
        int code;
    } registrations[] = {
        {nullptr, "f", QO_MISUSE},
        {reinterpret_cast<QoInterp*>(&g_released), "f", QO_MISUSE},
        {qo.handle, nullptr, QO_MISUSE},
        {qo.handle, "", QO_MISUSE},
        {qo.handle, longName.c_str(), QO_MISUSE},
        {qo.handle, "9lives", QO_MISUSE},
        {qo.handle, "a.b", QO_MISUSE},
        {qo.handle, "a b", QO_MISUSE},
        {qo.handle, "\xB0", QO_MISUSE},  // a lead byte without its trail
        {qo.handle, longestName.c_str(), QO_OK},
        {qo.handle, "名字_2", QO_OK},
    };
    for (const auto& r : registrations)
        EXPECT_EQ(ruqo_RegisterFunction(r.interp, r.name, Echo, nullptr, nullptr), r.code) << (r.name ? r.name : "null");
    EXPECT_EQ(ruqo_RegisterFunction(qo.handle, "nothing", nullptr, nullptr, Release), QO_NOTFOUND);
    ruqo_RegisterFunction(qo.handle, "badtype", BadType, nullptr, nullptr);
    ruqo_RegisterFunction(qo.handle, "badlength", BadLength, nullptr, nullptr);
    ruqo_RegisterFunction(qo.handle, "silent", Silent, nullptr, nullptr);
    const struct {
        const char* text;
        const char* result;
    } runs[] = {
        {"try { badtype() } catch (e) { e }", "S:宿主函数badtype返回的值类型非法（81）"},
        {"try { badlength() } catch (e) { e }", "S:宿主函数badlength返回的文本非法（长度-2）"},
        {"try { silent() } catch (e) { e }", "S:外部扩展函数silent执行错误"},
        {"名字_2('ok')", "S:ok"},
    };
    for (const auto& r : runs) EXPECT_EQ(Gbk(qo.Run(r.text)), Gbk(r.result)) << r.text;
    // Outside a host function there is no call to fail or check.
    EXPECT_EQ(ruqo_Error(qo.handle, "x"), QO_MISUSE);
    const QoValue n = ruqo_ValueNumber(1);
    EXPECT_EQ(ruqo_CheckText(qo.handle, 1, &n, 0, nullptr, nullptr), QO_MISUSE);
    QoValue bad = ruqo_ValueText("abc", -1);
    bad.length = -1;
    qo.Run("#f(a) { return a; }");
    EXPECT_EQ(ruqo_Call(qo.handle, "f", 1, &bad, nullptr), QO_MISUSE);
    EXPECT_EQ(ruqo_Call(qo.handle, "f", 1, nullptr, nullptr), QO_MISUSE);
    EXPECT_EQ(ruqo_SetArray(qo.handle, "a", 0, 0, &n), QO_MISUSE);
    EXPECT_EQ(ruqo_SetArray(qo.handle, "a", 1, 256, &n), QO_MISUSE);
    EXPECT_EQ(ruqo_SetArray(qo.handle, "a", 1, 1, &bad), QO_MISUSE);
    QoErrorInfo info;
    EXPECT_EQ(ruqo_ErrorInfo(nullptr, &info), QO_MISUSE);
    EXPECT_EQ(qo.Run("7"), "N:7");
    EXPECT_EQ(ruqo_ErrorInfo(qo.handle, &info), QO_NOTFOUND);
}

}  // namespace
