// qol --debug: the scripted debugger read from standard input (one command
// per line, each stop printed as a line), the screen of the terminal
// debugger on a pseudo-terminal, and the prompt there.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "support/qol_process.h"
#include "support/temp_env.h"

namespace {

using qotool::test::RunQolOnTerminal;
using qotool::test::Terminal;

struct Session {
    std::string out, err;
    int status = -1;
};

class QolDebugTest : public ::testing::Test {
protected:
    std::string Write(const std::string& name, const std::string& bytes) { return folder_.Write(name, bytes); }
    std::string Read(const std::string& name) { return qotool::test::TempDir::Read(dir_ + "/" + name); }
    // Runs qol with the arguments (already quoted for the shell), the
    // commands on standard input and a settings file of its own.
    Session Run(const std::string& args, const std::string& commands) {
        Write("commands", commands);
        const std::string line = "cd '" + dir_ + "' && QO_DEBUG_SETTINGS='" + dir_ + "/QolDebug.ini' QO_UI=silent " +
                                 "timeout 60 '" QOTOOL_QOL_BIN "' " + args + " <commands >out 2>err";
        const int raw = std::system(line.c_str());
        Session s;
        s.out = Read("out");
        s.err = Read("err");
        s.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        return s;
    }
    qotool::test::TempDir folder_;
    const std::string dir_ = folder_.path();
};

TEST_F(QolDebugTest, StepsWatchesRunsUntilAndTerminatesALoop) {
    Write("loop.qol", "i=0;\nwhile (1) {\n  ?i = i + 1;\n}\n");
    const Session s = Run("--debug -r loop.qol", "step\nstep\nstep\nstep\nstep\nwatch 1 i\nuntil i==5\nterminate\n");
    const std::string stops =
        u8"S开始 level 0 line 1: i=0;\n"
        u8";句子 level 0 line 2: while (1) {\n"
        u8"B断点 level 0 line 3: i = i + 1;\n"
        u8";分句 level 0 line 4: }\n"
        u8"B断点 level 0 line 3: i = i + 1;\n"
        u8";分句 level 0 line 4: }\n"
        u8"watch 1 i = N:2\n"
        // Until the condition holds, breakpoints show for the pace interval only.
        u8"B断点 level 0 line 3: i = i + 1;\n"
        u8"watch 1 i = N:2\n"
        u8"B断点 level 0 line 3: i = i + 1;\n"
        u8"watch 1 i = N:3\n"
        u8"B断点 level 0 line 3: i = i + 1;\n"
        u8"watch 1 i = N:4\n"
        u8";分句 level 0 line 4: }\n"
        u8"watch 1 i = N:5\n"
        u8"X:QOL程序运行被调试器强制终止\r\n";
    EXPECT_EQ(s.out.substr(0, stops.size()), stops) << s.out;
    EXPECT_EQ(s.status, 1);
    EXPECT_NE(s.err.find(u8"QOL程序运行被调试器强制终止"), std::string::npos) << s.err;
    // The settings went to the file of the session.
    EXPECT_NE(Read("QolDebug.ini").find("32e8=i\r\n"), std::string::npos);
}

TEST_F(QolDebugTest, AnswersEvalValueAndVars) {
    // An endless loop typed into eval or a watch gives up as a failed evaluation.
    const Session s = Run("--debug -e \"s='名字'; n=3; ?n=n+1;\"",
                          "step\nstep\nstep\neval while(1);\nwatch 2 while(1);\neval n*2\nvalue s\nvalue\nvars\nclose\n");
    EXPECT_NE(s.out.find(u8"B断点 level 0 line 1: n=n+1;\n"
                         u8"eval: 无法计算\n"
                         u8"watch 2 while(1); = 无法计算\n"
                         u8"eval: N:6\n"
                         u8"value: 名字\n"
                         u8"value: 3\n"),
              std::string::npos)
        << s.out;
    EXPECT_NE(s.out.find(u8"[变量]\n  n N = 3\n  s S = 名字\n  *第0层*\n"), std::string::npos) << s.out;
    EXPECT_NE(s.out.find(u8"[系统变量]\n"), std::string::npos);
    EXPECT_EQ(s.out.substr(s.out.size() - 4), "N:4\n");
    EXPECT_EQ(s.status, 0);
}

TEST_F(QolDebugTest, RunsToALineAndSelectsLevels) {
    Write("lines.qol", "a=1;\nb=2;\nc=3;\nd=4;\n");
    const Session s = Run("--debug -r lines.qol", "run 3\nup\ndown\nclose\n");
    EXPECT_EQ(s.out, u8"S开始 level 0 line 1: a=1;\n"
                     u8"(步进 level 0 line 3: c=3;\n"  // the first event in the range
                     u8"selected level 0\n"
                     u8"selected level 0\n"
                     u8"N:4\n");
}

TEST_F(QolDebugTest, BadCommandsAreRefusedAndTheSessionGoesOn) {
    const Session s = Run("--debug -e \"a=1; b=2; a+b\"",
                          "jump\nu\nl\nwatch 9 a\nwatch 1 a+*)\npace x\nlevel sideways\nstep now\nlevel block\nexit\n");
    for (const char* expected : {u8"qol: unknown command 'jump'", u8"qol: ambiguous command 'u'",
                                 u8"qol: ambiguous command 'l'", u8"qol: watch needs a number 1-3",
                                 u8"watch 1 a+*) = 无法计算\n", u8"qol: pace needs a positive number",
                                 u8"qol: level takes block, sentence or step", u8"qol: step takes no argument",
                                 u8"level block\n", u8"exit off\n"}) {
        EXPECT_NE(s.out.find(expected), std::string::npos) << expected << "\n" << s.out;
    }
    // The end of the input closes the debugger; the run's result comes last.
    EXPECT_EQ(s.out.substr(s.out.size() - 4), "N:3\n");
    EXPECT_EQ(s.status, 0);
}

// Which errors stop is in debugger_test.cpp.
TEST_F(QolDebugTest, DebugNeedsARun) { EXPECT_EQ(Run("--debug", "").status, 2); }

// After close the loop runs on; Ctrl-C in pause-key mode opens the
// debugger again, which then terminates the loop.
TEST_F(QolDebugTest, CtrlCPausesARunInPauseKeyMode) {
    Write("commands", "close\nterminate\n");
    const std::string line = "cd '" + dir_ + "' || exit 1; QO_DEBUG_SETTINGS=QolDebug.ini QO_UI=silent '" QOTOOL_QOL_BIN
                             "' --debug -e \"set('pause key on'); i=0; while(1){i=i+1;}\" <commands >out 2>err & "
                             "p=$!; (sleep 30; kill -9 $p) 2>/dev/null & g=$!; sleep 0.5; kill -INT $p; wait $p; "
                             "echo $? >status; kill $g 2>/dev/null; true";
    ASSERT_EQ(std::system(line.c_str()), 0);
    EXPECT_EQ(Read("status"), "1\n") << Read("out");
    const std::string out = Read("out");
    EXPECT_NE(out.find(u8"\nX:QOL程序运行被调试器强制终止"), std::string::npos) << out;
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n') >= 3, true) << out;
}

// The screen on a pseudo-terminal: step until the breakpoint has shown,
// then close at every prompt (the marker turns the debugger on again).
TEST_F(QolDebugTest, TerminalScreenShowsLevelsSourceAndPrompt) {
    const std::string settings = dir_ + "/QolDebug.ini";
    const std::string screen =
        RunQolOnTerminal({"--debug", "-e", "i=0; while(i<3){ ?i=i+1; } i"},
                         {{"QO_DEBUG_SETTINGS", settings.c_str()}, {"QO_UI", "silent"}}, "", "debug> ",
                         [](const Terminal& terminal, size_t) {
                             const bool shown = terminal.Shown().find(u8"断点 level") != std::string::npos;
                             terminal.Type(shown ? "close\n" : "step\n");
                         })
            .out;
    EXPECT_NE(screen.find(u8"QOL调试器"), std::string::npos) << screen;
    EXPECT_NE(screen.find(u8"=> i=0; while(i<3){ ?【0】i=i+1; } i"), std::string::npos) << screen;
    EXPECT_NE(screen.find(u8"B断点 level 0 line 1: i=i+1; } i"), std::string::npos) << screen;
    EXPECT_NE(screen.find(u8"   0 断点 Z   00000012  <"), std::string::npos) << screen;
    EXPECT_NE(screen.find("N:3"), std::string::npos) << screen;
}

// The prompt on a pseudo-terminal under the C locale: Ctrl-C cancels the
// line being typed and ends a running loop with the termination report,
// typed UTF-8 reaches the script, and the history is kept in ~/.qol_history.
TEST_F(QolDebugTest, PromptCtrlCHistoryAndUtf8Input) {
    const std::string home = folder_.MakeDir("home");
    const std::string screen =
        RunQolOnTerminal({}, {{"HOME", home.c_str()}, {"LANG", "C"}, {"LC_ALL", ""}, {"LC_CTYPE", ""}, {"QO_UI", "silent"}},
                         "", "qol> ",
                         [](const Terminal& terminal, size_t n) {
                             // What is typed at each prompt, and after how many milliseconds a
                             // Ctrl-C follows (0: none).
                             static const struct {
                                 const char* keys;
                                 int waitMs;
                             } steps[] = {{"1+2\n", 0},
                                          {"half typed", 300},
                                          {"a=0; while(1){a=a+1;}\n", 500},
                                          {u8"'名字'\n", 0},
                                          {"\x04", 0}};
                             if (n >= sizeof steps / sizeof steps[0] || !terminal.WaitForLineEditor()) return;
                             terminal.Type(steps[n].keys);
                             if (!steps[n].waitMs) return;
                             usleep(steps[n].waitMs * 1000);
                             terminal.Type("\x03");
                         })
            .out;
    EXPECT_NE(screen.find("N:3"), std::string::npos) << screen;
    EXPECT_NE(screen.find(u8"X:QOL程序运行被调试器强制终止"), std::string::npos) << screen;
    EXPECT_NE(screen.find(u8"S:名字"), std::string::npos) << screen;
    EXPECT_EQ(screen.find("half typed\r\nX:"), std::string::npos) << screen;
    const std::string history = Read("home/.qol_history");
    EXPECT_NE(history.find("1+2\n"), std::string::npos) << history;
    EXPECT_EQ(history.find("half"), std::string::npos) << history;
}

}  // namespace
