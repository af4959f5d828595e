// The debugger core against a scripted view: which events stop, the 1000 ms
// refresh rule on a fake clock, watches that cannot change the run, the
// pane texts, terminate, and the settings file. Running to a line and the
// printed stops are checked through qol --debug (qol_debug_cli_test.cpp).
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <deque>
#include <functional>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include "diag/debug_panes.h"
#include "diag/debugger.h"
#include "engine/debugger_seam.h"
#include "platform/clock.h"
#include "platform/file_io.h"
#include "platform/keys.h"
#include "qotool/debug_view.h"
#include "qotool/qolanguage.h"
#include "qotool/qotool.h"
#include "support/gbk_text.h"
#include "support/result_text.h"
#include "support/temp_env.h"

namespace qotool::diag {
namespace {

using test::Gbk;
using Kind = DebugCommandKind;

std::atomic<int64_t> g_now{100000};
int64_t FakeNow() { return g_now.load(); }

// One stop as the view saw it.
struct Seen {
    std::string event;
    bool stop;
    int line;
    std::string sentence;
    std::string watch0;
    std::string answer;
    std::string variables;
    std::string source;
    std::vector<DebugLevelRow> rows;
    int waitMs;
};

// Answers commands from a queue (then "step"); records every Wait.
class ScriptedView : public DebugView {
public:
    std::deque<DebugCommand> commands;
    std::vector<Seen> seen;
    int64_t advanceOnEachWait = 0;  // fake milliseconds that pass in every wait
    std::function<void()> onFirstWait;
    int opened = 0, closed = 0;

    void Open(const DebugSnapshot&) override { ++opened; }
    void Close() override { ++closed; }
    DebugCommand Wait(const DebugSnapshot& s, int waitMs) override {
        if (seen.size() > 2000) return {Kind::kClose, 0, ""};  // a runaway test ends, never hangs
        seen.push_back({s.event, s.stop, s.line, s.sentence, s.watchResult[0], s.answer, s.variables, s.source, s.rows,
                        waitMs});
        if (onFirstWait) {
            auto f = std::move(onFirstWait);
            onFirstWait = nullptr;
            f();
        }
        g_now += advanceOnEachWait;
        if (waitMs >= 0) return {};  // timed: the deadline passes
        if (commands.empty()) return {Kind::kStep, 0, ""};
        DebugCommand c = commands.front();
        commands.pop_front();
        return c;
    }
    std::vector<std::string> Events() const {
        std::vector<std::string> out;
        for (const Seen& s : seen) out.push_back(std::string(s.stop ? "" : "~") + s.event);
        return out;
    }
};

class DebuggerTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetDebugSettingsPath((dir_.path() + "/QolDebug.ini").c_str());
        platform::SetClockSourceForTest(&FakeNow);
        previous_ = SetDebugView(&view_);
        g_debugSwitch = 0;
    }
    void TearDown() override {
        ResetDebugger();
        g_debugSwitch = 0;
        SetDebugView(previous_);
        platform::SetClockSourceForTest(nullptr);
        SetDebugSettingsPath(nullptr);
    }
    // Runs text with the debugger on; returns "T:value".
    std::string Debug(const char* text) {
        qo_.DoQolAndPauseDebug("?", nullptr);
        qo_.DoQol(text, nullptr);
        g_debugSwitch = 0;
        ResetDebugger();
        return qotool::test::ResultOf(qo_);
    }
    void WriteSettings(const std::string& lines) { dir_.Write("QolDebug.ini", lines); }

    test::TempDir dir_;
    ScriptedView view_;
    DebugView* previous_ = nullptr;
    CQoLanguage qo_;
};


