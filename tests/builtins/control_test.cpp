// The interpreter control built-ins where a script alone cannot see the
// effect (what scripts see is in interpreters.cases and control.cases).
// Exact messages are checked through direct handler calls (CallBuiltin)
// with the position text switched off (trace flag 8).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <unistd.h>
#include <string>
#include <vector>

#include "builtins/builtin_harness.h"
#include "builtins/control.h"
#include "engine/instance.h"
#include "platform/module_path.h"
#include "platform/number_text.h"
#include "support/gbk_text.h"
#include "support/log_capture.h"
#include "support/recording_ui.h"
#include "support/temp_env.h"

namespace qotool::test {
namespace {

using builtins::HandleNumber;

struct Step {
    std::string text;
    std::string expected;  // the whole result text, or its start when prefixOnly
    bool prefixOnly = false;
};

// Runs the steps one after another on qo and compares their results.
void RunSteps(CQoLanguage& qo, const std::vector<Step>& steps) {
    for (const Step& step : steps) {
        const std::string result = RunAndResult(qo, step.text);
        if (step.prefixOnly)
            EXPECT_TRUE(StartsWith(result, step.expected)) << Readable(step.text) << " gave " << Readable(result);
        else
            EXPECT_EQ(Gbk(result), Gbk(step.expected)) << Readable(step.text);
    }
}

std::string Number(double value) {
    char buf[32];
    return std::string(buf, (size_t)platform::FormatNumber15(value, buf));
}

class ControlTest : public ::testing::Test {
protected:
    // Every test starts and ends without interpreters made by scripts.
    void SetUp() override {
        builtins::DestroyCreatedInterpreters();
        qo.m_pRun->traceFlags = 8;
    }
    void TearDown() override { builtins::DestroyCreatedInterpreters(); }
    CQoLanguage qo;
    RecordingUi ui;
};

// ---- QolCreate, QolRun, QolRelease ----

TEST_F(ControlTest, CreateCopiesWhatItsFlagsName) {
    CObject platform;
    qo.m_pPlatform = &platform;
    qo.m_modeFlags = 0x02 | 0x04 | 0x20;
    struct Case {
        int flags;
        bool platform, trace, modes;
    } cases[] = {
        {0, false, false, false},     {1, true, false, false},     {2, false, true, false},
        {8, false, false, true},      {15, true, true, true},      {256 + 1, true, false, false},
    };
    for (const Case& c : cases) {
        CallBuiltin(qo, "QolCreate(" + std::to_string(c.flags) + ")");
        ASSERT_FALSE(builtins::CreatedInterpreters().empty());
        CQoLanguage* created = builtins::CreatedInterpreters().back();
        EXPECT_EQ(created->m_pPlatform, c.platform ? &platform : nullptr) << c.flags;
        EXPECT_EQ(created->m_pRun->traceFlags, c.trace ? 8 : 0) << c.flags;
        EXPECT_EQ(created->m_modeFlags, c.modes ? 0x26 : 0x04) << c.flags;
        EXPECT_EQ(created->m_bSyntaxCheck, 0) << c.flags;
        CallBuiltin(qo, "QolRelease(" + Number(HandleNumber(created)) + ")");
    }
    EXPECT_TRUE(builtins::CreatedInterpreters().empty());
}

TEST_F(ControlTest, ReleaseRefusesWhatQolCreateDidNotMake) {
    const std::string notCreated = "X:QolRelease()所关闭的不是QolCreate()创建的解释器句柄";
    CQoLanguage other;
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"QolRelease(" + Number(HandleNumber(&qo)) + ")", "X:QolRelease()不能关闭当前解释器自身"},
        {"QolRelease(0)", notCreated},
        {"QolRelease(-1)", notCreated},
        {"QolRelease(4294967295)", notCreated},
        {"QolRelease(1e300)", notCreated},
        {"QolRelease(-1e300)", notCreated},
        {"QolRelease(140737488355328 + 16)", notCreated},
        // A live interpreter that scripts did not create stays.
        {"QolRelease(" + Number(HandleNumber(&other)) + ")", notCreated},
        {"QolRelease(" + Number(HandleNumber(engine::SharedInterpreter())) + ")", notCreated},
    };
    for (const auto& c : cases) EXPECT_EQ(Gbk(CallBuiltin(qo, c.first)), Gbk(c.second)) << c.first;
    EXPECT_TRUE(engine::IsLiveInterpreter(&other));
}

// ---- ErrorCheck ----

TEST_F(ControlTest, ErrorCheckChangesNothing) {
    TempDir folder;
    const std::string file = folder.Write("side.qol", "marker = 1;");
    CallBuiltin(qo, "BindTableBuffer('Orders')");
    RunSteps(qo, {
                     {"a = 1; s = 'x'; arr[2] = 5; system_checked = 1; p = &a; 0", "N:0"},
                     {"ErrorCheck(){ a = 2; s = s + 'y'; arr[2] = 6; arr[9] = 1; b = 3; public c = 4; "
                      "system_checked = 2; system_new = 1; delete arr; docmd('qolfile', '" +
                          file + "'); #include '" + file + "'; set('error skip on'); BindTableBuffer('T'); }",
                      "S:"},
                     {"a", "N:1"},
                     {"s", "S:x"},
                     {"arr[2]", "N:5"},
                     {"arr[9]", "X:", true},
                     {"b", "X:'b' 变量未定义"},
                     {"c", "X:'c' 变量未定义"},
                     {"marker", "X:'marker' 变量未定义"},
                     {"system_checked", "N:1"},
                     {"system_new", "X:'system_new' 变量未定义"},
                     {"ErrorCheck(){ docmd('qolfile', '/nonexistent/x.qol'); docmd('clear'); }; a", "N:1"},
                 });
    EXPECT_EQ(qo.m_modeFlags & 0x02, 0);
    EXPECT_EQ(qo.m_pRun->tableBufferName, "Orders");  // bound before the check, not by it
    EXPECT_EQ(qo.m_bSyntaxCheck, 0);
    EXPECT_EQ(qo.m_pRun->checkLevel, 0);
    RunAndResult(qo, "system_checked = NULL");
}

