// qol --debug: the scripted debugger (--debug-commands FILE, or standard
// input without a terminal: one command per line, each stop printed as a
// line), the screen of the terminal debugger on a pseudo-terminal, Ctrl-C,
// the user's settings file, and the prompt on a terminal.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "support/qol_process.h"
#include "support/temp_env.h"

namespace {

using qotool::test::Args;
using qotool::test::Outcome;
using qotool::test::RunQolOnTerminal;
using qotool::test::Terminal;

class QolDebugTest : public ::testing::Test {
protected:
    std::string Write(const std::string& name, const std::string& bytes) { return folder_.Write(name, bytes); }
    std::string Read(const std::string& name) { return qotool::test::TempDir::Read(dir_ + "/" + name); }
    qotool::test::EnvChanges Env() { return {{"QO_DEBUG_SETTINGS", settings_.c_str()}, {"QO_UI", "silent"}}; }
    // Runs qol in the folder with the commands from a file and a settings
    // file of its own.
    Outcome Run(Args args, const std::string& commands) {
        Write("commands", commands);
        const qotool::test::CurrentDirectory here(dir_);
        args.insert(args.begin(), {"--debug-commands", "commands"});
        return qotool::test::RunQol(args, "", Env());
    }
    qotool::test::TempDir folder_;
    const std::string dir_ = folder_.path(), settings_ = dir_ + "/QolDebug.ini";
};

TEST_F(QolDebugTest, StepsWatchesRunsUntilAndTerminatesALoop) {
    Write("loop.qol", "i=0;\nwhile (1) {\n  ?i = i + 1;\n}\n");
    const Outcome s = Run({"-r", "loop.qol"}, "step\nstep\nstep\nstep\nstep\nwatch 1 i\nuntil i==5\nterminate\n");
    const std::string stops =
        u8"loop.qol:1:1: S开始 level 0: i=0;\n"
        u8"loop.qol:2:1: ;句子 level 0: while (1) {\n"
        u8"loop.qol:3:4: B断点 level 0: i = i + 1;\n"
        u8"loop.qol:4:1: ;分句 level 0: }\n"
        u8"loop.qol:3:4: B断点 level 0: i = i + 1;\n"
        u8"loop.qol:4:1: ;分句 level 0: }\n"
        u8"watch 1 i = N:2\n"
        // Until the condition holds, breakpoints show for the pace interval only.
        u8"loop.qol:3:4: B断点 level 0: i = i + 1;\n"
        u8"watch 1 i = N:2\n"
        u8"loop.qol:3:4: B断点 level 0: i = i + 1;\n"
        u8"watch 1 i = N:3\n"
        u8"loop.qol:3:4: B断点 level 0: i = i + 1;\n"
        u8"watch 1 i = N:4\n"
        u8"loop.qol:4:1: ;分句 level 0: }\n"
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
    const Outcome s = Run({"-e", "s='名字'; n=3; ?n=n+1;"},
                          "step\nstep\nstep\neval while(1);\nwatch 2 while(1);\neval n*2\nvalue s\nvalue\nvars\nclose\n");
    EXPECT_NE(s.out.find(u8"-e:1:15: B断点 level 0: n=n+1;\n"
                         u8"eval: 无法计算: no result within 5000000 steps (an endless loop?)\n"
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

// Without a terminal the commands come from standard input; garbage is
// refused with a word on what is wanted and the session goes on.
TEST_F(QolDebugTest, BadCommandsAreRefusedAndTheSessionGoesOn) {
    const Outcome s = qotool::test::RunQol(
        {"--debug", "-e", "a=1; b=2; a+b"},
        "jump\nu\nl\nwatch 9 a\nwatch x\nwatch 1 a+*)\nwatch 1\npace x\npace 99999999999\nrun 0\nrun -3\nuntil\neval\n"
        "level sideways\nstep now\nlevel block\nexit\n",
        Env());
    for (const char* expected :
         {u8"qol: unknown command 'jump'", u8"qol: ambiguous command 'u'", u8"qol: ambiguous command 'l'",
          u8"qol: watch needs a number 1-3", u8"watch 1 a+*) = 无法计算\nwatch 1 cleared\n",
          u8"qol: pace needs a number of milliseconds, not 'x'", u8"not '99999999999'",
          u8"qol: run needs a line number, not '0'", u8"qol: run needs a line number, not '-3'",
          u8"qol: until needs a condition", u8"qol: eval needs an expression",
          u8"qol: level takes block, sentence or step", u8"qol: step takes no argument", u8"level block\n",
          u8"exit off\n"}) {
        EXPECT_NE(s.out.find(expected), std::string::npos) << expected << "\n" << s.out;
    }
    // The end of the input closes the debugger; the run's result comes last.
    EXPECT_EQ(s.out.substr(s.out.size() - 4), "N:3\n");
    EXPECT_EQ(s.status, 0);
}

// Which errors stop is in debugger_test.cpp.
TEST_F(QolDebugTest, DebugNeedsARunAndItsCommands) {
    EXPECT_EQ(Run({}, "").status, 2);
    EXPECT_EQ(qotool::test::RunQol({"--debug-commands", dir_ + "/missing", "-e", "1"}).status, 2);
}

// A stop inside a function names the file's line and column, as the error
// there does; run goes to a line of the file; continue runs to the next
// marker; eval and value say why they cannot compute.
TEST_F(QolDebugTest, StopsNameTheFilePlaceAndEvalSaysWhy) {
    Write("fdbg.qol", "a = 1;\n#sq(x){\n  y = x * x;\n  ?return y + zz;\n}\nb = sq(3);\n");
    const Outcome s = Run({"fdbg.qol"}, "run 6\ncontinue\neval sq(3)\nvalue nope\nup\nc\n");
    EXPECT_EQ(s.out, u8"fdbg.qol:1:1: S开始 level 0: a = 1;\n"
                     u8"fdbg.qol:6:1: (步进 level 0: b = sq(3);\n"  // the first event in the range
                     u8"fdbg.qol:4:4: B断点 level 0: return y + zz;\n"
                     u8"eval: 无法计算: 不能改写、新建和移去变量、数组或字段\n"
                     u8"value: 无法计算: 'nope' 变量未定义\n"
                     u8"selected level 0\n");
    EXPECT_EQ(s.err.substr(0, 11), u8"fdbg.qol:4:") << s.err;  // the error of the same line
}

// Ctrl-C pauses the run every time, pause key mode or not, also after
// continue turned the debugger off; the third stop terminates.
TEST_F(QolDebugTest, CtrlCPausesTheRunEveryTime) {
    Write("commands", "continue\ncontinue\nterminate\n");
    const std::string line = "cd '" + dir_ + "' || exit 1; QO_DEBUG_SETTINGS=QolDebug.ini QO_UI=silent '" QOTOOL_QOL_BIN
                             "' --debug-commands commands -e \"i=0; while(1){i=i+1;}\" </dev/null >out 2>err & "
                             "p=$!; (sleep 50; kill -9 $p) >/dev/null 2>&1 & g=$!; "
                             "for n in 2 3; do until [ $(wc -l <out) -ge $((n-1)) ]; do sleep 0.05; done; "
                             "sleep 0.2; kill -INT $p; until [ $(wc -l <out) -ge $n ]; do sleep 0.05; done; done; "
                             "wait $p; echo $? >status; kill $g 2>/dev/null; true";
    ASSERT_EQ(std::system(line.c_str()), 0);
    EXPECT_EQ(Read("status"), "1\n") << Read("out");
    const std::string out = Read("out");
    size_t stops = 0;
    for (size_t at = out.find(" level 0: "); at != std::string::npos; at = out.find(" level 0: ", at + 1)) ++stops;
    EXPECT_EQ(stops, 3u) << out;
    EXPECT_NE(out.find(u8"\nX:QOL程序运行被调试器强制终止"), std::string::npos) << out;
}

// qol keeps the debugger's settings per user and says at the start which
// watches it brought back.
TEST_F(QolDebugTest, SettingsAreKeptPerUser) {
    const std::string home = folder_.MakeDir("home"), config = folder_.MakeDir("config");
    const struct {
        const char* xdg;
        std::string file;
    } rows[] = {{config.c_str(), config + "/qol/QolDebug.ini"}, {nullptr, home + "/.config/qol/QolDebug.ini"}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.file);
        const qotool::test::EnvChanges env = {
            {"QO_DEBUG_SETTINGS", nullptr}, {"XDG_CONFIG_HOME", row.xdg}, {"HOME", home.c_str()}, {"QO_UI", "silent"}};
        const Outcome first = qotool::test::RunQol({"--debug", "-e", "i=2"}, "watch 2 i*3\nc\n", env);
        EXPECT_EQ(first.err, "");
        EXPECT_NE(Read(row.file.substr(dir_.size() + 1)).find("32ec=i*3\r\n"), std::string::npos);
        const Outcome second = qotool::test::RunQol({"--debug", "-e", "i=2"}, "c\n", env);
        EXPECT_NE(second.err.find(u8"qol: watches restored from " + row.file + u8": 2 i*3"), std::string::npos)
            << second.err;
    }
}

// What a terminal of some size shows of what qol wrote: enough of a VT100
// for the debugger's screens (cursor position, erase, the alternate screen,
// wrapping, scrolling); East Asian characters take two cells.
class Screen {
public:
    Screen(int rows, int columns) { Resize(rows, columns); }
    void Resize(int rows, int columns) {
        rows_ = rows;
        columns_ = columns;
        for (Grid* grid : {&main_, &alternate_}) {
            grid->resize((size_t)rows);
            for (auto& row : *grid) row.resize((size_t)columns);
        }
        row_ = std::min(row_, rows - 1);
        column_ = std::min(column_, columns - 1);
    }
    // Takes what the terminal showed since the last call.
    void Feed(const std::string& shown) {
        for (; fed_ < shown.size(); ++fed_) Take(shown, fed_);
    }
    bool OnAlternateScreen() const { return onAlternate_; }
    std::string Row(int r) const {
        std::string out;
        for (const std::string& cell : Shown()[(size_t)r]) out += cell.empty() ? " " : cell == "\x01" ? "" : cell;
        return out.erase(out.find_last_not_of(' ') + 1);
    }
    std::string Text() const {
        std::string out;
        for (int r = 0; r < rows_; ++r) out += Row(r) + "\n";
        return out;
    }

private:
    using Grid = std::vector<std::vector<std::string>>;  // cells: a character, "" blank, "\x01" its second half
    const Grid& Shown() const { return onAlternate_ ? alternate_ : main_; }
    Grid& Shown() { return onAlternate_ ? alternate_ : main_; }
    void NewLine() {
        if (++row_ < rows_) return;
        row_ = rows_ - 1;
        Shown().erase(Shown().begin());
        Shown().emplace_back((size_t)columns_);
    }
    void Take(const std::string& s, size_t& i) {
        const unsigned char c = (unsigned char)s[i];
        if (c == '\x1b' && i + 1 < s.size() && s[i + 1] == '[') {
            size_t end = i + 2;
            while (end < s.size() && !(s[end] >= '@' && s[end] <= '~')) ++end;
            if (end >= s.size()) return;
            Control(s[end], s.substr(i + 2, end - i - 2));
            i = end;
        } else if (c == '\r') {
            column_ = 0;
        } else if (c == '\n') {
            NewLine();
        } else if (c >= 0x20 && (c < 0x80 || c >= 0xC0)) {
            const size_t length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
            unsigned code = length == 1 ? c : c & (0x3F >> (length - 1));
            for (size_t k = 1; k < length && i + k < s.size(); ++k) code = code << 6 | ((unsigned char)s[i + k] & 0x3F);
            const int width = (code >= 0x2E80 && code <= 0xA4CF) || (code >= 0xFF00 && code <= 0xFF60) ? 2 : 1;
            if (column_ + width > columns_) {
                column_ = 0;
                NewLine();
            }
            Shown()[(size_t)row_][(size_t)column_] = s.substr(i, length);
            if (width == 2) Shown()[(size_t)row_][(size_t)column_ + 1] = "\x01";
            column_ += width;
            i += length - 1;
        }
    }
    void Control(char final, const std::string& parameters) {
        if (parameters == "?1049" && (final == 'h' || final == 'l')) {
            onAlternate_ = final == 'h';
            if (onAlternate_)
                for (auto& row : alternate_) std::fill(row.begin(), row.end(), "");
            return;
        }
        auto clear = [&](int row, int from) {
            for (int k = from; k < columns_; ++k) Shown()[(size_t)row][(size_t)k] = "";
        };
        if (final == 'H') {
            int r = 1, c = 1;
            sscanf(parameters.c_str(), "%d;%d", &r, &c);
            row_ = std::min(std::max(r, 1), rows_) - 1;
            column_ = std::min(std::max(c, 1), columns_) - 1;
        } else if (final == 'K') {
            clear(row_, column_);
        } else if (final == 'J') {
            for (int r = parameters == "2" ? 0 : row_ + 1; r < rows_; ++r) clear(r, 0);
            if (parameters != "2") clear(row_, column_);
        }
    }
    int rows_ = 0, columns_ = 0, row_ = 0, column_ = 0;
    bool onAlternate_ = false;
    size_t fed_ = 0;
    Grid main_, alternate_;
};

// The screen on a pseudo-terminal of each size: "c" runs from the first
// stop to the marker in a function, whose screen shows the one-line title
// with the stop's FILE:LINE:COLUMN, the stop's line with its number and the
// function's variables; a resize draws it again for the new size; the last
// "c" ends the run with the terminal's own screen back, the script's output
// on it (or terminate ends it with its report there). At 10x5 the screen
// says it is too small.
TEST_F(QolDebugTest, TerminalScreenFitsTheWindowAndFollowsResizes) {
    Write("t.qol", "a = 1;\n#sq(x){\n  y = x * x;\n  ?return y + a;\n}\nb = sq(3);\nprint(b + 990);\n");
    const struct {
        int rows, columns, resizedRows, resizedColumns;
        const char* last;  // the last command
    } sizes[] = {{24, 80, 15, 60, "c\n"}, {15, 60, 24, 80, "c\n"}, {5, 10, 15, 60, "terminate\n"}};
    for (const auto& size : sizes) {
        SCOPED_TRACE(std::to_string(size.columns) + "x" + std::to_string(size.rows));
        Screen screen(size.rows, size.columns);
        const qotool::test::CurrentDirectory inFolder(dir_);
        auto expectStop = [&](bool small) {
            const std::string text = screen.Text();
            if (small) {
                std::string joined = text;
                joined.erase(std::remove(joined.begin(), joined.end(), '\n'), joined.end());
                EXPECT_NE(joined.find(u8"10x5 is too small"), std::string::npos) << text;
                return;
            }
            EXPECT_NE(screen.Row(0).find(u8"QOL调试器"), std::string::npos) << text;
            EXPECT_NE(screen.Row(0).find(u8"t.qol:4:4"), std::string::npos) << text;
            EXPECT_NE(text.find(u8"\n>4    ?return y + a;\n"), std::string::npos) << text;
            EXPECT_NE(text.find(u8"\nN型 y = 9\n"), std::string::npos) << text;
        };
        const Outcome outcome =
            RunQolOnTerminal({"--debug", "t.qol"},
                             Env(), "",
                             "debug> ",
                             [&](const Terminal& terminal, size_t n) {
                                 screen.Feed(terminal.Shown());
                                 if (n == 1) {
                                     expectStop(size.columns < 40);
                                     screen.Resize(size.resizedRows, size.resizedColumns);
                                     terminal.Resize(size.resizedRows, size.resizedColumns);
                                     return;
                                 }
                                 if (n == 2) expectStop(false);
                                 terminal.Type(n == 2 ? size.last : "c\n");
                             },
                             size.rows, size.columns);
        screen.Feed(outcome.out);
        EXPECT_FALSE(screen.OnAlternateScreen());
        const bool ended = size.last[0] == 't';
        EXPECT_EQ(outcome.status, ended ? 1 : 0);
        EXPECT_NE(screen.Text().find(ended ? u8"QOL程序运行被调试器强制终止" : "\n1000\n"), std::string::npos)
            << screen.Text();
    }
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