// Which events stop, per level and filter settings (a frozen clock: no
// progress refreshes).
TEST_F(DebuggerTest, StopsFollowTheLevelAndTheFilters) {
    struct Row {
        const char* title;
        const char* settings;  // QolDebug.ini lines of the section
        const char* text;
        std::vector<DebugCommand> commands;
        std::vector<std::string> expected;  // the events seen in order ("~": a progress refresh)
    };
    const std::vector<Row> rows = {
        {"per sentence: run start, each sentence, run end", "", "a=1;\r\nb=2;",
         {},
         {"S开始", ";句子", ";句子", "E结束"}},
        {"per block: block start and end, not sentences", "32f0=1\r\n32f1=0\r\n", "{a=1;}",
         {},
         {"S开始", "{段首", "}段尾", "E结束"}},
        {"per block without entries and exits", "32f0=1\r\n32f1=0\r\n32df=0\r\n32e0=0\r\n", "{a=1;}",
         {},
         {"S开始", "E结束"}},
        {"fast forward still stops at a breakpoint", "", "a=1;?b=2;c=3;",
         {{Kind::kFast, 0, ""}},
         {"S开始", "B断点"}},
        {"a conditional breakpoint stops only when it holds", "", "a=1;?(a==2)b=2;?(a==1)c=3;",
         {{Kind::kFast, 0, ""}},
         {"S开始", "B断点"}},
        {"an error stops while error output is off", "32f0=1\r\n32f1=0\r\n32df=0\r\n32e0=0\r\n", "$$ a=nothing+1;",
         {},
         // The run's end reports the error once more.
         {"S开始", "X错误", "E结束", "X错误"}},
        {"a failed Check stops", "32f0=1\r\n32f1=0\r\n", "Check(1, 2);",
         {},
         {"S开始", "C不符", "E结束"}},
        {"per step without entries: results, no steps or sentences", "32f1=0\r\n32f2=1\r\n32df=0\r\n", "a=(1+2);",
         {},
         {"S开始", ")结果", ")结果", ")结果", ")结果", "E结束"}},
        {"close lets the run go on", "", "a=1;\r\nb=2;",
         {{Kind::kClose, 0, ""}},
         {"S开始"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.title);
        WriteSettings(std::string("[QOL调试器]\r\n") + row.settings);
        view_.seen.clear();
        view_.commands.assign(row.commands.begin(), row.commands.end());
        Debug(row.text);
        std::vector<Gbk> got, want;
        for (auto& e : view_.Events()) got.push_back(e);
        for (auto& e : row.expected) want.push_back(e);
        EXPECT_EQ(got, want);
    }
}

TEST_F(DebuggerTest, OffMarkerClosesTheWindow) {
    view_.commands = {{Kind::kStep, 0, ""}};
    qo_.DoQolAndPauseDebug("?", nullptr);
    qo_.DoQol("a=1; ?? b=2; c=3;", nullptr);
    EXPECT_EQ(view_.opened, 1);
    EXPECT_EQ(view_.closed, 1);
    EXPECT_FALSE(CurrentDebuggerState().open);
    EXPECT_EQ(g_debugSwitch & 1, 0);
}

int64_t g_tickBy = 0;
char Tick(char** cursor, const char* word, CQoLanguage* qo) {
    if (strcmp(word, "Tick") != 0) return 0;
    g_now += g_tickBy;
    qo->m_cType = 'Z';
    (void)cursor;
    return 1;
}

// A filtered event passes while the last pause ended less than 1000 ms ago;
// the first one after that refreshes the display and waits.
TEST_F(DebuggerTest, FilteredEventsPassWithinASecondOfThePause) {
    ruqo_UserQolExecutor("Tick", '+', (intptr_t)&Tick);
    for (int64_t tick : {999, 1001}) {
        SCOPED_TRACE(tick);
        g_tickBy = tick;
        view_.seen.clear();
        Debug("a=1;\r\nTick(),{b=2;};");
        int refreshes = 0;
        for (const Seen& s : view_.seen) refreshes += s.stop ? 0 : 1;
        EXPECT_EQ(refreshes, tick > 1000 ? 1 : 0);
    }
    ruqo_UserQolExecutor("Tick", '-', 0);
}

// Watches and evaluations run read-only and never change the run.
TEST_F(DebuggerTest, WatchesShowResultsWithoutChangingTheRun) {
    struct Row {
        const char* watch;
        const char* shown;
    };
    const std::vector<Row> rows = {
        {"a", "N:1"},
        {"a*10;a+1", "N:2"},
        {"'名'", "S:名"},
        {"", ""},
        {"a=5", "无法计算"},
        {"b_new=1", "无法计算"},
        {"a+*)", "无法计算"},
        {"nothing_here", "无法计算"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.watch);
        qo_.DoQol("a=1;", nullptr);
        view_.seen.clear();
        view_.commands = {{Kind::kWatch, 0, row.watch}, {Kind::kClose, 0, ""}};
        EXPECT_EQ(Gbk(Debug("x=a;")), Gbk("N:1"));
        ASSERT_GE(view_.seen.size(), 2u);
        EXPECT_EQ(Gbk(view_.seen[1].watch0), Gbk(row.shown));
        qo_.DoQol("a", nullptr);
        EXPECT_EQ(qo_.m_cType, 'N');
        EXPECT_EQ(qo_.m_dValue, 1);
        qo_.DoQol("b_new", nullptr);
        EXPECT_EQ(qo_.m_cType, 'X');
    }
}

TEST_F(DebuggerTest, UntilStopsWhereTheConditionHoldsAndNeverHangs) {
    view_.commands = {{Kind::kUntil, 0, "a==3"}, {Kind::kValue, 0, "a"}, {Kind::kClose, 0, ""}};
    EXPECT_EQ(Debug("a=0; while(a<5){a=a+1;} a"), "N:5");
    ASSERT_GE(view_.seen.size(), 3u);
    EXPECT_EQ(view_.seen[2].answer, "3");

    view_.seen.clear();
    view_.commands = {{Kind::kUntil, 0, "never_defined==1"}};
    EXPECT_EQ(Debug("a=0; while(a<50){a=a+1;} a"), "N:50");
    EXPECT_EQ(view_.seen.size(), 1u);  // only the run's start
}

TEST_F(DebuggerTest, TerminateEndsTheRunWithItsReport) {
    for (const char* text : {"a=0; while(1){a=a+1;}", "a=0; try { while(1){a=a+1;} }"}) {
        SCOPED_TRACE(text);
        view_.commands = {{Kind::kStep, 0, ""}, {Kind::kTerminate, 0, ""}};
        const std::string result = Debug(text);
        EXPECT_EQ(Gbk(result.substr(0, 2 + strlen(kTerminatedMessage))),
                  Gbk(std::string("X:") + kTerminatedMessage));
        EXPECT_FALSE(CurrentDebuggerState().open);
    }
    // The interpreter stays usable.
    qo_.DoQol("1+1", nullptr);
    EXPECT_EQ(qo_.m_dValue, 2);
}

TEST_F(DebuggerTest, PanesShowVariablesLevelsAndMarkers) {
    std::string long600(600, 'x');
    qo_.DoQol(("s='" + long600 + "'; t='a\tb'; arr[2]=1; m[1][2]=3;").c_str(), nullptr);
    view_.commands = {{Kind::kClose, 0, ""}};
    Debug("n=1;");
    ASSERT_FALSE(view_.seen.empty());
    const Seen& s = view_.seen[0];
    EXPECT_NE(s.variables.find("-------- 第0层 --------\r\n"), std::string::npos);
    EXPECT_NE(s.variables.find("S型 s = “" + std::string(500, 'x') + "......总长度600”\r\n"), std::string::npos);
    EXPECT_NE(s.variables.find("S型 t = “a\\tb”\r\n"), std::string::npos);
    EXPECT_NE(s.variables.find("\r\n数组：\r\nm[2行,3列]\r\narr[3元素]\r\n"), std::string::npos) << test::Readable(s.variables);
    EXPECT_EQ(Gbk(s.source), Gbk("【0】n=1;"));
    ASSERT_EQ(s.rows.size(), 1u);
    EXPECT_EQ(s.rows[0].depth, "   0");
    EXPECT_EQ(Gbk(s.rows[0].label), Gbk("开始"));
    EXPECT_EQ(s.rows[0].position, "00000000");
}

TEST_F(DebuggerTest, SourcePaneSeparatesTextsAndRecursion) {
    const char outer[] = "f(1);g();";
    const char inner[] = "x=1;";
    SourcePane pane = BuildSourcePane({{0, outer, outer + 5}, {1, inner, inner + 2}, {2, inner, inner}});
    std::string heavy, dotted;
    for (int i = 0; i < 75; ++i) heavy += "\xA9\xA5", dotted += "\xA9\xAD";
    EXPECT_EQ(Gbk(pane.text), Gbk(std::string("f(1);【0】g();\r\n") + heavy + "\r\nx=【1】1;\r\n" + dotted +
                                  "\r\n【2】x=1;"));
    EXPECT_EQ(pane.texts, 3);
    EXPECT_EQ(pane.text.substr(pane.markerAt[1], pane.markerEnd[1] - pane.markerAt[1]), "【1】");
}

TEST_F(DebuggerTest, RowValuesAreCut) {
    std::string long300(300, 'y');
    qo_.DoQol(("'" + long300 + "'").c_str(), nullptr);
    EXPECT_EQ(Gbk(RowValue(&qo_)), Gbk("“" + std::string(180, 'y') + "......<总长300>”"));
    qo_.DoQol("$$$ 1+nothing", nullptr);
    EXPECT_EQ(RowValue(&qo_).find("【位于】"), std::string::npos);
    EXPECT_EQ(PaneValue(std::string("a\r\n\\\0", 5)), std::string("a\\r\\n\\\\\\0"));
    // A cut never splits a two-byte character.
    std::string wide;
    for (int i = 0; i < 300; ++i) wide += "名";
    EXPECT_EQ(PaneValue(wide).substr(0, 500), wide.substr(0, 500));
    EXPECT_EQ(CharBoundary("a名", 2), 1u);
}

TEST_F(DebuggerTest, DebugSwitchEntries) {
    struct Row {
        const char* text;
        double previous;
        int after;
    };
    const std::vector<Row> rows = {{"???", 0, 0}, {"?", 0, 1}, {"???", 1, 1}, {"?", 1, 1}, {"??", 1, 0}, {"??", 0, 0}};
    g_debugSwitch = 0;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        qo_.DoQolAndPauseDebug(row.text, nullptr);
        EXPECT_EQ(qo_.m_cType, 'N');
        EXPECT_EQ(qo_.m_dValue, row.previous);
        EXPECT_EQ(g_debugSwitch & 1, row.after);
    }
    // Any other text runs with the switch off, and it comes back.
    g_debugSwitch = 1;
    qo_.DoQolAndPauseDebug("a=1; ?b=2; c=3", nullptr);
    // The marker turns it on inside the run only: the first stop is the marker's.
    ASSERT_FALSE(view_.seen.empty());
    EXPECT_EQ(Gbk(view_.seen[0].event), Gbk("B断点"));
    EXPECT_EQ(g_debugSwitch & 1, 1);
}

