// The built-ins that talk to a person and the dialog services behind them:
// what reaches the UI (texts, cuts, types, geometry) and what comes back.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "builtins/builtin_harness.h"
#include "builtins/interaction.h"
#include "engine/var_store.h"
#include "platform/ui.h"
#include "qotool/ui_callbacks.h"
#include "support/gbk_text.h"
#include "support/recording_ui.h"

namespace qotool::test {
namespace {

using Kind = RecordingUi::Kind;

constexpr unsigned kBoxStyle = 0x2000 | 0x40000;  // task-modal, topmost

class InteractionTest : public ::testing::Test {
protected:
    void SetUp() override {
        qo.m_pRun->traceFlags = 8;
        ::PromptText(nullptr, -1, 0, 0);  // no prompt window left by another test
        ui.Clear();
    }
    void TearDown() override { ::PromptText(nullptr, -1, 0, 0); }
    CQoLanguage qo;
    RecordingUi ui;
};

// ---- Check ----

TEST_F(InteractionTest, CheckReportsAMismatchInABox) {
    const std::string longText(250, 'x');
    struct Case {
        std::string call;
        std::string report;  // empty: the check passes and shows nothing
        std::string title;
    } cases[] = {
        {"Check(1+1, 2)", "", ""},
        {"Check('a' + 'b', 'ab', 'never shown')", "", ""},
        {"Check(1)", "", ""},
        {"Check(1+1, '2')", "被检查项：1+1\r\n  值：N型【2】\r\n不合要求： '2'\r\n  值：S型【2】", "值检测"},
        {"Check(0)", "被检查项：0\r\n  值：N型【0】\r\n不合要求：1\r\n  值：N型【1】", "值检测"},
        {"Check( 2*3 ,5,'标题')", "被检查项：2*3 \r\n  值：N型【6】\r\n不合要求：5\r\n  值：N型【5】", "标题"},
        {"Check('" + longText + "', 'y')",
         "被检查项：'" + longText + "'\r\n  值：S型【" + std::string(200, 'x') + "::::】\r\n不合要求： 'y'\r\n  值：S型【y】",
         "值检测"},
        // The item's own error is what gets compared.
        {"Check(nosuch, 'x')", "被检查项：nosuch\r\n  值：X型【'nosuch' 变量未定义】\r\n不合要求： 'x'\r\n  值：S型【x】",
         "值检测"},
    };
    for (const Case& c : cases) {
        ui.Clear();
        EXPECT_EQ(Gbk(CallBuiltin(qo, c.call)), Gbk("S:" + c.report)) << c.call;
        const auto boxes = ui.Of(Kind::kBox);
        if (c.report.empty()) {
            EXPECT_TRUE(boxes.empty()) << c.call;
            continue;
        }
        ASSERT_EQ(boxes.size(), 1u) << c.call;
        EXPECT_EQ(Gbk(boxes[0].text), Gbk(c.report));
        EXPECT_EQ(Gbk(boxes[0].caption), Gbk(c.title));
        EXPECT_EQ(boxes[0].type, kBoxStyle);
    }
}

// ---- MessageBox ----

TEST_F(InteractionTest, MessageBoxShowsItsTextAndReturnsTheButton) {
    const std::string long5000(5000, 'a');
    const std::string title300(300, 't');
    struct Case {
        std::string call;
        int answer;  // 0: the UI's default button
        std::string text, title;
        unsigned type;
        std::string result;
    } cases[] = {
        {"MessageBox('hello')", 0, "hello", "", kBoxStyle, "N:1"},
        {"MessageBox(12.5, '标题')", 0, "12.5", "标题", kBoxStyle, "N:1"},
        {"MessageBox('q', 'c', 4)", 0, "q", "c", 4 | kBoxStyle, "N:6"},
        {"MessageBox('q', 'c', 4 + 256)", 0, "q", "c", 4 | 256 | kBoxStyle, "N:7"},
        {"MessageBox('q', 'c', 3)", 2, "q", "c", 3 | kBoxStyle, "N:2"},
        {"MessageBox(NULL, 1)", 0, "", "1", kBoxStyle, "N:1"},
        {"MessageBox('" + long5000 + "', '" + title300 + "')", 0, std::string(2000, 'a') + "......<总长5000>",
         std::string(256, 't'), kBoxStyle, "N:1"},
        {"MessageBox('" + std::string(2048, 'b') + "')", 0, std::string(2048, 'b'), "", kBoxStyle, "N:1"},
    };
    for (const Case& c : cases) {
        ui.Clear();
        if (c.answer) ui.AnswerBox(c.answer);
        EXPECT_EQ(CallBuiltin(qo, c.call), c.result) << c.call.substr(0, 40);
        const auto boxes = ui.Of(Kind::kBox);
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(Gbk(boxes[0].text), Gbk(c.text));
        EXPECT_EQ(Gbk(boxes[0].caption), Gbk(c.title));
        EXPECT_EQ(boxes[0].type, c.type);
    }
}

// Outside any catcher an error value comes back from the evaluation
// instead of unwinding; the box then says why it cannot show it.
TEST_F(InteractionTest, MessageBoxOfAnErrorValueSaysWhy) {
    qo.ErrorString("boom");
    engine::DoVariable(&qo, "e", 'X', 'B');
    std::string source = "e)";
    char* cursor = source.data();
    builtins::MessageBox(&qo, cursor, "MessageBox");
    EXPECT_EQ(ResultOf(qo), "N:1");
    ASSERT_EQ(ui.Count(Kind::kBox), 1u);
    EXPECT_EQ(Gbk(ui.Of(Kind::kBox)[0].text), Gbk("内容无法显示，因为出错：\r\n\r\nboom"));
}

// ---- EditData and ruqo_EditText ----

TEST_F(InteractionTest, EditDataEditsAVariable) {
    struct Case {
        std::string setup, call, variable;
        int code;            // the dialog's answer
        std::string edited;  // the text it gives back on OK
        std::string title, shown, result, after;
    } cases[] = {
        {"n = 12", "EditData(n)", "n", 1, "3.5abc", "编辑变量 n 的值（N型）：", "12", "N:1", "N:3.5"},
        {"s = 'ab'", "EditData(s, '改：')", "s", 1, "新\r\n文本", "改：", "ab", "N:1", "S:新\r\n文本"},
        {"s = 'ab'", "EditData( s )", "s", 2, "ignored", "编辑变量 s 的值（S型）：", "ab", "N:0", "S:ab"},
        {"n = 1", "EditData(n)", "n", 1, "", "编辑变量 n 的值（N型）：", "1", "N:1", "N:0"},
    };
    for (const Case& c : cases) {
        ui.Clear();
        RunAndResult(qo, c.setup);
        ui.AnswerEdit(c.code, c.edited);
        EXPECT_EQ(CallBuiltin(qo, c.call), c.result) << c.call;
        EXPECT_EQ(Gbk(RunAndResult(qo, c.variable)), Gbk(c.after)) << c.call;
        const auto edits = ui.Of(Kind::kEdit);
        ASSERT_EQ(edits.size(), 1u);
        EXPECT_EQ(Gbk(edits[0].caption), Gbk(c.title));
        EXPECT_EQ(Gbk(edits[0].text), Gbk(c.shown));
    }
}

// ---- PromptText ----

// The builtin hands text and place on; the height follows the line count
// up to 360; no text hides, the empty text with -1 destroys.
TEST_F(InteractionTest, PromptTextShowsItsTextWhereAskedAndHides) {
    std::string nineteen, ten;
    for (int i = 0; i < 29; ++i) (i < 19 ? nineteen : ten) += "\\n";
    const std::pair<std::string, int> cases[] = {
        {"正在处理", 113}, {"a\\r\\nb\\r\\nc", 139}, {nineteen, 360}, {nineteen + ten + "x", 360}};
    for (const auto& [text, height] : cases) {
        ui.Clear();
        EXPECT_EQ(CallBuiltin(qo, "PromptText('" + text + "', 0, 30, 40)"), "Z:");
        const auto shows = ui.Of(Kind::kPromptShow);
        ASSERT_EQ(shows.size(), 1u);
        const platform::PromptView& shown = shows[0].prompt;
        EXPECT_EQ(std::vector<int>({shown.x, shown.y, shown.width, shown.height}), std::vector<int>({30, 40, 400, height}))
            << Readable(text);
        EXPECT_EQ(Gbk(shows[0].caption), Gbk("提示信息"));
    }
    EXPECT_EQ(Gbk(ui.Of(Kind::kPromptShow)[0].text), Gbk(std::string(29, '\n') + "x"));
    EXPECT_EQ(CallBuiltin(qo, "PromptText()"), "Z:");
    EXPECT_EQ(ui.Count(Kind::kPromptHide), 1u);
    EXPECT_EQ(CallBuiltin(qo, "PromptText('', -1)"), "Z:");
    EXPECT_EQ(ui.Count(Kind::kPromptDestroy), 1u);
}

TEST_F(InteractionTest, PromptWindowLifecycle) {
    struct Step {
        const char* text;
        int timeout;
        int waitAnswer;                // what the UI answers a wait
        std::vector<Kind> calls;       // what the UI hears
        bool created, exists, visible; // created: of the show, if any
    } steps[] = {
        {"first", 0, 0, {Kind::kPromptShow}, true, true, true},
        {"second", 0, 0, {Kind::kPromptShow}, false, true, true},
        {"", 0, 0, {Kind::kPromptHide}, false, true, false},
        {"again", 0, 0, {Kind::kPromptShow}, false, true, true},
        {"", -1, 0, {Kind::kPromptDestroy}, false, false, false},
        {"", -1, 0, {}, false, false, false},
        {nullptr, 5, 0, {}, false, false, false},
        {"new", 0, 0, {Kind::kPromptShow}, true, true, true},
        // A time-out waits, then hides.
        {"timed", 250, 0, {Kind::kPromptShow, Kind::kPromptWait, Kind::kPromptHide}, false, true, false},
        // Closed by the person during the wait: the next prompt creates it.
        {"closed", 250, 1, {Kind::kPromptShow, Kind::kPromptWait}, false, false, false},
        {"back", 0, 0, {Kind::kPromptShow}, true, true, true},
    };
    for (const Step& step : steps) {
        ui.Clear();
        if (step.waitAnswer) ui.AnswerWait(step.waitAnswer);
        ::PromptText(step.text, step.timeout, 0, 0);
        std::vector<Kind> calls;
        for (const auto& event : ui.Events()) calls.push_back(event.kind);
        const std::string name = step.text ? step.text : "(null)";
        EXPECT_EQ(calls, step.calls) << name;
        for (const auto& event : ui.Of(Kind::kPromptShow)) EXPECT_EQ(event.prompt.created, step.created) << name;
        for (const auto& event : ui.Of(Kind::kPromptWait)) EXPECT_EQ(event.timeout, step.timeout) << name;
        const builtins::PromptState state = builtins::CurrentPromptState();
        EXPECT_EQ(state.exists, step.exists) << name;
        EXPECT_EQ(state.visible, step.visible) << name;
    }
}

}  // namespace
}  // namespace qotool::test
