// The run entry points (DoQol, Do, DoSentenceReturnAllType, ruqo_ExecQol,
// ruqo_ExecQolEx), the instance registry, the nesting limits and the user
// executor table. What scripts see of docmd is in control.cases and
// paths.cases; texts that try to break the interpreter in robustness.cases.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/instance.h"
#include "engine/run_context.h"
#include "platform/module_path.h"
#include "platform/ui.h"
#include "qotool/qolanguage.h"
#include "qotool/qotool.h"
#include "support/gbk_text.h"
#include "support/log_capture.h"
#include "support/recording_ui.h"
#include "support/result_text.h"

namespace {

using qotool::engine::CatchScope;
using qotool::engine::QolUnwind;
using qotool::test::CountOf;
using qotool::test::StartsWith;
using qotool::test::Gbk;
using qotool::test::Readable;
using qotool::test::ResultOf;
using qotool::test::RunAndResult;

using qotool::test::RecordingUi;

// Removes the executors a test registered, whatever happens to the test.
class ExecutorCleanup {
public:
    ~ExecutorCleanup() {
        for (auto it = names_.rbegin(); it != names_.rend(); ++it)
            ruqo_UserQolExecutor(it->first.c_str(), '-', it->second);
    }
    intptr_t Add(const std::string& name, QoUserExecutor function) {
        names_.push_back({name, (intptr_t)function});
        return ruqo_UserQolExecutor(name.c_str(), '+', (intptr_t)function);
    }

private:
    std::vector<std::pair<std::string, intptr_t>> names_;
};

// Leaves the value N:number and the cursor where it is (at the ')').
void SetNumber(CQoLanguage* qo, double number) {
    qo->SetValueType('N', nullptr);
    qo->m_dValue = number;
}

// ---- DoQol ----

TEST(DoQolTest, ARunLeavesTheInterpreterIdle) {
    // An empty text enters no level: the error text of before stays (the
    // outermost level would have emptied it). Every other run starts with an
    // empty error text.
    for (const char* text : {(const char*)nullptr, "", "1", "abc", "{{1}}", "(((2", "$$$abc"}) {
        CQoLanguage qo;
        const bool empty = !text || !*text;
        EXPECT_EQ(qo.m_cType, 'Z');  // a new interpreter has no value
        qo.m_cType = 'N';
        qo.m_strError = "kept";
        const int guards = qotool::engine::OpenGuardCount();
        EXPECT_EQ(qo.DoQol(text, nullptr), &qo) << text;
        if (empty) {
            EXPECT_EQ(qo.m_cType, 'Z');
            EXPECT_EQ(Gbk(qo.m_strError), Gbk("kept"));
        }
        EXPECT_EQ(qo.m_pRun->level, 0) << text;
        EXPECT_EQ(qo.m_pRun->catchDepth, 0) << text;
        EXPECT_EQ(qo.m_pRun->bracketDepth, 0) << text;
        EXPECT_EQ(qo.m_pRun->statementStart, nullptr) << text;
        EXPECT_EQ(qo.m_nScopeLevel, 0) << text;
        EXPECT_EQ(qo.m_pHostData, nullptr) << text;
        EXPECT_EQ(qo.IsReturnValueOfDoqol(), 0) << text;
        EXPECT_EQ(qo.GetQolState(2), 1) << text;
        EXPECT_EQ(qotool::engine::OpenGuardCount(), guards) << text;
        qo.DoQol("1", nullptr);
        EXPECT_EQ(Gbk(qo.m_strError), Gbk("")) << text;
    }
}

// A host may rewrite its text buffer between runs, or hand the buffer to
// another interpreter: every run reads what the buffer holds then.
TEST(DoQolTest, ABufferRewrittenInPlaceIsReadAgain) {
    struct Row {
        int interpreter;
        const char* text;
        const char* result;
    };
    const Row rows[] = {
        {0, "s=0", "N:0"},
        {0, "s=s+1", "N:1"},
        {0, "s=s*3", "N:3"},  // same length, same address
        {0, "s=s", "N:3"},    // shorter
        {0, "for(i=0;i<4;i++){s=s+i;} s", "N:9"},
        {0, "for(i=0;i<4;i++){s=s-i;} s", "N:3"},
        {1, "s=s+1", "X:'s' 变量未定义"},  // another interpreter, same buffer
        {0, "s", "N:3"},
    };
    CQoLanguage interpreters[2];
    char buffer[64];
    for (const Row& row : rows) {
        snprintf(buffer, sizeof buffer, "%s", row.text);
        interpreters[row.interpreter].DoQol(buffer, nullptr);
        const std::string result = ResultOf(interpreters[row.interpreter]);
        EXPECT_EQ(Gbk(result.substr(0, result.find('\r'))), Gbk(row.result)) << row.text;
    }
}

TEST(DoQolTest, ADestroyedInterpreterIsRefusedBeforeItsMembersAreTouched) {
    RecordingUi ui;
    qotool::test::LogCapture log;
    alignas(CQoLanguage) unsigned char storage[sizeof(CQoLanguage)];
    CQoLanguage* qo = new (storage) CQoLanguage();
    EXPECT_EQ(qo->DoQol("1", nullptr), qo);
    qo->~CQoLanguage();
    // Whatever the members were, they are garbage now.
    memset(storage, 0xA5, sizeof storage);
    EXPECT_EQ(qo->DoQol("1", nullptr), nullptr);
    ASSERT_EQ(log.Messages().size(), 1u);
    EXPECT_EQ(Gbk(log.Messages()[0]), Gbk("QOL解析器实例句柄非法或不存在，可能是其已析构"));
}

TEST(DoQolTest, HostDataIsInstalledForTheRunAndPutBack) {
    static void* seen = nullptr;
    ExecutorCleanup executors;
    executors.Add("hostdata", [](char**, const char* word, CQoLanguage* qo) -> char {
        if (!*word) return 0;
        seen = qo->m_pHostData;
        SetNumber(qo, 1);
        return 1;
    });
    CQoLanguage qo;
    int data = 0;
    qo.DoQol("hostdata()", &data);
    EXPECT_EQ(seen, &data);
    EXPECT_EQ(qo.m_pHostData, nullptr);
    // A null host data keeps what is there.
    qo.m_pHostData = &seen;
    seen = nullptr;
    qo.DoQol("hostdata()", nullptr);
    EXPECT_EQ(seen, (void*)&seen);
    EXPECT_EQ(qo.m_pHostData, (void*)&seen);
}

// ---- Do ----

// A QOL file in the library's directory (for the unit tests, the directory
// of the test program), removed again at the end.
class QolFile {
public:
    QolFile(const std::string& name, const std::string& content)
        : name_(name + "_" + std::to_string(getpid()) + ".qol"),
          path_(qotool::platform::LibraryDirectory() + name_) {
        FILE* f = fopen(path_.c_str(), "wb");
        if (f) {
            fwrite(content.data(), 1, content.size(), f);
            fclose(f);
        }
    }
    ~QolFile() { remove(path_.c_str()); }
    const std::string& name() const { return name_; }
    const std::string& path() const { return path_; }

private:
    std::string name_, path_;
};

std::string g_fileSeen;

TEST(DoTest, RunsARelativeFileFromTheLibraryDirectory) {
    ExecutorCleanup executors;
    executors.Add("currentfile", [](char**, const char* word, CQoLanguage* qo) -> char {
        if (!*word) return 0;
        g_fileSeen = std::string(qo->m_pRun->currentFile.view());
        SetNumber(qo, 1);
        return 1;
    });
    QolFile file("run_entry_ok", "currentfile();\r\n'from file'");
    CQoLanguage qo;
    qo.m_pRun->currentFile = "outer.qol";
    EXPECT_EQ(qo.Do("qolfile", file.name().c_str()), &qo);
    EXPECT_EQ(ResultOf(qo), "S:from file");
    EXPECT_EQ(g_fileSeen, file.path());
    EXPECT_EQ(Gbk(qo.m_pRun->currentFile), Gbk("outer.qol"));
    // An absolute path, kind in any case.
    qo.Do("QOLFILE", file.path().c_str());
    EXPECT_EQ(ResultOf(qo), "S:from file");
}

TEST(DoTest, AnErrorInAFileShowsThePathInItsExcerpt) {
    QolFile file("run_entry_bad", "1;\r\nbad");
    CQoLanguage qo;
    qo.Do("qolfile", file.name().c_str());
    const std::string header = "〖" + file.path() + "〗\r\n";
    const std::string error(qo.m_strError.view());
    EXPECT_EQ(qo.m_cType, 'X');
    const std::string position = "〖错误位置" + std::to_string(header.size() + 7) + "〗";
    EXPECT_TRUE(StartsWith(error, "'bad' 变量未定义\r\n【位于】" + position + "：\r\n")) << Readable(error);
    EXPECT_EQ(CountOf(error, header), 1) << Readable(error);
    EXPECT_EQ(CountOf(error, "【位于】"), 1) << Readable(error);
    EXPECT_NE(error.find("1;\r\nbad【发生错误处】"), std::string::npos) << Readable(error);
    EXPECT_EQ(qo.m_pRun->level, 0);
    EXPECT_EQ(Gbk(qo.m_pRun->currentFile), Gbk(""));
}

TEST(DoTest, AMissingOrEndlessFileIsAnError) {
    CQoLanguage qo;
    qo.DoQol("1;2", nullptr);  // a text of an earlier run must not show up
    const std::string name = "no_such_file_" + std::to_string(getpid()) + ".qol";
    EXPECT_EQ(qo.Do("qolfile", name.c_str()), &qo);
    EXPECT_EQ(qo.m_cType, 'X');
    EXPECT_EQ(Gbk(qo.m_strError), Gbk("不能开启qol文件：" + qotool::platform::LibraryDirectory() + name));

    qo.Do("qolfile", "/no/such/dir/x.qol");
    EXPECT_EQ(Gbk(qo.m_strError), Gbk("不能开启qol文件：/no/such/dir/x.qol"));
    // The C entry: a null path, and /dev/zero, which never ends: the read
    // stops at the size limit.
    EXPECT_STREQ(ruqo_ExecQol(nullptr), "Z:");
    EXPECT_EQ(Gbk(ruqo_ExecQolFile(nullptr, nullptr, 0)), Gbk("X:不能开启qol文件："));
    EXPECT_EQ(Gbk(ruqo_ExecQolFile(nullptr, "1", 1)), Gbk("X:不能开启qol文件："));
    EXPECT_TRUE(StartsWith(ruqo_ExecQolFile("/dev/zero", nullptr, 0), "X:不能开启qol文件：/dev/zero"));
    EXPECT_STREQ(ruqo_ExecQol("1+1"), "N:2");

    // A syntax check opens no file.
    qo.m_bSyntaxCheck = 1;
    qo.m_strError = "";
    qo.m_cType = 'N';
    qo.Do("qolfile", "/no/such/dir/x.qol");
    EXPECT_EQ(qo.m_cType, 'N');
    EXPECT_EQ(Gbk(qo.m_strError), Gbk(""));
}

TEST(DoTest, ClearResetsModesAndTexts) {
    CQoLanguage qo;
    qo.m_modeFlags = 0x02 | 0x10 | 0x20;
    qo.m_strError = "old";
    qo.m_cType = 'X';
    qo.m_nScopeLevel = 3;
    EXPECT_EQ(qo.BindTableBuffer(nullptr), 0);  // a host's null name unbinds
    EXPECT_EQ(qo.BindTableBuffer("table"), 1);
    qo.m_pRun->checkLevel = 2;
    EXPECT_EQ(qo.Do("Clear", "ignored"), &qo);
    EXPECT_EQ(qo.m_cType, 'Z');
    EXPECT_EQ(qo.m_modeFlags, 0x04);
    EXPECT_EQ(Gbk(qo.m_strError), Gbk(""));
    EXPECT_EQ(qo.m_nScopeLevel, 0);
    EXPECT_EQ(qo.m_pRun->checkLevel, 0);
    EXPECT_EQ(Gbk(qo.m_pRun->tableBufferName), Gbk(""));
    EXPECT_EQ(qo.GetQolState(1), 0);
    EXPECT_EQ(qo.GetQolState(2), 1);
    EXPECT_EQ(qo.GetQolState(3), 0);
}

// ---- DoSentenceReturnAllType ----

TEST(DoSentenceReturnAllTypeTest, FillsEveryMember) {
    struct Case {
        const char* text;
        char type;
        double number;
        std::string string;
        uintptr_t pointer;
    } cases[] = {
        {"3.7", 'N', 3.7, "3.7", 3},
        {"-1", 'N', -1, "-1", 0xFFFFFFFFu},
        {"1e20", 'N', 1e20, "1e+20", 0},  // pointer: saturated, not checked
        {"'12.5abc'", 'S', 12.5, "12.5abc", 12},
        {"'abc'", 'S', 0, "abc", 0},
        {"1; 2", 'N', 1, "1", 1},
    };
    for (const Case& c : cases) {
        CQoLanguage qo;
        std::string text = c.text;
        EXPECT_EQ(qo.DoSentenceReturnAllType(text.data()), &qo) << c.text;
        EXPECT_EQ(qo.m_cType, c.type) << c.text;
        EXPECT_EQ(qo.m_dValue, c.number) << c.text;
        EXPECT_EQ(Gbk(qo.m_strValue), Gbk(c.string)) << c.text;
        if (c.number < 1e19) {
            EXPECT_EQ(qo.m_pValue, c.pointer) << c.text;
        }
        EXPECT_EQ(qo.m_pRun->level, 0) << c.text;
        EXPECT_EQ(qo.m_pRun->catchDepth, 0) << c.text;
    }
}

TEST(DoSentenceReturnAllTypeTest, AnErrorEmptiesTheOtherMembersAndIsReportedOnce) {
    // With error skip on, the sentence ends normally with the bare message and
    // the members are emptied before the error is passed on. A null text is an
    // error of its own and leaves the pointer as it is.
    struct Case {
        const char* text;
        bool skip;
        const char* error;
    } cases[] = {
        {"abc", false, "'abc' 变量未定义\r\n【位于】〖错误位置3〗：\r\nabc【发生错误处】"},
        {"abc", true, "'abc' 变量未定义"},
        {nullptr, true, "不存在的QOL语句串"},
    };
    for (const Case& c : cases) {
        CQoLanguage qo;
        if (c.skip) qo.m_modeFlags |= 0x02;
        qo.m_dValue = 5;
        qo.SetValueString("s", -1);
        if (c.text) {
            qo.m_pValue = 7;
            qo.SetValueType('P', "%mem");
        }
        std::string text = c.text ? c.text : "";
        EXPECT_EQ(qo.DoSentenceReturnAllType(c.text ? text.data() : nullptr), &qo);
        EXPECT_EQ(qo.m_cType, 'X');
        EXPECT_EQ(Gbk(qo.m_strError), Gbk(c.error));
        if (c.skip) {
            EXPECT_EQ(qo.m_dValue, 0);
            EXPECT_EQ(Gbk(qo.m_strValue), Gbk(""));
            EXPECT_EQ(qo.m_pValue, 0u);
            EXPECT_STREQ(qo.GetValueExtType(), "");
        }
        EXPECT_EQ(qo.m_pRun->level, 0);
        EXPECT_EQ(qo.m_pRun->catchDepth, 0);
        EXPECT_EQ(qo.m_cControl, 0);
    }
}

// ---- the C entry points ----

TEST(ExecQolTest, NumberedInterpretersAreKeptApartFromTheSharedOne) {
    EXPECT_STREQ(ruqo_ExecQol("'shared'"), "S:shared");
    EXPECT_TRUE(StartsWith(ruqo_ExecQol("[3]abc"), "X:'abc' 变量未定义\r\n【位于】〖错误位置3〗"));
    CQoLanguage* third = qotool::engine::NumberedInterpreter(3);
    ASSERT_NE(third, nullptr);
    EXPECT_EQ(third->m_cType, 'X');
    EXPECT_STREQ(ruqo_ExecQol("[3]1"), "N:1");
    EXPECT_EQ(qotool::engine::NumberedInterpreter(3), third);
    EXPECT_EQ(ResultOf(*third), "N:1");
    EXPECT_STREQ(ruqo_ExecQol("[3]'again'"), "S:again");
    EXPECT_EQ(ResultOf(*third), "S:again");
    EXPECT_NE(third, ruqo_GetSharedQol());
    EXPECT_NE(third, qotool::engine::NumberedInterpreter(4));
    EXPECT_EQ(ResultOf(*ruqo_GetSharedQol()), "S:shared");
    EXPECT_STREQ(pf_ExecQol("[3]2"), "N:2");
}

constexpr const char* kEnd = nullptr;  // ends the item list

TEST(ExecQolExTest, RunsEveryItemAndOpensAndClosesScopes) {
    ExecutorCleanup executors;
    executors.Add("scopelevel", [](char**, const char* word, CQoLanguage* qo) -> char {
        if (!*word) return 0;
        SetNumber(qo, qo->m_nScopeLevel);
        return 1;
    });
    CQoLanguage* shared = ruqo_GetSharedQol();
    const int base = shared->m_nScopeLevel;
    EXPECT_STREQ(ruqo_ExecQolEx("1", "'last'", kEnd), "S:last");
    EXPECT_STREQ(ruqo_ExecQolEx("abc", "2", kEnd), "N:2");
    EXPECT_EQ(std::string(ruqo_ExecQolEx("{", "{", "scopelevel()", "}", "}", kEnd)),
              "N:" + std::to_string(base + 2));
    EXPECT_EQ(shared->m_nScopeLevel, base);
    // At most ten scopes open; a "}" without its "{" is passed over.
    EXPECT_EQ(std::string(ruqo_ExecQolEx("{", "{", "{", "{", "{", "{", "{", "{", "{", "{", "{", "scopelevel()",
                                         "}", "}", "}", "}", "}", "}", "}", "}", "}", "}", "}", "}",
                                         "scopelevel()", kEnd)),
              "N:" + std::to_string(base));
    EXPECT_EQ(std::string(ruqo_ExecQolEx("{", "{", "{", "{", "{", "{", "{", "{", "{", "{", "{", "scopelevel()",
                                         "}", "}", "}", "}", "}", "}", "}", "}", "}", "}", kEnd)),
              "N:" + std::to_string(base + 10));
    EXPECT_EQ(shared->m_nScopeLevel, base);
}

// ---- user executors ----


char HandleNothing(char**, const char*, CQoLanguage*) { return 0; }
char HandleNothingToo(char**, const char*, CQoLanguage*) { return 0; }

TEST(UserExecutorTableTest, AddsLooksUpReplacesAndRemoves) {
    const intptr_t f1 = (intptr_t)&HandleNothing, f2 = (intptr_t)&HandleNothingToo;
    struct Step {
        const char* name;
        char op;
        intptr_t function;
        intptr_t result;
    } steps[] = {
        {"Exec_A", '+', f1, f1},
        {"exec_a", '?', 0, f1},
        {"EXEC_A", '+', f2, f2},  // same key in another case: replaced
        {"exec_a", 0, 0, f2},
        {"exec_b", '?', 0, 0},
        {"exec_b", '-', 0, 0},  // removing an unknown name
        {"exec_a", '-', 0, f2},
        {"exec_a", '?', 0, 0},
        {"", '+', f1, f1},  // an empty name keys as '&' + hex of the function
        {nullptr, '?', f1, f1},
        {"", '?', f2, 0},
        {"", '-', f1, f1},
        {"", '?', f1, 0},
        {"123456789012345678901234567890", '+', f1, f1},
        {"123456789012345678901234567890", '-', 0, f1},
        {"1234567890123456789012345678901", '+', f1, 0},  // 31 characters
        {"zq", '+', 0, 0},  // a null function is never stored
        {"zq", '?', 0, 0},
        {"", '+', 0, 0},
        {"", '?', 0, 0},
        {"Exec_A", '+', f1, f1},
        {"exec_a", '+', 0, 0},  // nor does it replace a stored one
        {"exec_a", '-', 0, f1},
    };
    RecordingUi ui;
    qotool::test::LogCapture log;
    for (const Step& s : steps)
        EXPECT_EQ(ruqo_UserQolExecutor(s.name, s.op, s.function), s.result)
            << (s.name ? s.name : "(null)") << " " << s.op;
    ASSERT_EQ(log.Messages().size(), 1u);
    EXPECT_EQ(Gbk(log.Messages()[0]), Gbk("用户QOL执行器名称超过所允许的长度30：1234567890123456789012345678901"));

    // The key of an empty name is '&' and the function's lower-case hex.
    char key[40];
    snprintf(key, sizeof key, "&%lx", (unsigned long)f1);
    ASSERT_EQ(ruqo_UserQolExecutor("", '+', f1), f1);
    EXPECT_EQ(ruqo_UserQolExecutor(key, '?', 0), f1);
    EXPECT_EQ(ruqo_UserQolExecutor(key, '-', 0), f1);
    EXPECT_EQ(ruqo_UserQolExecutor("", '?', f1), 0);
}

TEST(UserExecutorTableTest, HoldsAtMostFifteen) {
    // Executors that other parts of the process registered (extension
    // modules stay loaded) share the table, so fill it up to its limit.
    RecordingUi ui;
    qotool::test::LogCapture log;
    ExecutorCleanup executors;
    int added = 0;
    while (added < 16 && executors.Add("slot" + std::to_string(added + 1), &HandleNothing) != 0) ++added;
    EXPECT_GE(added, 1);
    EXPECT_LE(added, 15);
    const std::string refused = "slot" + std::to_string(added + 1);
    EXPECT_EQ(ruqo_UserQolExecutor(refused.c_str(), '?', 0), 0);
    ASSERT_EQ(log.Messages().size(), 1u);
    EXPECT_EQ(Gbk(log.Messages()[0]), Gbk("用户QOL执行器个数不能超过15个，不能添加" + refused));
    // Replacing one still works when the table is full.
    EXPECT_EQ(ruqo_UserQolExecutor("slot1", '+', (intptr_t)&HandleNothingToo), (intptr_t)&HandleNothingToo);
    // A removal makes room for exactly one more.
    EXPECT_EQ(ruqo_UserQolExecutor("slot1", '-', 0), (intptr_t)&HandleNothingToo);
    EXPECT_EQ(executors.Add("again1", &HandleNothing), (intptr_t)&HandleNothing);
    EXPECT_EQ(executors.Add("again2", &HandleNothing), 0);
}

char HandleBothAndOne(char**, const char* word, CQoLanguage* qo) {
    if (strcmp(word, "both") && strcmp(word, "one")) return 0;
    SetNumber(qo, 1);
    return 1;
}
char HandleBoth(char**, const char* word, CQoLanguage* qo) {
    if (strcmp(word, "both")) return 0;
    SetNumber(qo, 2);
    return 1;
}

int g_throwCalls = 0;
char ThrowForWords(char**, const char* word, CQoLanguage*) {
    ++g_throwCalls;
    if (*word) throw std::runtime_error("executor failure");
    return 0;
}
char ThrowAlways(char**, const char*, CQoLanguage*) {
    ++g_throwCalls;
    throw 42;
}
char FailAndThrow(char**, const char*, CQoLanguage* qo) {
    ++g_throwCalls;
    qo->ErrorString("own failure");
    throw std::runtime_error("after the error");
}

// The last registered executor is asked first. One that throws makes an
// error (asked once more with an empty word, unless it set an error itself)
// and stays; one that throws for the empty word too is removed, and the
// search goes on with the next.
TEST(UserExecutorCallTest, OrderThrowsAndRemoval) {
    struct Row {
        std::vector<std::pair<const char*, QoUserExecutor>> executors;  // in registration order
        const char* text;
        int calls;           // of the throwing executors
        const char* result;  // "X~...": starts with
        const char* removed;
        const char* logged;
    };
    const std::vector<Row> rows = {
        {{{"first", &HandleBothAndOne}, {"second", &HandleBoth}}, "both()", 0, "N:2", "", nullptr},
        {{{"first", &HandleBothAndOne}, {"second", &HandleBoth}}, "one()", 0, "N:1", "", nullptr},
        {{{"first", &HandleBothAndOne}}, "none()", 0,
         "X:执行不认识的函数：none\r\n【位于】〖错误位置5〗：\r\nnone(【发生错误处】)", "", nullptr},
        {{{"thrower", &ThrowForWords}}, "boom()", 2,
         "X:外部扩展函数boom执行错误\r\nthrower用户QOL执行器解释函数异常跳出"
         "\r\n【位于】〖错误位置5〗：\r\nboom(【发生错误处】)",
         "", nullptr},
        {{{"failer", &FailAndThrow}}, "w()", 1, "X~外部扩展函数w执行错误\r\nown failure\r\n【位于】", "", nullptr},
        {{{"fallback", &HandleBothAndOne}, {"broken", &ThrowAlways}}, "one()", 2, "N:1", "broken",
         "broken用户QOL执行器无效，被移去"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        RecordingUi ui;
        qotool::test::LogCapture log;
        ExecutorCleanup executors;
        for (const auto& [name, function] : row.executors) executors.Add(name, function);
        CQoLanguage qo;
        g_throwCalls = 0;
        qo.DoQol(row.text, nullptr);
        EXPECT_EQ(g_throwCalls, row.calls);
        const std::string result = ResultOf(qo), expected = row.result;
        if (expected[1] == '~') {
            EXPECT_TRUE(StartsWith(result, expected.substr(0, 1) + ":" + expected.substr(2))) << Readable(result);
        } else {
            EXPECT_EQ(Gbk(result), Gbk(expected));
        }
        for (const auto& [name, function] : row.executors)
            EXPECT_EQ(ruqo_UserQolExecutor(name, '?', 0), strcmp(name, row.removed) ? (intptr_t)function : 0) << name;
        ASSERT_EQ(log.Messages().size(), row.logged ? 1u : 0u);
        if (row.logged) {
            EXPECT_EQ(Gbk(log.Messages()[0]), Gbk(row.logged));
        }
        EXPECT_EQ(qo.m_pRun->catchDepth, 0);
        EXPECT_EQ(RunAndResult(qo, "1"), "N:1");
    }
}

// ---- nested runs ----

// An executor that runs a text of its own on the same interpreter and
// records what the inner run did.
struct InnerRun {
    std::string text;
    int calls = 0;
    bool threw = false;
    char type = 0;
    std::string error;  // the error text when the inner run unwound
} g_inner;

char RunInner(char**, const char* word, CQoLanguage* qo) {
    if (!*word) return 0;
    ++g_inner.calls;
    g_inner.threw = false;
    try {
        qo->DoQol(g_inner.text.c_str(), nullptr);
        g_inner.type = qo->m_cType;
    } catch (const QolUnwind&) {
        g_inner.threw = true;
        g_inner.error = std::string(qo->m_strError.view());
        throw;
    }
    SetNumber(qo, 5);
    return 1;
}

TEST(NestedRunTest, ThePrefixTheLevelsAndTheLevelLimit) {
    ExecutorCleanup executors;
    executors.Add("inner", &RunInner);
    CQoLanguage qo;
    const int guards = qotool::engine::OpenGuardCount();

    // $$$ holds the inner error back: the executor goes on.
    g_inner = InnerRun();
    g_inner.text = "$$$abc";
    qo.DoQol("1; inner()", nullptr);
    EXPECT_FALSE(g_inner.threw);
    EXPECT_EQ(g_inner.type, 'X');
    EXPECT_EQ(ResultOf(qo), "N:5");
    EXPECT_EQ(qo.GetQolState(2), 1);

    // Without it the error passes outward, located once. The outer statement
    // is level 2, the inner run level 4 (its first entry, level 3, already
    // holds its text), and the inner statement 5; the first number is where
    // level 1's statement starts in level 0's text.
    g_inner = InnerRun();
    g_inner.text = "  bad";
    qo.DoQol("1; inner()", nullptr);
    EXPECT_TRUE(g_inner.threw);
    EXPECT_EQ(Gbk(g_inner.error),
              Gbk("'bad' 变量未定义\r\n【位于】〖错误位置3:第3级位置5〗：\r\n  bad【发生错误处】"));
    const std::string outer(qo.m_strError.view());
    EXPECT_NE(outer.find(g_inner.error), std::string::npos) << Readable(outer);
    EXPECT_EQ(CountOf(outer, "【位于】"), 1) << Readable(outer);

    // An executor running itself: each nested DoQol raises the level by 2
    // and its statement (an executor activation, a nesting level of its own)
    // by 1; the catch depth grows by 2 per nesting. The 67th nested run finds
    // the level at 201, above 200, before the catch depth (then 135) reaches
    // its limit of 150.
    g_inner = InnerRun();
    g_inner.text = "inner()";
    qo.DoQol("inner()", nullptr);
    EXPECT_EQ(g_inner.calls, 67);
    EXPECT_EQ(qo.m_cType, 'X');
    const std::string error(qo.m_strError.view());
    EXPECT_TRUE(StartsWith(error, "外部扩展函数inner执行错误\r\n")) << Readable(error.substr(0, 200));
    EXPECT_EQ(CountOf(error, "嵌套执行太深"), 1);
    EXPECT_EQ(CountOf(error, "括号或语句嵌套操作层次过深"), 0);
    // Every nested run has the executor's text; the first level holding it
    // is level 3 (level 2 is the outer statement's), and level 1's statement
    // starts at 0.
    EXPECT_EQ(CountOf(error, "〖错误位置0:第3级位置0〗"), 1) << Readable(error);
    EXPECT_EQ(qo.m_pRun->level, 0);
    EXPECT_EQ(qo.m_pRun->catchDepth, 0);
    EXPECT_EQ(qo.m_pRun->bracketDepth, 0);
    EXPECT_EQ(qotool::engine::OpenGuardCount(), guards);
    qo.DoQol("1", nullptr);
    EXPECT_EQ(ResultOf(qo), "N:1");
}

// ---- states ----

TEST(StateTest, GetQolStateReadsTheModes) {
    struct Case {
        unsigned char modeFlags;
        unsigned char syntaxCheck;
        int states[6];  // what 0..5
    } cases[] = {
        {0x04, 0, {0, 0, 1, 0, 0, 0}},
        {0x02, 0, {0, 1, 0, 0, 0, 0}},
        {0x20, 1, {0, 0, 0, 1, 1, 0}},
        {0x3F, 0, {0, 1, 1, 1, 0, 0}},
    };
    for (const Case& c : cases) {
        CQoLanguage qo;
        qo.m_modeFlags = c.modeFlags;
        qo.m_bSyntaxCheck = c.syntaxCheck;
        for (short what = 0; what < 6; ++what) EXPECT_EQ(qo.GetQolState(what), c.states[what]) << what;
        EXPECT_EQ(qo.GetQolState(99), 0);
        EXPECT_EQ(qo.GetQolState(-1), 0);
    }
}

TEST(StateTest, GetSafeQoWithoutAPlatform) {
    CQoLanguage qo;
    const std::string message = "QOL解释器不属于且未连接任何平台，不能执行平台操作";
    EXPECT_EQ(qo.GetSafeQo(0), nullptr);
    EXPECT_EQ(qo.m_cType, 'X');
    EXPECT_EQ(Gbk(qo.m_strError), Gbk(message));
    CatchScope scope(qo.m_pRun);
    EXPECT_THROW(qo.GetSafeQo(0), QolUnwind);
    CObject platform;
    qo.m_pPlatform = &platform;
    EXPECT_EQ(qo.GetSafeQo(0), &platform);
    qo.m_pPlatform = nullptr;
}

}  // namespace
