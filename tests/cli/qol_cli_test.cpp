// Runs the built qol binary and checks what it prints and its exit status.
// Narrow literals here are GBK (the build's execution charset); what qol
// prints by default is UTF-8, so expectations on it are u8 literals.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "support/doc_examples.h"
#include "support/gbk_text.h"
#include "support/qol_process.h"
#include "support/temp_env.h"

namespace {

using qotool::test::Args;
using qotool::test::Contains;
using qotool::test::Outcome;
using qotool::test::RunQol;
using qotool::test::RunQolOnTerminal;
using qotool::test::StartsWith;
using qotool::test::TempDir;

// The source tree: QOTOOL_TEST_QOL_DIR is its tests/qol folder.
std::string SourceRoot() {
    const std::string qolDir = QOTOOL_TEST_QOL_DIR;
    return qolDir.substr(0, qolDir.rfind("/tests/qol"));
}

std::string Describe(const Args& args) {
    std::string text = "qol";
    for (const std::string& arg : args) text += " [" + arg + "]";
    return text;
}


struct TextCase {
    Args args;
    std::string out;
    int status;
    std::string input = "";  // standard input, run as one text when no text or file is given
};

TEST(QolCliTest, TextFileAndStandardInputRunsPrintTheirResultTexts) {
    TempDir dir;
    const std::string gbk = dir.Write("gbk.qol", "'中文'");
    const std::string bom = dir.Write("bom.qol", "\xEF\xBB\xBF" "'a'");
    const std::string number = dir.Write("number.qol", "(1);\r\n0x20\r\n");
    const std::vector<TextCase> cases = {
        {{"-e", "'ab' /*x*/ \"cd\""}, "S:abcd\n", 0},
        {{"-e", ""}, "Z:\n", 0},
        {{"-e'x'"}, "S:x\n", 0},
        {{"-e", "1", "-e", "'two'", "-e", "3"}, "N:1\nS:two\nN:3\n", 0},
        // Chinese source as UTF-8 or as GBK bytes; the result prints as UTF-8.
        {{"-e", u8"'中文'"}, u8"S:中文\n", 0},
        {{"-e", "'中文'"}, u8"S:中文\n", 0},
        {{"--encoding=utf-8", "-e", u8"'中文'"}, u8"S:中文\n", 0},
        // gbk passes bytes unchanged both ways.
        {{"--encoding=gbk", "-e", "'中文'"}, "S:中文\n", 0},
        {{"--encoding", "gbk", "-e", "'\\xFF'"}, "S:\xFF\n", 0},
        // A byte that has no UTF-8 form prints as \xNN.
        {{"-e", "'a\\xFFb'"}, "S:a\\xFFb\n", 0},
        {{"-e", "'\\x81\\x5C'"}, u8"S:乗\n", 0},  // 乗 is 81 5C in GBK
        // Files run in order; -r prints the results of what follows it.
        {{"--result", gbk}, u8"S:中文\n", 0},
        {{"-r", "--encoding=gbk", gbk}, "S:中文\n", 0},
        {{"-f", number, "-r", "-f", bom, "-f", gbk}, u8"N:32\nS:a\nS:中文\n", 0},
        {{"-f", number, gbk}, "", 0},
        {{"-r", "-e", "1", number}, "N:1\nN:32\n", 0},
        {{"-r", SourceRoot() + "/examples/hello.qol"}, "S:Hello, QOL\n", 0},
        {{}, "", 0, "'ab'\n'cd'\n"},
        {{"-r"}, "S:abcd\n", 0, "'ab'\n'cd'\n"},
        {{"-r"}, "Z:\n", 0, ""},
        {{"-r"}, u8"S:中文\n", 0, u8"'中文'"},
        {{"-r", "--encoding=gbk"}, "S:中文\n", 0, "'中文'"},
        {{}, "", 1, "nosuchword"},
    };
    for (const TextCase& c : cases) {
        const Outcome outcome = RunQol(c.args, c.input);
        EXPECT_EQ(outcome.out, c.out) << Describe(c.args) << " < " << c.input;
        EXPECT_EQ(outcome.err.empty(), c.status == 0) << Describe(c.args) << outcome.err;
        EXPECT_EQ(outcome.status, c.status) << Describe(c.args) << " < " << c.input;
    }
}

// What a text leaves open at its end is a warning on standard error; the
// run's result stays as the interpreter gives it.
TEST(QolCliTest, QuoteBracketOrCommentOpenAtTheEndIsWarnedAbout) {
    TempDir dir;
    const std::string file = dir.Write("open.qol", u8"#!/usr/bin/env qol\nx = 1;\nif (x) {\n  y = '中(' + 2\n");
    const struct {
        Args args;
        std::string out;
        std::string err;
    } cases[] = {
        {{"-e", "x = 'abc"}, "S:abc\n", u8"-e:1:5: warning: the string literal that starts with ' is not closed at the end of the script\n"},
        {{"-e", u8"'中文' + \"x"}, u8"S:中文x\n", u8"-e:1:8: warning: the string literal that starts with \" is not closed at the end of the script\n"},
        {{"-e", "f = (1 + [2"}, "", u8"-e:1:10: warning: '[' is not closed"},
        {{"-e", "1 /* 2"}, "N:1\n", u8"-e:1:3: warning: the comment /* is not closed"},
        {{"-r", file}, "", file + u8":3:8: warning: '{' is not closed at the end of the script\n"},
        // Closed ones, and brackets inside literals and comments, are no warning.
        {{"-e", "'(' + \"[\" + '\\'' // {"}, "S:(['\n", ""},
        {{"-e", "a[1] = (2); if (a[1]) { 3 }"}, "N:3\n", ""},
    };
    for (const auto& c : cases) {
        const Outcome outcome = RunQol(c.args);
        if (!c.out.empty()) {
            EXPECT_EQ(outcome.out, c.out) << Describe(c.args);
        }
        EXPECT_TRUE(StartsWith(outcome.err, c.err) && (c.err.empty() == outcome.err.empty())) << Describe(c.args) << "\n" << outcome.err;
    }
}

// Texts that come in as UTF-8 become GBK: a character GBK lacks is "?" and
// one warning per text names the first; file contents stay bytes, and utf8()
// and gbk() convert when asked.
TEST(QolCliTest, CharactersGbkLacksAreNamedOncePerText) {
    TempDir dir;
    const std::string file = dir.Write("lost.qol", u8"x = 1;\n  s = 'naïve café ß';\nprint(s, argv[1]);");
    const std::string bytes = dir.Write("bytes.txt", u8"é中");
    const std::string backslash = dir.Write("backslash.qol", u8"a = 1;\nb = '乗';\n");
    const struct {
        Args args;
        std::string input;
        std::string out;
        std::string err;  // @ stands for the file
    } cases[] = {
        {{"-e", u8"'naïve café ß 😀'"}, "", u8"S:na?ve café ? ?\n",
         u8"-e:1:4: warning: 'ï' (U+00EF) has no GBK form and became '?' (2 more such characters in this text)\n"},
        {{file, u8"😀"}, "", u8"na?ve café ? ?\n",
         u8"argv[1]:1:1: warning: '😀' (U+1F600) has no GBK form and became '?'\n"
         u8"@:2:10: warning: 'ï' (U+00EF) has no GBK form and became '?' (1 more such character in this text)\n"},
        {{"-e", "a = readline(); b = readline(); a + b"}, u8"é\nxß\n", u8"S:éx?\n",
         u8"<stdin>:2:2: warning: 'ß' (U+00DF) has no GBK form and became '?'\n"},
        // A character whose GBK form ends in a backslash starts an escape inside a literal.
        {{"-f", backslash}, "", "",
         backslash + u8":2: warning: '乗' is \\x81\\x5C in GBK; inside a string literal its second byte is a backslash that "
                     u8"starts an escape, so write it there as \\x81\\x5C\n" +
             backslash + u8":2:5: warning: the string literal that starts with ' is not closed at the end of the script\n"},
        // Forced UTF-8 reads GBK bytes as malformed UTF-8.
        {{"--encoding=utf-8", "-e", "'中文'"}, "", "S:????\n",
         u8"-e:1:2: warning: the byte \\xD6 is not UTF-8 and became '?' (3 more such characters in this text)\n"},
        // FileRead gives the file's bytes; gbk() and utf8() convert.
        {{"-e", "s = FileRead('" + bytes + "'); len(s) * 10 + len(gbk(s)) + 100 * (utf8(gbk(s)) == s)"}, "", "N:154\n", ""},
        // Bytes with no UTF-8 form print escaped.
        {{"-e", "print('\\x81', 'a\\xFF'); '\\x81'"}, "", "\\x81 a\\xFF\nS:\\x81\n", ""},
    };
    for (const auto& c : cases) {
        const Outcome outcome = RunQol(c.args, c.input);
        std::string err = c.err;
        if (const size_t at = err.find('@'); at != std::string::npos) err.replace(at, 1, file);
        if (!c.out.empty()) {
            EXPECT_EQ(outcome.out, c.out) << Describe(c.args);
        }
        EXPECT_EQ(outcome.err, err) << Describe(c.args);
        EXPECT_EQ(outcome.status, 0) << Describe(c.args);
    }
}

TEST(QolCliTest, LastRunDecidesTheExitStatus) {
    const struct {
        Args args;
        int status;
    } cases[] = {
        {{"-e", "nosuchword", "-e", "1"}, 0},
        {{"-e", "1", "-e", "nosuchword"}, 1},
        {{"-e", "nosuchword", "-e", "nosuchword"}, 1},
    };
    for (const auto& c : cases) {
        const Outcome outcome = RunQol(c.args);
        EXPECT_EQ(outcome.status, c.status) << Describe(c.args);
        EXPECT_TRUE(StartsWith(outcome.out, "X:") || StartsWith(outcome.out, "N:1\nX:")) << outcome.out;
    }
    // exit() ends qol: no later run, no result text of its own; from a
    // timer while qol pumps, and from another interpreter too (where the
    // console words are a user executor).
    const struct {
        Args args;
        std::string out;
        int status;
    } exits[] = {
        {{"-e", "1", "-e", "exit(7)", "-e", "2"}, "N:1\n", 7},
        {{"--pump", "5000", "-e", "timeropen(1, 0, 20, 1, 'exit(4)')", "-e", "print('after')"}, "N:1\n", 4},
        {{"-e", "[1]print('one', gbk(utf8('二'))); 2", "-e", "[1]exit(5)", "-e", "3"}, u8"one 二\nN:2\n", 5},
    };
    for (const auto& c : exits) {
        const Outcome outcome = RunQol(c.args);
        EXPECT_EQ(outcome.out, c.out) << Describe(c.args);
        EXPECT_EQ(outcome.status, c.status) << Describe(c.args);
    }
}


// An error prints its result text with the excerpt (in UTF-8) and one
// placed line on standard error.
TEST(QolCliTest, ErrorsShowTheirPlaceAndTheExcerpt) {
    const Outcome text = RunQol({"-e", u8"'中文'; nosuchword"});
    EXPECT_EQ(text.status, 1);
    EXPECT_TRUE(StartsWith(text.out, "X:") && Contains(text.out, u8"【发生错误处】")) << text.out;
    EXPECT_EQ(text.err, u8"-e:1:17: 'nosuchword' 变量未定义\n");
    TempDir dir;
    // A Chinese file name: the runner hands it to the interpreter as GBK and
    // the excerpt shows it back as UTF-8.
    const std::string path = dir.Write(u8"脚本.qol", u8"'中文';\r\nnosuchword;\r\n");
    for (const bool printResult : {false, true}) {
        const Args args = printResult ? Args{"-r", path} : Args{path};
        const Outcome outcome = RunQol(args);
        EXPECT_EQ(outcome.status, 1) << Describe(args);
        EXPECT_EQ(outcome.err, path + u8":2:11: 'nosuchword' 变量未定义\n");
        if (printResult) {
            EXPECT_TRUE(Contains(outcome.out, u8"〖" + path + u8"〗")) << outcome.out;
            EXPECT_TRUE(Contains(outcome.out, u8"【发生错误处】")) << outcome.out;
        } else {
            EXPECT_EQ(outcome.out, "");
        }
    }
}

// Bad usage and a file that cannot be read stop with status 2.
TEST(QolCliTest, BadUsageAndUnreadableFilesExitWith2) {
    TempDir dir;
    const Args cases[] = {
        {dir.path() + "/missing.qol"},
        {dir.path()},
        {"--bogus"},
        {"-x"},
        {"-e", "1", "--check"},
        {"-f"},
        {"--encoding=latin1", "-e", "1"},
        {"--encoding="},
        {"--encoding"},
        {"-e"},
        {"--pump"},
        {"--pump", "soon", "-e", "1"},
        {"--pump=-5", "-e", "1"},
        {"--log-dir"},
    };
    for (const Args& args : cases) {
        const Outcome outcome = RunQol(args);
        EXPECT_EQ(outcome.status, 2) << Describe(args);
        EXPECT_EQ(outcome.out, "") << Describe(args);
        EXPECT_NE(outcome.err, "") << Describe(args);
    }
}

TEST(QolCliTest, HelpAndVersion) {
    Outcome outcome = RunQol({"--help"});
    EXPECT_EQ(outcome.status, 0);
    for (const char* option : {"-e TEXT", "--result", "--encoding=auto|gbk|utf-8", "--version"}) {
        EXPECT_TRUE(Contains(outcome.out, option)) << option;
    }
    // The manual page describes every option the help lists.
    const std::string manual = TempDir::Read(SourceRoot() + "/docs/qol.1");
    std::istringstream help(outcome.out);
    int options = 0;
    for (std::string line; std::getline(help, line);) {
        if (line.compare(0, 3, "  -") != 0) continue;
        std::istringstream words(line);
        for (std::string word; words >> word && word[0] == '-';) {
            word = word.substr(0, word.find_first_of("=,"));
            std::string escaped;
            for (char c : word) escaped += c == '-' ? std::string("\\-") : std::string(1, c);
            EXPECT_TRUE(Contains(manual, escaped)) << word << " is not in docs/qol.1";
            ++options;
        }
    }
    EXPECT_GE(options, 12);
    outcome = RunQol({"--version"});
    EXPECT_EQ(outcome.status, 0);
    EXPECT_TRUE(StartsWith(outcome.out, "qol ")) << outcome.out;
    EXPECT_GT(outcome.out.size(), 5u);
}

// A script run loads neither the line editor nor libffi until it needs them
// (the loader's own trace names every file it loads).
TEST(QolCliTest, LibrariesLoadWhenFirstUsed) {
    qotool::test::EnvironmentVariable trace("LD_DEBUG", "files");
    const Outcome plain = RunQol({"-e", "1"});
    EXPECT_EQ(plain.out, "N:1\n");
    EXPECT_TRUE(Contains(plain.err, "file=libc.so")) << "no loader trace";
    // The program holds the library, and the C++ library too where no
    // sanitizer runtime wants the shared one.
    for (const char* library : {"file=libffi", "file=libedit", "file=libqoTool_NoQO"})
        EXPECT_FALSE(Contains(plain.err, library)) << library;
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
    EXPECT_FALSE(Contains(plain.err, "file=libstdc++"));
#endif
    const Outcome native = RunQol({"-e", "Dll::m::fabs('%g=%g', -2.5)"});
    EXPECT_EQ(native.out, "N:2.5\n");
    EXPECT_TRUE(Contains(native.err, "file=libffi"));
    // A module that links libqoTool_NoQO.so gets the program's copy (the
    // same tables), not a second library.
    const std::string module = QOTOOL_EXAMPLE_MODULE;
    const Outcome counter = RunQol({"-e", "c = ruqo_Counter_Create('n', 1); c.Add(); c.Count()"}, "",
                                   {{"QO_MODULE_PATH", module.substr(0, module.rfind('/')).c_str()}});
    EXPECT_EQ(counter.out, "N:2\n");
    EXPECT_TRUE(Contains(counter.err, "file=" + module));
    EXPECT_FALSE(Contains(counter.err, "file=libqoTool_NoQO"));
}


// qol on a terminal, typing each line after the prompt that asks for it,
// then Ctrl-D. Returns everything the terminal showed.
Outcome RunPrompt(const std::vector<std::string>& lines, const Args& args = {}) {
    return RunQolOnTerminal(args, {{"TERM", "dumb"}, {"HOME", "/nonexistent"}}, "", "> ",
                            [&lines](const qotool::test::Terminal& terminal, size_t n) {
                                if (n > lines.size() || !terminal.WaitForLineEditor()) return;
                                terminal.Type(n < lines.size() ? lines[n] + "\r" : std::string("\x04"));
                            });
}

TEST(QolCliTest, PromptRunsEachCompleteInput) {
    Outcome outcome =
        RunPrompt({"nosuchword", "('ab'", "/* ) */ 'cd'", ")", "'(' \"[\"", "((2", ")", ")", u8"'中文'"});
    EXPECT_EQ(outcome.status, 0);
    // Lines 2 to 4 are one input; a bracket in a literal or a comment
    // neither opens nor closes one. Only the first input fails.
    for (const char* result : {"S:abcd\r\n", "S:([\r\n", "N:2\r\n", u8"S:中文\r\n"}) {
        EXPECT_TRUE(Contains(outcome.out, result)) << result;
    }
    const size_t error = outcome.out.find("X:");
    EXPECT_NE(error, std::string::npos);
    EXPECT_EQ(outcome.out.find("X:", error + 1), std::string::npos);

    outcome = RunPrompt({"1", "nosuchword"});
    EXPECT_EQ(outcome.status, 1);
    EXPECT_LT(outcome.out.find("N:1\r\n"), outcome.out.find("X:"));

    // -i: the prompt after the script, on the same interpreter.
    TempDir dir;
    const std::string script = dir.Write("start.qol", "print('ran', argv[1]); kept = 41;");
    outcome = RunPrompt({"kept + 1"}, {"-i", script, "arg"});
    EXPECT_EQ(outcome.status, 0);
    EXPECT_LT(outcome.out.find("ran arg\r\n"), outcome.out.find("N:42\r\n")) << outcome.out;
    EXPECT_NE(outcome.out.find("N:42\r\n"), std::string::npos) << outcome.out;

    // exit() ends the prompt with its status.
    outcome = RunPrompt({"1", "exit(9)", "2"});
    EXPECT_EQ(outcome.status, 9);
    EXPECT_FALSE(Contains(outcome.out, "N:2")) << outcome.out;
}

// The prompt greets with a banner, answers help itself, and keeps a
// multi-line input as one history entry that a later session recalls whole.
TEST(QolCliTest, PromptBannerHelpAndWholeInputsInHistory) {
    TempDir home;
    const auto session = [&home](const std::vector<std::string>& inputs) {
        return RunQolOnTerminal({}, {{"TERM", "dumb"}, {"HOME", home.path().c_str()}}, "", "> ",
                                [&inputs](const qotool::test::Terminal& terminal, size_t n) {
                                    if (n > inputs.size() || !terminal.WaitForLineEditor()) return;
                                    terminal.Type(n < inputs.size() ? inputs[n] : std::string("\x04"));
                                });
    };
    Outcome outcome = session({"x = (1 +\r", "2)\r", "help\r"});
    EXPECT_TRUE(StartsWith(outcome.out, "qol ")) << outcome.out;
    EXPECT_TRUE(Contains(outcome.out, "'help' for help, Ctrl-D to end")) << outcome.out;
    EXPECT_TRUE(Contains(outcome.out, "N:3\r\n")) << outcome.out;
    EXPECT_TRUE(Contains(outcome.out, "exit([code])")) << outcome.out;
    EXPECT_FALSE(Contains(outcome.out, "X:")) << outcome.out;
    // Ctrl-P twice goes back past help to the two-line input, which runs
    // again as a whole.
    outcome = session({"\x10\x10\r", "x\r"});
    EXPECT_TRUE(Contains(outcome.out, "N:3\r\nqol> x\r\nN:3\r\n")) << outcome.out;
    // A script does not know the word.
    EXPECT_EQ(RunQol({"-e", "help"}).status, 1);
}

// Timers run while qol pumps after each run; the log goes to --log-dir, with
// the file that was there moved along, and is closed when exit() ends qol.
TEST(QolCliTest, PumpRunsTimersAndLogDirPlacesTheLog) {
    TempDir dir;
    dir.Write("RuQoLog_NoQo_QOL.Txt", "old");
    const Outcome outcome = RunQol({"--log-dir", dir.path(), "--pump", "500", "-e",
                                    "system_n=0; timeropen(1,0,50,3,'system_n=system_n+1;')", "-e", "system_n",
                                    "-e", "MessageLog(,4,'done'); exit(3)"});
    EXPECT_EQ(outcome.out, "N:1\nN:3\n");
    EXPECT_EQ(outcome.status, 3);
    EXPECT_EQ(TempDir::Read(dir.path() + "/RuQoLog_NoQo_QOL_1.txt"), "old");
    const std::string bytes = TempDir::Read(dir.path() + "/RuQoLog_NoQo_QOL.Txt");
    EXPECT_TRUE(Contains(bytes, "\r\n关闭QOL定时器 1\r\n")) << bytes;
    EXPECT_TRUE(Contains(bytes, "\r\ndone\r\n")) << bytes;
    // exit() ends qol as any end does: the log gets its closing record.
    EXPECT_TRUE(Contains(bytes, "----平台套件卸载完毕----")) << bytes;
}

// A run that ends while 16 busy thread timers write the shared system_
// store: the exit never frees what a timer thread may still touch. Fifty
// runs, since a fault here shows in some runs only.
TEST(QolCliTest, ExitWhileThreadTimersRunEndsCleanly) {
    const std::string script =
        "system_count = 0; n = 1;\n"
        "while (n <= 16) {\n"
        "    timeropen(n, 3, 10, 0, 'i = 0; while (i < 500) { system_count = system_count + 1;"
        " system_t[i % 7] = i; system_s = str(i); i = i + 1; }');\n"
        "    n = n + 1;\n"
        "}\n"
        "i = 0; while (i < 300000) i = i + 1;\n"
        "system_count >= 0\n";
    for (int run = 0; run < 50; ++run) {
        const Outcome outcome = RunQol({"-e", script});
        ASSERT_EQ(outcome.status, 0) << "run " << run << " (-1: a signal)\n" << outcome.err;
    }
}

// Scripts the way other runners take them: arguments, console words,
// standard input, one placed line per error.
TEST(QolCliTest, ScriptsGetArgumentsConsoleWordsAndPlacedErrors) {
    TempDir dir;
    const std::string huge(1 << 20, 'x');
    const struct {
        const char* title;
        std::string script;  // UTF-8
        Args args;           // after the script
        std::string input;
        std::string out;     // exact
        std::string err;     // exact; the script's path replaces @
        int status;
    } cases[] = {
        {"arguments and print", "#!/usr/bin/env qol\nprint(argc, argv[1], argv[2]); argv[0]", {"a", u8"中"},
         "", "3 a \xE4\xB8\xAD\n", "", 0},
        {"argv beyond its end", "\n\nx = argv[2];", {"a"}, "", "",
         u8"@:3:4: 数组元素 argv[2] 的行号超界（合法行号0~1）\n", 1},
        {"options after the script are its arguments", "print(argv[1], argc)", {"-e", "1"}, "", "-e 3\n", "", 0},
        {"eprint writes on standard error", "eprint('to', 2); print('out')", {}, "", "out\n", "to 2\n", 0},
        {"readline reads lines, Z at the end", "a = readline(); b = readline(); c = readline(); print(a, b, Type(c))",
         {}, u8"one\r\n二\n", u8"one 二 Z\n", "", 0},
        {"zero bytes and huge texts print whole", "print('a\\x00b'); x = '" + huge + "'; print(len(x))", {}, "",
         std::string("a\0b\n", 4) + "1048576\n", "", 0},
        {"a script's own print wins", "#print(a){ return 'mine' } y = print(1); print2 = y; eprint(y)", {}, "", "",
         "mine\n", 0},
        {"an error in line 3, column in characters", u8"a = 1;\n\nb = '中文' + nosuch;", {}, "", "",
         u8"@:3:18: 'nosuch' 变量未定义\n", 1},
        {"exit ends the run and sets the status", "print(1); exit(3); print(2)", {}, "", "1\n", "", 3},
        {"a try does not keep an exit from ending the run",
         "try { exit(4) } catch (e) { print('caught') } print('after')", {}, "", "", "", 4},
        {"exit inside a function", "#f(){ exit(5); }\nf(); print('after')", {}, "", "", "", 5},
        {"exit() is 0 and a result value sets no status", "exit()", {}, "", "", "", 0},
        {"a script's result value sets no status", "1 + 1", {}, "", "", "", 0},
        {"exit takes a number", "exit('x')", {}, "", "",
         u8"@:1:10: 参数类型不应该是S型，而应该是N型：\nexit()第1个参数：'x'\n", 1},
        {"exit takes a whole number from 0 to 255", "exit(256)", {}, "", "",
         u8"@:1:10: exit()的参数应是0到255的整数，不是N型数据(256)\n", 1},
        {"an error inside print's arguments is the script's own", "print(1, 1/0)", {}, "", "",
         u8"@:1:13: 被零除\n", 1},
        {"an error inside a function names the body's line",
         "#f(a){\n  return a + nosuch;\n}\nf(2);", {}, "", "",
         u8"@:2:20: 当传入自定义函数的参数为：\n  a : 2\n'nosuch' 变量未定义\n", 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.title);
        const std::string path = dir.Write("script.qol", c.script);
        Args args{path};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const Outcome outcome = RunQol(args, c.input);
        EXPECT_EQ(outcome.out, c.out);
        std::string err = c.err;
        if (const size_t at = err.find('@'); at != std::string::npos) err.replace(at, 1, path);
        EXPECT_EQ(outcome.err, err);
        EXPECT_EQ(outcome.status, c.status);
    }
}

// Every marked example of the docs gives its documented result and exit
// status when qol runs it: a "qol" block as an -e text, a "qol script"
// block as a script file (support/doc_examples.h).
TEST(QolCliTest, DocumentedExamplesRunWithQol) {
    TempDir dir;
    const std::string docs = SourceRoot() + "/docs";
    int scripts = 0, texts = 0;
    for (const std::string& name : qotool::test::MarkdownFiles(docs)) {
        std::istringstream in(TempDir::Read(docs + "/" + name));
        for (const qotool::test::DocExample& example : qotool::test::ParseDocExamples(in)) {
            SCOPED_TRACE(name + ":" + std::to_string(example.line));
            std::string text;
            for (const std::string& line : example.text) text += (text.empty() ? "" : "\r\n") + line;
            const Outcome outcome = example.script ? RunQol({dir.Write("example.qol", text)}) : RunQol({"-e", text});
            ++(example.script ? scripts : texts);
            if (example.script) {
                EXPECT_EQ(outcome.out, example.expected);
                EXPECT_EQ(outcome.status, example.status);
            } else if (example.expected.size() > 2 && example.expected[1] == '~') {
                EXPECT_TRUE(StartsWith(outcome.out, example.expected.substr(0, 1) + ":" + example.expected.substr(2)))
                    << outcome.out;
            } else {
                EXPECT_EQ(outcome.out, example.expected + "\n");
            }
            if (!example.script) {
                EXPECT_EQ(outcome.status, example.expected[0] == 'X' ? 1 : 0);
            }
            EXPECT_FALSE(Contains(outcome.err, ": warning: ")) << outcome.err;
        }
    }
    EXPECT_GT(texts, 100);
    EXPECT_GE(scripts, 4);
}

TEST(QolCliTest, ExecutableScriptAndStandardInputScript) {
    TempDir dir;
    const std::string script =
        dir.Write("hello.qol", std::string("#!") + QOTOOL_QOL_BIN + "\nprint('hi', argv[1]);\n", 0755);
    Outcome outcome = RunQol({"there"}, "", {}, script);
    EXPECT_EQ(outcome.out, "hi there\n");
    EXPECT_EQ(outcome.status, 0);

    outcome = RunQol({"-r", "-", "x"}, "print(argv[0], argv[1]); 7");
    EXPECT_EQ(outcome.out, "- x\nN:7\n");
    outcome = RunQol({"-"}, "\nnosuch");
    EXPECT_EQ(outcome.err, u8"<stdin>:2:7: 'nosuch' 变量未定义\n");
    EXPECT_EQ(outcome.status, 1);

    // The greeting example without a name: its usage line and exit(1).
    outcome = RunQol({SourceRoot() + "/examples/scripts/greet.qol"});
    EXPECT_EQ(outcome.err, "usage: greet.qol NAME...\n");
    EXPECT_EQ(outcome.status, 1);

    outcome = RunQol({dir.path() + "/missing.qol", "a"});
    EXPECT_EQ(outcome.status, 2);
    EXPECT_TRUE(Contains(outcome.err, "No such file or directory")) << outcome.err;
}

TEST(QolCliTest, CheckReportsEachFindingWithItsPlace) {
    TempDir dir;
    const struct {
        std::string script;
        std::string err;  // @ stands for the path
        int status;
    } cases[] = {
        {"#!/usr/bin/env qol\nprint(argv[1], argc);\nx = 1;\ny = x + 2;\neprint(utf8(gbk(readline())));\nexit(y);\n", "", 0},
        {"x = 1;\ny = nosuch + 1;\nfoo(3);\n",
         u8"@:2:5: error: 'nosuch' is read, but no statement of the text assigns it [undefined-name]\n"
         u8"@:3:1: error: 'foo' is not a built-in and the text defines no function #foo(...) [unknown-function]\n",
         1},
        {"a = 1;\nb = (1 + ;\n", u8"@:2:5: error: '(' is not closed [unclosed-bracket]\n", 1},
        {u8"s = '中';\nt = 'ß';\n",
         u8"@:2:6: warning: U+00DF has no GBK form: it reads as '?' [gbk-unmappable]\n", 0},
    };
    for (const auto& c : cases) {
        const std::string path = dir.Write("check.qol", c.script);
        const Outcome outcome = RunQol({"--check", path});
        std::string err = c.err;
        for (size_t at; (at = err.find('@')) != std::string::npos;) err.replace(at, 1, path);
        EXPECT_EQ(outcome.err, err) << c.script;
        EXPECT_EQ(outcome.out, "") << c.script;
        EXPECT_EQ(outcome.status, c.status) << c.script;
    }
    EXPECT_EQ(RunQol({"--check", dir.path() + "/missing.qol"}).status, 2);
}

// Every script the project ships passes the check without an error, in one call.
TEST(QolCliTest, CheckFindsNoErrorInTheExamples) {
    Args args = {"--check"};
    for (const auto& entry : std::filesystem::recursive_directory_iterator(SourceRoot() + "/examples"))
        if (entry.path().extension() == ".qol") args.push_back(entry.path().string());
    ASSERT_GT(args.size(), 8u);
    const Outcome outcome = RunQol(args);
    EXPECT_FALSE(Contains(outcome.err, ": error: ")) << outcome.err;
    EXPECT_EQ(outcome.status, 0) << outcome.err;
}

}  // namespace