TEST_F(DebuggerTest, EventsOfAnotherThreadPassWhileThePauseHolds) {
    std::string otherResult;
    view_.onFirstWait = [&] {
        std::thread other([&] {
            CQoLanguage second;
            second.DoQol("x=1; y=x+1; y", nullptr);
            otherResult = std::string(1, second.m_cType) + std::to_string((int)second.m_dValue);
        });
        other.join();
    };
    view_.commands = {{Kind::kClose, 0, ""}};
    Debug("a=1;");
    EXPECT_EQ(otherResult, "N2");
}

// An interrupt ends the run with the report even without a debugger view,
// and a try inside the loop cannot swallow it.
TEST_F(DebuggerTest, InterruptEndsTheRunWithTheReport) {
    SetDebugView(nullptr);
    for (const char* text : {"a=0; while(1){a=a+1;}", "a=0; while(1){ try { a=a+1; } }"}) {
        SCOPED_TRACE(text);
        ruqo_InterruptRun(1);
        qo_.DoQol(text, nullptr);
        EXPECT_EQ(qo_.m_cType, 'X');
        EXPECT_EQ(Gbk(std::string(qo_.m_strError.view()).substr(0, strlen(kTerminatedMessage))),
                  Gbk(kTerminatedMessage));
        EXPECT_EQ(g_interruptRequest, 0);
    }
    ruqo_InterruptRun(1);
    ruqo_InterruptRun(0);
    qo_.DoQol("1+2", nullptr);
    EXPECT_EQ(qo_.m_dValue, 3);
}