// Nothing reaches the UI in a check, and interpreters made and released in
// it leave none behind (what a script sees is in interpreters.cases).
TEST_F(ControlTest, ErrorCheckShowsNothingAndKeepsNoInterpreter) {
    RunSteps(qo, {{"a = 1; ErrorCheck(){ MessageBox('x'); Check(1, 2); EditData(a); PromptText('p', 5); "
                   "MessageLog(, 1, 'm'); }",
                   "S:"},
                  {"ErrorCheck(){ k = QolCreate(0); QolRun(k; n=5){ m = n + q }; QolRelease(k) }", "S:"}});
    EXPECT_TRUE(ui.Events().empty());
    EXPECT_TRUE(builtins::CreatedInterpreters().empty());
}

// ---- get ----

// (File lists are in paths.cases, the work directory in system.cases, the
// names a check leaves undefined in interpreters.cases.)
TEST_F(ControlTest, GetReadsSettingsAndState) {
    TempDir folder;
    const std::string dir = folder.path() + "/";
    EnvironmentVariable work("QO_WORK_DIR", folder.path());
    qo.m_pRun->currentFile = "now.qol";
    RunSteps(qo, {
                     {"get('LastError')", "S:"},
                     {"SkipError nosuch; get('lasterror')", "S:'nosuch' 变量未定义"},
                     {"get('Path')", "S:" + dir},
                     {"get('Path', '%path%x.qol')", "S:" + dir + "x.qol"},
                     {"get('QoDirectory')", "S:" + platform::LibraryDirectory()},
                     {"get('CurrentQolFile')", "S:now.qol"},
                 });
}

TEST_F(ControlTest, GetLastValueAssignsTheValueTheStatementStartedWith) {
    // The executor starts every statement with the empty value; its number
    // and string stay as the last statement left them.
    qo.m_cType = 'S';
    qo.m_strValue = "kept";
    EXPECT_EQ(CallBuiltin(qo, "get('LastValue', 'v')"), "S:kept");
    EXPECT_EQ(RunAndResult(qo, "v"), "S:kept");
    qo.m_cType = 'N';
    qo.m_dValue = 42;
    EXPECT_EQ(CallBuiltin(qo, "get('LastValue')"), "N:42");
    EXPECT_EQ(RunAndResult(qo, "LastValue"), "N:42");
}

// ---- report, set ----

TEST_F(ControlTest, ReportGivesTextThatRestoresTheVariables) {
    RunAndResult(qo, "n = 0.1 + 0.2; s = 'a\"b\\\\c\\r\\n'; z = NULL; p = 77%'P%mem'; #f(x) = x; 0");
    const std::string report = RunAndResult(qo, "report('BasicVariable')");
    EXPECT_EQ(Gbk(report), Gbk("S:n=0.3;\r\ns=\"a\\\"b\\\\c\\r\\n\";\r\nz=NULL;\r\np=77%\"P%mem\";"));
    CQoLanguage other;
    RunAndResult(other, report.substr(2));
    EXPECT_EQ(Gbk(RunAndResult(other, "report('basicvariable')")), Gbk(report));
    EXPECT_EQ(Gbk(CallBuiltin(qo, "report('Variables')")),
              Gbk("X:信息函数report()不支持BasicVariable/PublicBasicVariable/PrivateBasicVariable之外的此报告项："
                  "variables"));
}

TEST_F(ControlTest, SetChangesOneModeFlag) {
    struct Case {
        const char* option;
        std::string result;
        unsigned char flags;  // mode flags afterwards, starting from 0x04
    } cases[] = {
        {"'ERROR  SKIP   on'", "S:error skip on", 0x06},
        {"'error\\tskip\\r\\non'", "S:error skip on", 0x06},
        {"'Error Output off'", "S:error output off", 0x00},
        {"'pause key on'", "S:pause key on", 0x24},
        {"'error skip onward'", "S:error skip onward", 0x06},
        {"'error skip on; pause key on'", "S:error skip on; pause key on", 0x06},
        {"'x on'", "X:set() 变量值不合法", 0x04},
        // The option's word must be followed by a space.
        {"'error skip'", "X:set() 变量值不合法", 0x04},
    };
    for (const Case& c : cases) {
        qo.m_modeFlags = 0x04;
        EXPECT_EQ(Gbk(CallBuiltin(qo, std::string("set(") + c.option + ")")), Gbk(c.result)) << c.option;
        EXPECT_EQ(qo.m_modeFlags, c.flags) << c.option;
    }
}

}  // namespace
}  // namespace qotool::test
