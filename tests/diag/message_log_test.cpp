// The message log: files and their generations, the record format, the
// joining rule, boxes with their cuts, the diagnosis dialog and the
// 30-second silence, re-pointing the work directory.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include "diag/message_log.h"
#include "diag/platform_record.h"
#include "platform/clock.h"
#include "qotool/qotool.h"
#include "support/gbk_text.h"
#include "support/log_capture.h"
#include "support/recording_ui.h"
#include "support/temp_env.h"

namespace {

using qotool::diag::Platform;
using qotool::test::Gbk;
using qotool::test::LogCapture;
using qotool::test::RecordingUi;
using Kind = RecordingUi::Kind;
using Control = qotool::platform::DiagnosisDialogModel::Control;

int64_t g_now = 0;
int64_t FakeNow() { return g_now; }

class MessageLogTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_now = 1000;
        qotool::platform::SetClockSourceForTest(&FakeNow);
    }
    void TearDown() override { qotool::platform::SetClockSourceForTest(nullptr); }
};

void WriteFile(const std::string& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }

TEST_F(MessageLogTest, FirstRecordMovesTheGenerationsAlong) {
    struct Case {
        const char* title;
        std::vector<std::pair<std::string, std::string>> before;  // suffix, content
        std::vector<std::pair<std::string, std::string>> after;   // "" content: absent
    } cases[] = {
        {"existing file, two older generations",
         {{".Txt", "old"}, {"_1.txt", "older"}, {"_2.txt", "oldest"}},
         {{"_1.txt", "old"}, {"_2.txt", "older"}}},
        {"a fallback file of the last process",
         {{".Txt", "old"}, {"_1.txt", "older"}, {"$.Txt", "fallback"}},
         {{"_1.txt", "old"}, {"_2.txt", "fallback"}, {"$.Txt", ""}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.title);
        LogCapture log(1);
        for (const auto& [suffix, content] : c.before) WriteFile(log.PathOf(suffix), content);
        EXPECT_EQ(ruqo_MessageLog(0, 4, "结果", "", ""), 4);
        // The mere presence of the file switched file logging and flushing on.
        EXPECT_EQ(Platform()->logMask, 0xC1u);
        for (const auto& [suffix, content] : c.after) EXPECT_EQ(Gbk(log.Bytes(suffix)), Gbk(content)) << suffix;
        const std::string bytes = log.Bytes();
        EXPECT_EQ(bytes.rfind("启动时间：", 0), 0u);
        EXPECT_NE(bytes.find("\r\n应用程序：" + Platform()->hostPath + "\r\n进程标识：" + std::to_string(getpid()) +
                             "\r\n【1】主要结果        [0(0)0]\r\n结果\r\n"),
                  std::string::npos);
    }
}

TEST_F(MessageLogTest, AFileThatCannotBeMovedGivesWayToTheFallback) {
    LogCapture log(0x40);
    WriteFile(log.PathOf(".Txt"), "old");
    WriteFile(log.PathOf("_1.txt"), "older");
    // "_2.txt" cannot be deleted, so nothing moves.
    ASSERT_EQ(mkdir(log.PathOf("_2.txt").c_str(), 0700), 0);
    WriteFile(log.PathOf("_2.txt/keep"), "x");
    EXPECT_EQ(ruqo_MessageLog(0, 4, "甲", "", ""), 4);
    EXPECT_EQ(log.Bytes(".Txt"), "old");
    EXPECT_EQ(log.Messages("$.Txt"), std::vector<std::string>{"甲"});
    EXPECT_EQ(Gbk(qotool::diag::LogFilePath()), Gbk(log.PathOf("$.Txt")));
}

TEST_F(MessageLogTest, ModesCategoriesAndTexts) {
    struct Case {
        const char* name;
        uint32_t mask;
        int mode;
        const char* title;
        const char* text1;
        const char* text2;
        int result;
        const char* column;  // "" : no record
        const char* text;
    } cases[] = {
        {"mode 0 is unsupported", 0x40, 0, "x", "", "", 0, "警告★★★★★★",
         "ruqo_MessageLog()的nMode参数不支持：-2147483648"},
        {"bits above the categories", 0x40, 0x10000, "x", "", "", 0, "警告★★★★★★",
         "ruqo_MessageLog()的nMode参数不支持：65536"},
        {"error and warning bits: an error", 0x40, 3, "t", "", "", 1, "错误■■■■■■", "t"},
        {"a category named by its title", 0x40, 0x4000 | 0x8000, "Sync", "done", nullptr, 0x4000,
         "Sync            ", "done"},
        {"titles are cut to the column", 0x40, 0x4000, "一二三四五六七八九", "", "", 0x4000, "一二三四五六七八", ""},
        {"';' joins directly", 0x40, 4, "", "abc;", ";def", 4, "主要结果        ", "abcdef"},
        {"one ';' is enough", 0x40, 4, "a;", "b", ";c", 4, "主要结果        ", "abc"},
        {"otherwise a line break", 0x40, 8, "", "abc", "def", 8, "中间结果        ", "abc\r\ndef"},
        {"blank lines collapse", 0x40, 0x100, "a\r\n\r\n\r\n\r\nb", nullptr, nullptr, 0x100, "应用提示        ",
         "a\r\nb"},
        {"nothing to do", 1, 4, "t", "", "", 4, "", ""},
        {"errors to the file without file logging", 0x2000, 1, "e", "", "", 1, "错误■■■■■■", "e"},
        {"warnings that are not shown end early", 0x2000, 2, "w", "", "", 2, "", ""},
        {"an unsupported mode not shown ends early", 1, 0x10000, "x", "", "", 0x10000, "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LogCapture log(c.mask);
        RecordingUi ui;
        EXPECT_EQ(ruqo_MessageLog(0, c.mode, c.title, c.text1, c.text2), c.result);
        const auto records = log.Records();
        if (!*c.column) {
            EXPECT_TRUE(records.empty());
            continue;
        }
        ASSERT_EQ(records.size(), 1u);
        EXPECT_EQ(Gbk(records[0].column), Gbk(c.column));
        EXPECT_EQ(Gbk(records[0].text), Gbk(c.text));
        EXPECT_EQ(ui.Count(Kind::kBox), 0u);
    }
}

TEST_F(MessageLogTest, RecordsCarryTheirTimesAndFlushAsTheyMust) {
    LogCapture log(0x40);
    EXPECT_EQ(ruqo_MessageLog(0, 4, "a", "", ""), 4);
    g_now += 1250;
    EXPECT_EQ(ruqo_MessageLog(0, 0x20, "b", "", ""), 0x20);
    // Trace records stay in the buffer; an error flushes all of them.
    EXPECT_EQ(qotool::test::CountOf(log.Bytes(".Txt", false), "【"), 0);
    g_now += 400;
    EXPECT_EQ(ruqo_MessageLog(0, 1, "c", "", ""), 1);
    const auto records = log.Records();
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[1].times, "1250(2)1250");
    EXPECT_EQ(records[2].times, "1650(0)400");
    // Every byte: GBK, CRLF line ends.
    const std::string bytes = log.Bytes();
    EXPECT_NE(bytes.find("【3】错误■■■■■■[1650(0)400]\r\nc\r\n"), std::string::npos);
    EXPECT_EQ(bytes.substr(bytes.size() - 2), "\r\n");
}

TEST_F(MessageLogTest, RecordTenThousandStartsANewFile) {
    LogCapture log(0x40);
    for (int i = 1; i <= 10001; ++i) ruqo_MessageLog(0, 0x10, "r", "", "");
    qotool::diag::CloseMessageLog();
    const auto old = log.Records("_0.txt"), now = log.Records();
    ASSERT_EQ(old.size(), 9999u);
    EXPECT_EQ(old.back().number, 9999);
    ASSERT_EQ(now.size(), 2u);
    EXPECT_EQ(now[0].number, 10000);
    EXPECT_EQ(log.Bytes().rfind("【10000】", 0), 0u);
}

TEST_F(MessageLogTest, NoRecordWithoutAPlatformRecordOrAWritableDirectory) {
    {
        LogCapture log(0x40);
        qotool::diag::DestroyPlatform();
        EXPECT_EQ(ruqo_MessageLog(0, 1, "e", "", ""), 0);
        qotool::diag::CreatePlatform();
    }
    LogCapture log(0x41);
    RecordingUi ui;
    Platform()->workDirectory = "/proc/no-such-directory/";
    EXPECT_EQ(ruqo_MessageLog(0, 1, "e", "", ""), 0);
    EXPECT_EQ(ruqo_MessageLog(0, 1, "e", "", ""), 0);
    EXPECT_EQ(ui.Count(Kind::kBox), 0u);
}

TEST_F(MessageLogTest, BoxesAndTheirCuts) {
    std::string lines;
    for (int i = 1; i <= 41; ++i) lines += "L" + std::to_string(i) + "\r\n";
    std::string first40 = lines.substr(0, lines.find("L41"));
    const std::string tail = "\r\n\r\n【专职诊断人员请按<否>按钮】";
    struct Case {
        const char* name;
        uint32_t mask;
        int mode;
        std::string text;
        std::string body;  // "" : no box
        const char* caption;
        unsigned type;
    } cases[] = {
        {"an error", 1, 1, "e", "e\r\n\r\n" + tail, "错误", 0x4 | 0x30 | 0x2000 | 0x40000},
        {"a warning", 2, 2, "w", "w\r\n\r\n" + tail, "警告", 0x4 | 0x40 | 0x2000 | 0x40000},
        {"a result", 4, 4, "r", "r\r\n\r\n" + tail, "主要结果", 0x4 | 0x2000 | 0x40000},
        {"not in the mask", 2, 4, "r", "", "", 0},
        {"marked as meant for the file", 0x41, 1, "前『故意的』后", "", "", 0},
        {"41 lines", 1, 1, lines, first40 + "......." + tail, "错误", 0x4 | 0x30 | 0x2000 | 0x40000},
        {"2001 bytes", 1, 1, std::string(2001, 'x'), std::string(2000, 'x') + "......." + tail, "错误",
         0x4 | 0x30 | 0x2000 | 0x40000},
        {"3001 bytes", 1, 1, std::string(3001, 'x'), std::string(2000, 'x') + "......." + tail, "错误",
         0x4 | 0x30 | 0x2000 | 0x40000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LogCapture log(c.mask);
        RecordingUi ui;
        ruqo_MessageLog(0, c.mode, c.text.c_str(), nullptr, nullptr);
        const auto boxes = ui.Of(Kind::kBox);
        if (c.body.empty()) {
            EXPECT_TRUE(boxes.empty());
            if (c.mask & 0x40) {
                EXPECT_EQ(log.Messages().size(), 1u);
            }
            continue;
        }
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(Gbk(boxes[0].text), Gbk(c.body));
        EXPECT_EQ(Gbk(boxes[0].caption), Gbk(c.caption));
        EXPECT_EQ(boxes[0].type, c.type);
    }
}

TEST_F(MessageLogTest, TheDiagnosisDialogSilencesACategoryForThirtySeconds) {
    LogCapture log(0x43);
    RecordingUi ui;
    // No, then the dialog: open the log, leave with the box ticked.
    ui.AnswerBox(qotool::platform::kIdNo);
    ui.AnswerDiagnosis({{Control::kViewLog, false}, {Control::kLeave, true}});
    EXPECT_EQ(ruqo_MessageLog(0, 1, "first", "", ""), 1);
    const auto dialogs = ui.Of(Kind::kDiagnosis);
    ASSERT_EQ(dialogs.size(), 1u);
    EXPECT_EQ(Gbk(dialogs[0].caption), Gbk("信息诊断"));
    EXPECT_EQ(Gbk(dialogs[0].text), Gbk("30秒内禁止再显示此类提示"));
    EXPECT_EQ(dialogs[0].timeout, 0xA0);
    ASSERT_EQ(ui.Count(Kind::kOpenFile), 1u);
    EXPECT_EQ(Gbk(ui.Of(Kind::kOpenFile)[0].text), Gbk(log.PathOf(".Txt")));

    struct Step {
        int64_t advance;
        int mode;
        size_t boxes;  // boxes shown so far
    } steps[] = {
        {10000, 1, 1},  // silenced, still logged
        {0, 2, 2},      // another category is not
        {19999, 1, 2},  // 29 999 ms after the choice
        {1, 1, 3},      // 30 000 ms: shown again
        {0, 1, 4},
    };
    for (const Step& s : steps) {
        g_now += s.advance;
        EXPECT_EQ(ruqo_MessageLog(0, s.mode, "again", "", ""), s.mode);
        EXPECT_EQ(ui.Count(Kind::kBox), s.boxes) << g_now;
    }
    // Mode 64 opens the log as the dialog's button did, and records nothing.
    EXPECT_EQ(ruqo_MessageLog(0, 64, "", "", ""), 64);
    ASSERT_EQ(ui.Count(Kind::kOpenFile), 2u);
    EXPECT_EQ(Gbk(ui.Of(Kind::kOpenFile)[1].text), Gbk(log.PathOf(".Txt")));
    EXPECT_EQ(log.Messages().size(), 6u);
}

TEST_F(MessageLogTest, DialogButtons) {
    struct Case {
        std::vector<std::pair<int, bool>> presses;
        int result;
        bool quiet;
    } cases[] = {
        {{{Control::kDebugger, false}}, 0x40, false},
        {{{Control::kDebugger, true}}, 0xC0, true},
        {{{Control::kLeave, false}}, 0x20, false},
        {{{99, true}}, 0x20, false},  // unknown: nothing, then leave
        {{{Control::kViewError, true}, {Control::kLeave, false}}, 0x20, false},
    };
    for (const Case& c : cases) {
        LogCapture log(1);
        RecordingUi ui;
        ui.AnswerBox(qotool::platform::kIdNo);
        ui.AnswerDiagnosis(c.presses);
        ruqo_MessageLog(0, 1, "e", "", "");
        ASSERT_EQ(ui.Count(Kind::kDiagnosis), 1u);
        EXPECT_EQ(ui.Of(Kind::kDiagnosis)[0].timeout, c.result);
        if (c.presses[0].first == Control::kViewError) {
            const auto boxes = ui.Of(Kind::kBox);
            ASSERT_EQ(boxes.size(), 2u);
            EXPECT_EQ(boxes[1].caption.rfind("前次出错码：", 0), 0u);
        }
        const size_t boxes = ui.Count(Kind::kBox);
        ruqo_MessageLog(0, 1, "e", "", "");
        EXPECT_EQ(ui.Count(Kind::kBox), boxes + (c.quiet ? 0 : 1));
    }
}

TEST_F(MessageLogTest, ANewDirectoryGetsWhatTheLogDidBefore) {
    LogCapture log(1);
    RecordingUi ui;
    ruqo_MessageLog(0, 4, "加载", "", "");  // before the directory is known
    ruqo_MessageLog(0, 1, "错", "", "");
    EXPECT_EQ(ui.Count(Kind::kBox), 1u);
    EXPECT_EQ(log.Bytes(), "");
    // The new directory holds a log file: file logging comes on there.
    const std::string other = log.Directory() + "other/";
    ASSERT_EQ(mkdir(other.c_str(), 0700), 0);
    const std::string name = log.PathOf(".Txt").substr(log.Directory().size());
    WriteFile(other + name, "old");
    ruqo_SetLogDirectory(other.c_str());
    ruqo_MessageLog(0, 8, "后", "", "");
    qotool::diag::CloseMessageLog();
    EXPECT_EQ(ui.Count(Kind::kBox), 1u);
    const std::string bytes = qotool::test::TempDir::Read(other + name);
    EXPECT_EQ(bytes.rfind("启动时间：", 0), 0u);
    EXPECT_NE(bytes.find("【1】主要结果        "), std::string::npos);
    EXPECT_NE(bytes.find("【2】错误"), std::string::npos);
    EXPECT_NE(bytes.find("【3】中间结果        "), std::string::npos);
}

}  // namespace