// A window opened by a run on another thread closes when that run ends;
// the next run of this thread opens it again.
TEST_F(DebuggerTest, DebuggerOpenedOnAnotherThreadIsGivenBack) {
    g_debugSwitch = 1;
    std::thread timer([] {
        CQoLanguage fresh;
        fresh.DoQol("t=1; t+1", nullptr);
    });
    timer.join();
    EXPECT_FALSE(CurrentDebuggerState().open);
    EXPECT_EQ(view_.opened, 1);
    EXPECT_EQ(view_.closed, 1);
    view_.seen.clear();
    view_.commands = {{Kind::kClose, 0, ""}};
    Debug("a=1;");
    ASSERT_FALSE(view_.seen.empty());
    EXPECT_EQ(Gbk(view_.seen[0].event), Gbk("S开始"));
}

// A run of another interpreter is a level above the debugger's: its stops
// do not wait, its texts join the source pane after a heavy rule, and with
// "下层" off only its breakpoint shows (turning "下层" on).
TEST_F(DebuggerTest, LowerLevelsOfAnotherInterpreter) {
    WriteSettings("[QOL调试器]\r\n32fb=0\r\n");
    view_.commands = {{Kind::kStep, 0, ""}};
    Debug("h=QolCreate(0); QolRun(h;x=1){ y=x+1; ?z=2; }; 1");
    std::vector<Gbk> inner;
    for (const Seen& s : view_.seen)
        if (s.source.find("\xA9\xA5") != std::string::npos) inner.push_back(s.event + std::to_string(s.waitMs));
    ASSERT_FALSE(inner.empty());
    EXPECT_EQ(inner[0], Gbk("B断点0"));
    EXPECT_TRUE(LoadDebugSettings(DebugSettingsPath()).lower);
}

