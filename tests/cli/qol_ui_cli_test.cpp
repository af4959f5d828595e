// The terminal UI of the built qol: boxes and dialogs with standard input a
// file (nobody to ask) and on a pseudo-terminal (a person at the keyboard).
// What qol prints is UTF-8, so expectations on it are u8 literals.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "support/gbk_text.h"
#include "support/qol_process.h"
#include "support/temp_env.h"

namespace {

using qotool::test::Contains;
using qotool::test::Outcome;
using qotool::test::RunQol;
using qotool::test::RunQolOnTerminal;
using qotool::test::TempDir;

TEST(QolTerminalUiTest, DialogsWithoutTerminalAnswerTheDefaultAndPrintTheirText) {
    struct Case {
        std::string text;
        const char* forced;
        std::string out, err;
    } cases[] = {
        {"MessageBox('hello', 'cap', 4 + 256)", nullptr, "N:7\n", "[cap] hello\n"},
        {u8"MessageBox('中文', '标题', 3)", nullptr, "N:6\n", u8"[标题] 中文\n"},
        {"MessageBox('q', 'c', 4)", "no", "N:7\n", "[c] q\n"},
        // The statement editor without a terminal cancels and prints the text.
        {u8"AskExec{ x = '中' }", nullptr, u8"S:x = '中' \n", u8"[可修改语句，确定执行或取消执行 ] x = '中' \n"},
    };
    for (const Case& c : cases) {
        const Outcome outcome = RunQol({"-e", c.text}, "", {{"QO_MSGBOX_ANSWER", c.forced}});
        EXPECT_EQ(outcome.out, c.out) << c.text;
        EXPECT_EQ(outcome.err, c.err) << c.text;
        EXPECT_EQ(outcome.status, 0) << c.text;
    }
}

TEST(QolTerminalUiTest, MessageBoxOnATerminalAsksForAButton) {
    struct Case {
        std::string typed;
        std::string result;
    } cases[] = {
        {"2\n", "N:7"}, {"no\n", "N:7"}, {"Y\n", "N:6"}, {"\n", "N:6"}, {"x\ncancel\n", "N:2"},
    };
    for (const Case& c : cases) {
        const Outcome outcome = RunQolOnTerminal({"-e", "MessageBox('go on?', 'ask', 3)"}, {}, c.typed);
        EXPECT_TRUE(Contains(outcome.out, "[ask] go on?")) << outcome.out;
        EXPECT_TRUE(Contains(outcome.out, "1) Yes  2) No  3) Cancel  [Enter: Yes]")) << outcome.out;
        EXPECT_TRUE(Contains(outcome.out, c.result + "\r\n")) << c.typed << outcome.out;
    }
}

TEST(QolTerminalUiTest, EditDialogOpensTheEditorOnATerminal) {
    TempDir dir;
    // Edits the statement once (in UTF-8), then leaves with a failure
    // status, which cancels the next dialog.
    const std::string editor = dir.Write("edit.sh",
                                         "#!/bin/sh\n"
                                         "if [ -e \"$0.done\" ]; then exit 1; fi\n"
                                         "touch \"$0.done\"\n"
                                         "sed -i 's/1/\xE4\xB8\xAD/' \"$1\"\n",
                                         0755);
    const Outcome outcome =
        RunQolOnTerminal({"-e", "AskExec{ a = '1' }; a"}, {{"VISUAL", nullptr}, {"EDITOR", editor.c_str()}}, "");
    EXPECT_TRUE(Contains(outcome.out, u8"S:中\r\n")) << outcome.out;
    EXPECT_EQ(outcome.status, 0);
    // VISUAL comes before EDITOR; an editor that fails cancels at once.
    const std::string visual = dir.Write("visual.sh", "#!/bin/sh\nexec " + editor + " \"$1\"\n", 0755);
    std::remove((editor + ".done").c_str());
    Outcome second =
        RunQolOnTerminal({"-e", "AskExec{ a = '1' }; a"}, {{"VISUAL", visual.c_str()}, {"EDITOR", "false"}}, "");
    EXPECT_TRUE(Contains(second.out, u8"S:中\r\n")) << second.out;
    second = RunQolOnTerminal({"-e", "AskExec{ a = '1' }; Type(a)"}, {{"VISUAL", "false"}, {"EDITOR", editor.c_str()}}, "");
    EXPECT_TRUE(Contains(second.out, "S:X\r\n")) << second.out;
}

}  // namespace
