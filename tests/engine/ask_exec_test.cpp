// The interactive statement editor: the edit dialog shows the statement, a
// person changes it, the changed text runs, and the file it came from is
// saved back (with a .BAK copy) when the person agrees. Without a person
// (the headless editor cancels) nothing runs: robustness.cases.
#include <gtest/gtest.h>

#include <string>

#include "platform/ui.h"
#include "qotool/qolanguage.h"
#include "support/recording_ui.h"
#include "support/result_text.h"
#include "support/temp_env.h"

namespace {

using qotool::test::RecordingUi;
using Kind = RecordingUi::Kind;

using qotool::test::ResultOf;

class AskExecTest : public ::testing::Test {
protected:
    qotool::test::TempDir dir_;
    const std::string file_ = dir_.Write("stmt.qol", "x = 1/0\r\n");
};

TEST_F(AskExecTest, ACorrectedStatementRunsAndIsSavedBackWithABackupUnlessDeclined) {
    RecordingUi ui;
    // First pass: the person runs the text as it is; it fails, the error box
    // is shown. Second pass: they correct it. Third: they cancel.
    ui.AnswerEdit(qotool::platform::kIdOk, "x = 1/0\r\n");
    ui.AnswerEdit(qotool::platform::kIdOk, "x = 6/2\r\n");
    ui.AnswerBox(qotool::platform::kIdOk);  // the error box
    ui.AnswerBox(qotool::platform::kIdOk);  // save back: yes
    CQoLanguage qo;
    qo.DoQol(("x = 0; AskExec('" + file_ + "'); x").c_str(), nullptr);
    EXPECT_EQ(ResultOf(qo), "N:3");
    EXPECT_EQ(qotool::test::TempDir::Read(file_), "x = 6/2\r\n");
    EXPECT_EQ(qotool::test::TempDir::Read(file_ + ".BAK"), "x = 1/0\r\n");

    const auto edits = ui.Of(Kind::kEdit);
    ASSERT_EQ(edits.size(), 3u);
    EXPECT_EQ(edits[0].caption.rfind("可修改语句，确定执行或取消执行 ", 0), 0u);
    EXPECT_EQ(edits[1].caption.rfind("改正错误，可修改语句，确定执行或取消执行 ", 0), 0u);
    EXPECT_EQ(edits[2].caption.rfind("再次可修改语句，确定执行或取消执行 ", 0), 0u);
    const auto boxes = ui.Of(Kind::kBox);
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_NE(boxes[0].text.find("被零除"), std::string::npos);
    EXPECT_EQ(boxes[1].caption, "需要将改写内容回存至来源文件：");
    EXPECT_EQ(boxes[1].text, file_);

    // Declining the save keeps the file and its backup as they are.
    ui.AnswerEdit(qotool::platform::kIdOk, "x = 7\r\n");
    ui.AnswerBox(qotool::platform::kIdCancel);
    qo.DoQol(("AskExec('" + file_ + "'); x").c_str(), nullptr);
    EXPECT_EQ(ResultOf(qo), "N:7");
    EXPECT_EQ(qotool::test::TempDir::Read(file_), "x = 6/2\r\n");
    EXPECT_EQ(qotool::test::TempDir::Read(file_ + ".BAK"), "x = 1/0\r\n");
}

TEST_F(AskExecTest, ABracedTextIsEditedWithoutAFile) {
    RecordingUi ui;
    ui.AnswerEdit(qotool::platform::kIdOk, "y = 2");
    CQoLanguage qo;
    qo.DoQol("AskExec { y = 1 } y", nullptr);
    EXPECT_EQ(ResultOf(qo), "N:2");
    const auto edits = ui.Of(Kind::kEdit);
    ASSERT_EQ(edits.size(), 2u);
    EXPECT_EQ(edits[0].text, "y = 1 ");
    EXPECT_EQ(ui.Count(Kind::kBox), 0u);
}

}  // namespace