int g_altPause = 0;
int AltPauseKeys(int vk) { return (vk == 18 || vk == 19) && g_altPause ? 0x8000 : 0; }

TEST_F(DebuggerTest, AltPauseOpensTheDebuggerInPauseKeyMode) {
    platform::SetKeyStateProvider(&AltPauseKeys);
    g_pauseKeyWatch = true;
    g_altPause = 1;
    view_.commands = {{Kind::kClose, 0, ""}};
    qo_.DoQol("a=1; b=2;", nullptr);  // pause key mode off: nothing
    EXPECT_TRUE(view_.seen.empty());
    qo_.DoQol("set('pause key on'); b=2;", nullptr);
    g_altPause = 0;
    g_pauseKeyWatch = false;
    platform::SetKeyStateProvider(nullptr);
    EXPECT_FALSE(view_.seen.empty());
    qo_.DoQol("set('pause key off');", nullptr);
}

// A host's pause request (Ctrl-C in qol) stops the next step in any mode,
// with the debug switch off or in fast forward; without a view it is dropped.
TEST_F(DebuggerTest, APauseRequestStopsTheNextStep) {
    for (bool fast : {false, true}) {
        SCOPED_TRACE(fast);
        view_.seen.clear();
        view_.commands = {{fast ? Kind::kFast : Kind::kClose, 0, ""}, {Kind::kClose, 0, ""}};
        g_debugSwitch = 1;
        view_.onFirstWait = [] { ruqo_InterruptRun(2); };
        qo_.DoQol("a=1; b=2; c=3;", nullptr);
        ASSERT_EQ(view_.seen.size(), 2u);
        EXPECT_TRUE(view_.seen[1].stop);
        EXPECT_EQ(view_.seen[1].waitMs, -1);
        ResetDebugger();
    }
    g_debugSwitch = 0;
    SetDebugView(nullptr);
    ruqo_InterruptRun(2);
    EXPECT_EQ(g_interruptRequest, 0);
    SetDebugView(&view_);
}

