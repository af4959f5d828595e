// The variable browser's rows and cell clicks.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "diag/browser.h"
#include "engine/instance.h"
#include "qotool/qolanguage.h"
#include "qotool/qotool.h"
#include "support/gbk_text.h"
#include "support/recording_ui.h"

namespace qotool::diag {
namespace {

using test::Gbk;

std::vector<BrowserRow> g_captured;
BrowserNode g_probeNode = BrowserNode::kVariables;

// "Probe()" records the browser rows of the running interpreter.
char Probe(char** cursor, const char* word, CQoLanguage* qo) {
    if (strcmp(word, "Probe") != 0) return 0;
    g_captured = BrowserRows(qo, g_probeNode);
    qo->m_cType = 'Z';
    (void)cursor;
    return 1;
}

std::vector<std::string> Column(const std::vector<BrowserRow>& rows, int column) {
    std::vector<std::string> out;
    for (const BrowserRow& r : rows) out.push_back(column == 0 ? r.name : column == 1 ? r.type : r.value);
    return out;
}

class BrowserTest : public ::testing::Test {
protected:
    void SetUp() override { ruqo_UserQolExecutor("Probe", '+', (intptr_t)&Probe); }
    void TearDown() override { ruqo_UserQolExecutor("Probe", '-', 0); }
    std::vector<BrowserRow> RowsDuring(const char* text, BrowserNode node) {
        g_captured.clear();
        g_probeNode = node;
        qo_.DoQol(text, nullptr);
        return g_captured;
    }
    CQoLanguage qo_;
};

TEST_F(BrowserTest, VariablesAndArraysAreListedInnermostFirst) {
    const char text[] = "a=1; { b='x'; { c=3; d=4; Probe(); } }";
    auto rows = RowsDuring(text, BrowserNode::kVariables);
    std::vector<std::string> names = Column(rows, 0);
    ASSERT_GE(names.size(), 7u);
    // Levels innermost first; inside a level the last defined first.
    std::vector<Gbk> tail, want;
    for (size_t i = names.size() - 7; i < names.size(); ++i) tail.push_back(names[i]);
    for (const char* n : {"d", "c", "*第2层*", "b", "*第1层*", "a", "*第0层*"}) want.push_back(n);
    EXPECT_EQ(tail, want);
    EXPECT_EQ(rows[rows.size() - 4].type, "S");
    EXPECT_EQ(rows[rows.size() - 4].value, "x");

    rows = RowsDuring("v[1]=1; { m[1][2]=5; Probe(); }", BrowserNode::kArrays);
    std::vector<Gbk> got;
    for (const BrowserRow& r : rows) got.push_back(r.name + "|" + r.type + "|" + r.value);
    EXPECT_EQ(got, (std::vector<Gbk>{"数组 1|m|2行3列", "*第1层*||", "数组 0|v|2元素", "*第0层*||"}));
}

TEST_F(BrowserTest, InterpreterAndSystemRows) {
    qo_.DoQol("system_browser_test=7; 'val'", nullptr);
    auto rows = BrowserRows(&qo_, BrowserNode::kInterpreter);
    ASSERT_EQ(rows.size(), 6u);
    EXPECT_EQ(Gbk(rows[0].name + rows[0].type + rows[0].value), Gbk("值Sval"));
    EXPECT_EQ(rows[1].name, "QOL");
    EXPECT_EQ(rows[1].value, "&" + std::to_string((uintptr_t)&qo_));
    EXPECT_EQ(rows[2].value, "----");
    EXPECT_EQ(Gbk(rows[4].name), Gbk("绑定缓存"));
    bool found = false;
    for (const BrowserRow& r : BrowserRows(&qo_, BrowserNode::kSystem))
        found |= r.name == "system_browser_test" && r.type == "N" && r.value == "7";
    EXPECT_TRUE(found);
    EXPECT_TRUE(BrowserRows(nullptr, BrowserNode::kSystem).empty());
}

TEST_F(BrowserTest, ClicksShowCellsListArraysAndMoveOn) {
    test::RecordingUi ui;
    qo_.DoQol(("v[0]=1; v[2]='" + std::string(70, 'z') + "'; e[3]=0; e[3]=NULL; 'x'").c_str(), nullptr);
    BrowserSession session(&qo_, "t");
    // A plain cell: a box titled "单元格内容".
    EXPECT_EQ(session.Click(BrowserNode::kInterpreter, 2, 2), 0);
    ASSERT_EQ(ui.Count(test::RecordingUi::Kind::kBox), 1u);
    EXPECT_EQ(Gbk(ui.Of(test::RecordingUi::Kind::kBox)[0].caption), Gbk(kCellCaption));
    EXPECT_EQ(ui.BoxTexts()[0], "----");
    // An array row: its non-empty elements, long ones cut.
    auto arrays = session.Rows(BrowserNode::kArrays);
    int vRow = -1, eRow = -1;
    for (size_t i = 0; i < arrays.size(); ++i) {
        if (arrays[i].type == "v") vRow = (int)i;
        if (arrays[i].type == "e") eRow = (int)i;
    }
    ASSERT_GE(vRow, 0);
    EXPECT_EQ(session.Click(BrowserNode::kArrays, vRow, 0), 0);
    auto edits = ui.Of(test::RecordingUi::Kind::kEdit);
    ASSERT_EQ(edits.size(), 1u);
    EXPECT_EQ(Gbk(edits[0].caption), Gbk(kArrayDialogTitle));
    EXPECT_EQ(Gbk(edits[0].text), Gbk("v数组 \r\n[0]N:1\r\n[2]S:" + std::string(50, 'z') + "……<长度70>"));
    if (eRow >= 0) {
        session.Click(BrowserNode::kArrays, eRow, 2);
        EXPECT_EQ(Gbk(ui.Of(test::RecordingUi::Kind::kEdit).back().text), Gbk("e数组 "));
    }
    // The value of the QOL row moves to the next live interpreter.
    const auto live = engine::LiveInterpreters();
    EXPECT_EQ(session.Click(BrowserNode::kInterpreter, 1, 2), kBrowseAnother);
    size_t mine = 0;
    for (size_t i = 0; i < live.size(); ++i)
        if (live[i] == &qo_) mine = i;
    EXPECT_EQ(session.Interpreter(), live[(mine + 1) % live.size()]);
    char title[64];
    snprintf(title, sizeof title, "浏览第 %d/%d 个QOL解析器", (int)((mine + 1) % live.size()) + 1, (int)live.size());
    EXPECT_EQ(Gbk(session.Title()), Gbk(title));
    // Level moves outside a run wrap on the one level there is.
    BrowserSession levels(&qo_, "t");
    EXPECT_EQ(levels.Click(BrowserNode::kInterpreter, 1, 0), kBrowseAnother);
    EXPECT_EQ(Gbk(levels.Title()), Gbk("浏览第1/1级QOL解析器"));
    // Out-of-range clicks do nothing.
    EXPECT_EQ(session.Click(BrowserNode::kVariables, 999, 0), 0);
}

// A view that runs a function inside its Browse and records the titles.
class FunctionView : public BrowserView {
public:
    std::function<int(BrowserSession&)> browse;
    std::vector<std::string> titles;
    int Browse(BrowserSession& s) override {
        titles.push_back(s.Title());
        return browse(s);
    }
};

TEST_F(BrowserTest, BrowserIsModalAndReopensOnRequest) {
    EXPECT_EQ(qo_.Browser("headless"), 1);  // no view: closes at once
    FunctionView view;
    BrowserView* previous = SetBrowserView(&view);
    int nested = -1;
    int round = 0;
    view.browse = [&](BrowserSession& s) {
        if (round++ == 0) {
            nested = qo_.Browser("again");
            return s.Click(BrowserNode::kInterpreter, 1, 2);
        }
        return 1;
    };
    EXPECT_EQ(qo_.Browser("first"), 1);
    SetBrowserView(previous);
    EXPECT_EQ(nested, 0);
    ASSERT_EQ(view.titles.size(), 2u);
    EXPECT_EQ(view.titles[0], "first");
    EXPECT_EQ(view.titles[1].rfind("浏览第 ", 0), 0u);
    EXPECT_FALSE(BrowserIsOpen());
}

}  // namespace
}  // namespace qotool::diag