// A pause requested while a loop runs as one compiled form: the loop hands
// over to the text with its variables written back, so the stop sees i and
// s of the same pass, and the run goes on to the same sum.
TEST_F(DebuggerTest, APauseInsideACompiledLoopSeesItsVariables) {
    std::thread request([] {
        usleep(2000);
        ruqo_InterruptRun(2);
    });
    view_.commands = {{Kind::kEval, 0, "s == i*(i-1)/2 || s == i*(i+1)/2"}, {Kind::kEval, 0, "i"}, {Kind::kClose, 0, ""}};
    qo_.DoQol("s = 0; for (i = 0; i < 5000000; i++) s = s + i; s", nullptr);
    request.join();
    ruqo_InterruptRun(0);
    EXPECT_EQ(qotool::test::ResultOf(qo_), "N:12499997500000");
    ASSERT_GE(view_.seen.size(), 3u);
    EXPECT_EQ(view_.seen[1].answer, "N:1") << view_.seen[0].sentence << " i=" << view_.seen[2].answer;
}

TEST_F(DebuggerTest, SettingsSurviveACloseAndGarbage) {
    view_.commands = {{Kind::kLevel, 2, ""}, {Kind::kEntry, 0, ""}, {Kind::kWatch, 1, "名字=='张三'"},
                      {Kind::kPace, 350, ""}, {Kind::kClose, 0, ""}};
    Debug("a=1;");
    EXPECT_EQ(view_.closed, 1);
    const DebugSettings s = LoadDebugSettings(DebugSettingsPath());
    EXPECT_EQ(s.level, DebugLevel::kStep);
    EXPECT_FALSE(s.entry);
    EXPECT_EQ(s.interval, "350");
    std::string raw;
    ASSERT_TRUE(platform::ReadWholeFile(DebugSettingsPath().c_str(), raw));
    EXPECT_EQ(raw.rfind("[QOL调试器]\r\n32f0=0\r\n32f1=0\r\n32f2=1\r\n", 0), 0u) << test::Readable(raw);
    EXPECT_NE(raw.find("\r\n32ec=名字=='张三'\r\n"), std::string::npos);

    // The window's place and the condition round-trip; garbage reads as the defaults.
    DebugSettings round = s;
    round.maximized = true;
    round.condition = "名=='值'";
    ASSERT_TRUE(SaveDebugSettings(DebugSettingsPath(), round));
    DebugSettings back = LoadDebugSettings(DebugSettingsPath());
    EXPECT_TRUE(back.maximized);
    EXPECT_EQ(Gbk(back.condition), Gbk(round.condition));
    EXPECT_EQ(Gbk(back.watch[1]), Gbk("名字=='张三'"));
    back.maximized = false;
    back.hasRect = true;
    back.left = 10, back.top = 20, back.width = 300, back.height = 200;
    SaveDebugSettings(DebugSettingsPath(), back);
    DebugSettings rect = LoadDebugSettings(DebugSettingsPath());
    EXPECT_FALSE(rect.maximized);
    EXPECT_TRUE(rect.hasRect);
    EXPECT_EQ(rect.width, 300);

    WriteSettings("\xFF\xFE[[[\r\n=\r\n32f2=zz\r\n[QOL调试器\r\n32df=\r\n32e3\r\n尺寸位置=1,2\r\n\x80");
    DebugSettings garbage = LoadDebugSettings(DebugSettingsPath());
    EXPECT_EQ(garbage.level, DebugLevel::kSentence);
    EXPECT_TRUE(garbage.entry);
    EXPECT_FALSE(garbage.hasRect);
    EXPECT_EQ(garbage.interval, "200");
    view_.commands = {{Kind::kClose, 0, ""}};
    EXPECT_EQ(Debug("a=1; a"), "N:1");
}

}  // namespace
}  // namespace qotool::diag
