// The UI interface: the headless answers and sink, and the C callback table
// a host installs (its callbacks are written as C functions here).
#include <gtest/gtest.h>

#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "builtins/builtin_harness.h"
#include "diag/message_log.h"
#include "platform/ui.h"
#include "qotool/qotool.h"
#include "qotool/ui_callbacks.h"
#include "support/gbk_text.h"
#include "support/temp_env.h"
#include "support/log_capture.h"

// ---- a host's callbacks, in C ----

extern "C" {

struct HostLog {
    char text[256];
    char caption[64];
    unsigned type;
    int boxes;
    int answer;
    char sinkText[256];
    int sinks;
    char editTitle[64];
    char editText[64];
    int editResized, editWidth, editOkX;
    char okLabel[16], cancelLabel[16], noLabel[16];
    int editAnswer;
    const char* editResult;
    int prompts, promptHeight, promptCreated, hides, destroys, waits, waitTimeout;
    int diagnoses, diagnosisResult, opens;
    char diagnosisLabels[4][32], openedPath[256];
    char clipboard[64], soundPath[64];
    int clipboardAnswer, beeps, beepFrequency, beepDuration, beepAnswer, sounds, soundAnswer;
};

static void CopyText(char* out, size_t size, const char* in) {
    size_t i = 0;
    for (; in[i] && i + 1 < size; ++i) out[i] = in[i];
    out[i] = 0;
}

static int HostMessageBox(void* context, const char* text, const char* caption, unsigned type) {
    HostLog* log = (HostLog*)context;
    CopyText(log->text, sizeof log->text, text);
    CopyText(log->caption, sizeof log->caption, caption);
    log->type = type;
    log->boxes++;
    return log->answer;
}

static void HostSink(void* context, const char* caption, const char* text) {
    HostLog* log = (HostLog*)context;
    (void)caption;
    CopyText(log->sinkText, sizeof log->sinkText, text);
    log->sinks++;
}

static int HostEdit(void* context, const QoUiEditDialog* dialog, QoUiText* result) {
    HostLog* log = (HostLog*)context;
    CopyText(log->editTitle, sizeof log->editTitle, dialog->title);
    CopyText(log->editText, sizeof log->editText, dialog->text);
    log->editResized = dialog->resized;
    log->editWidth = dialog->width;
    log->editOkX = dialog->ok.x;
    CopyText(log->okLabel, sizeof log->okLabel, dialog->ok_label);
    CopyText(log->noLabel, sizeof log->noLabel, dialog->no_label);
    CopyText(log->cancelLabel, sizeof log->cancelLabel, dialog->cancel_label);
    if (log->editResult) ruqo_UiSetText(result, log->editResult, -1);
    return log->editAnswer;
}

static void HostPromptShow(void* context, const QoUiPrompt* prompt) {
    HostLog* log = (HostLog*)context;
    log->prompts++;
    log->promptHeight = prompt->height;
    log->promptCreated = prompt->created;
}
static void HostPromptHide(void* context) { ((HostLog*)context)->hides++; }
static void HostPromptDestroy(void* context) { ((HostLog*)context)->destroys++; }
static int HostPromptWait(void* context, int timeout) {
    HostLog* log = (HostLog*)context;
    log->waits++;
    log->waitTimeout = timeout;
    return 0;
}

// Opens the run log, then leaves with the check box ticked.
static int HostDiagnosis(void* context, const QoUiDiagnosis* dialog) {
    HostLog* log = (HostLog*)context;
    log->diagnoses++;
    for (int i = 0; i < 4; ++i) CopyText(log->diagnosisLabels[i], sizeof log->diagnosisLabels[i], dialog->button_labels[i]);
    if (ruqo_UiDiagnosisPress(dialog, 1, 0) != -1) return -1;
    log->diagnosisResult = ruqo_UiDiagnosisPress(dialog, 3, 1);
    return log->diagnosisResult;
}
static void HostOpenTextFile(void* context, const char* path) {
    HostLog* log = (HostLog*)context;
    log->opens++;
    CopyText(log->openedPath, sizeof log->openedPath, path);
}

static int HostClipboardRead(void* context, QoUiText* result) {
    HostLog* log = (HostLog*)context;
    ruqo_UiSetText(result, log->clipboard, -1);
    return log->clipboardAnswer;
}
static int HostClipboardWrite(void* context, const char* text, int length) {
    HostLog* log = (HostLog*)context;
    if (length >= (int)sizeof log->clipboard) return 0;
    memcpy(log->clipboard, text, (size_t)length);
    log->clipboard[length] = 0;
    return log->clipboardAnswer;
}
static int HostBeep(void* context, unsigned frequency, unsigned duration) {
    HostLog* log = (HostLog*)context;
    log->beeps++;
    log->beepFrequency = (int)frequency;
    log->beepDuration = (int)duration;
    return log->beepAnswer;
}
static int HostPlaySound(void* context, const char* path) {
    HostLog* log = (HostLog*)context;
    log->sounds++;
    CopyText(log->soundPath, sizeof log->soundPath, path);
    return log->soundAnswer;
}

static QoUiCallbacks HostTable(HostLog* log) {
    QoUiCallbacks table;
    memset(&table, 0, sizeof table);
    table.size = sizeof table;
    table.context = log;
    table.message_box = HostMessageBox;
    table.sink = HostSink;
    table.edit_text = HostEdit;
    table.prompt_show = HostPromptShow;
    table.prompt_hide = HostPromptHide;
    table.prompt_destroy = HostPromptDestroy;
    table.prompt_wait = HostPromptWait;
    table.diagnosis_dialog = HostDiagnosis;
    table.open_text_file = HostOpenTextFile;
    table.clipboard_read = HostClipboardRead;
    table.clipboard_write = HostClipboardWrite;
    table.beep = HostBeep;
    table.play_sound = HostPlaySound;
    return table;
}

}  // extern "C"

namespace qotool::test {
namespace {

using platform::Ui;

// Installs a callback table for the scope.
class InstalledTable {
public:
    explicit InstalledTable(const QoUiCallbacks& table) { installed = ruqo_SetUiCallbacks(&table); }
    ~InstalledTable() { ruqo_SetUiCallbacks(nullptr); }
    int installed;
};

std::string SinkOutput(const char* caption, const char* text) {
    testing::internal::CaptureStderr();
    platform::HeadlessUi().Sink(caption, text);
    return testing::internal::GetCapturedStderr();
}

// ---- headless ----

TEST(HeadlessUiTest, MessageBoxAnswersItsDefaultButton) {
    EnvironmentVariable silent("QO_UI", "silent");
    EnvironmentVariable answer("QO_MSGBOX_ANSWER", nullptr);
    struct Case {
        unsigned type;
        int button;
    } cases[] = {
        {0x0, 1},          {0x1, 1},          {0x101, 2},        {0x201, 1},  // beyond the set: the first
        {0x2, 3},          {0x102, 4},        {0x202, 5},        {0x3, 6},
        {0x103, 7},        {0x203, 2},        {0x4, 6},          {0x104, 7},
        {0x5, 4},          {0x105, 2},        {0x6, 2},          {0x106, 10},
        {0x206, 11},       {0x306, 2},        {0x7, 1},          {0x2000 | 0x40000 | 0x104, 7},
        {0x40 | 0x3, 6},   {0xF, 1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(platform::DefaultButton(c.type), c.button) << std::hex << c.type;
        EXPECT_EQ(platform::HeadlessUi().MessageBox("t", "c", c.type), c.button) << std::hex << c.type;
        EXPECT_EQ(ruqo_UiDefaultButton(c.type), c.button) << std::hex << c.type;
    }
    int buttons[3] = {0, 0, 0};
    EXPECT_EQ(ruqo_UiBoxButtons(6, buttons), 3);
    EXPECT_EQ(std::vector<int>(buttons, buttons + 3), (std::vector<int>{2, 10, 11}));
    EXPECT_EQ(ruqo_UiBoxButtons(0x104, buttons), 2);
}

TEST(HeadlessUiTest, ForcedAnswer) {
    EnvironmentVariable silent("QO_UI", "silent");
    struct Case {
        const char* forced;
        unsigned type;
        int button;
    } cases[] = {
        {"7", 0, 7}, {"yes", 1, 6}, {"NO", 0, 7}, {"tryagain", 0, 10}, {"", 4, 6}, {"bogus", 4, 6}, {"-3", 0x101, 2},
    };
    for (const Case& c : cases) {
        EnvironmentVariable answer("QO_MSGBOX_ANSWER", c.forced);
        EXPECT_EQ(platform::HeadlessUi().MessageBox("t", "c", c.type), c.button) << c.forced;
        EXPECT_EQ(ruqo_UiHeadlessAnswer(c.type), c.button) << c.forced;
    }
}

// Under a UTF-8 locale the sink writes UTF-8 (NullMembersKeepTheHeadlessBehaviour).
TEST(HeadlessUiTest, SinkWritesToStandardError) {
    {
        EnvironmentVariable ui("QO_UI", nullptr);
        EnvironmentVariable locale("LC_ALL", "C");
        EnvironmentVariable lang("LANG", "en_US.UTF-8");
        EXPECT_EQ(Gbk(SinkOutput("标题", "内容")), Gbk("[标题] 内容\n"));
    }
    {
        EnvironmentVariable ui("QO_UI", "silent");
        EXPECT_EQ(SinkOutput("标题", "内容"), "");
    }
}

TEST(HeadlessUiTest, EditDialogLayout) {
    struct Case {
        int w, h;
        platform::UiRect edit, ok, cancel;
    } cases[] = {
        {500, 300, {10, 10, 480, 240}, {126, 260, 60, 30}, {312, 260, 60, 30}},
        {150, 100, {10, 10, 130, 40}, {10, 60, 60, 30}, {80, 60, 60, 30}},
        {60, 100, {10, 10, 130, 40}, {10, 60, 60, 30}, {80, 60, 60, 30}},  // at least 150 wide
        {451, 200, {10, 10, 431, 140}, {110, 160, 60, 30}, {280, 160, 60, 30}},
    };
    for (const Case& c : cases) {
        platform::UiRect edit, ok, cancel;
        platform::LayoutEditDialog(c.w, c.h, &edit, &ok, &cancel);
        for (auto [got, want] : {std::pair{edit, c.edit}, {ok, c.ok}, {cancel, c.cancel}}) {
            EXPECT_EQ(got.x, want.x) << c.w;
            EXPECT_EQ(got.y, want.y) << c.w;
            EXPECT_EQ(got.width, want.width) << c.w;
            EXPECT_EQ(got.height, want.height) << c.w;
        }
        QoUiRect cOk;
        ruqo_UiLayoutEditDialog(c.w, c.h, nullptr, &cOk, nullptr);
        EXPECT_EQ(cOk.x, c.ok.x);
    }
}

// ---- the C callback table ----

TEST(UiCallbacksTest, TheLogsDiagnosisDialogThroughTheHost) {
    LogCapture capture(1);
    for (const bool oldTable : {false, true}) {
        HostLog log{};
        log.answer = QO_ID_NO;
        QoUiCallbacks host = HostTable(&log);
        // A table from before the dialog members leaves them to the library.
        if (oldTable) host.size = (unsigned)offsetof(QoUiCallbacks, diagnosis_dialog);
        InstalledTable table(host);
        EXPECT_EQ(ruqo_MessageLog(0, 1, "e", "", ""), 1);
        EXPECT_EQ(ruqo_MessageLog(0, 1, "e", "", ""), 1);
        if (oldTable) {
            EXPECT_EQ(log.diagnoses, 0);
            EXPECT_EQ(log.boxes, 2);
            continue;
        }
        // The ticked box keeps the second error out of a box.
        EXPECT_EQ(log.boxes, 1);
        EXPECT_EQ(log.diagnoses, 1);
        EXPECT_EQ(log.diagnosisResult, 0xA0);
        EXPECT_EQ(Gbk(log.diagnosisLabels[0]), Gbk("&E 查看前次错误"));
        EXPECT_EQ(Gbk(log.diagnosisLabels[3]), Gbk("&G 退出信息诊断"));
        EXPECT_EQ(log.opens, 1);
        EXPECT_EQ(Gbk(log.openedPath), Gbk(capture.PathOf(".Txt")));
        qotool::diag::ResetMessageLogForTest();
    }
}

TEST(UiCallbacksTest, ClipboardBeepAndSoundThroughTheHost) {
    HostLog log{};
    log.clipboardAnswer = 1;
    log.beepAnswer = 9;
    log.soundAnswer = 1;
    CQoLanguage qo;
    {
        InstalledTable table(HostTable(&log));
        EXPECT_EQ(Gbk(RunAndResult(qo, "Clipboard('剪贴 x')")), Gbk("S:剪贴 x"));
        EXPECT_EQ(Gbk(log.clipboard), Gbk("剪贴 x"));
        CopyText(log.clipboard, sizeof log.clipboard, "from host");
        EXPECT_EQ(RunAndResult(qo, "Clipboard()"), "S:from host");
        EXPECT_EQ(RunAndResult(qo, "Beep(440, 25)"), "N:9");
        EXPECT_EQ(log.beepFrequency, 440);
        EXPECT_EQ(log.beepDuration, 25);
        EXPECT_EQ(RunAndResult(qo, "PlaySound('声音.wav')"), "N:1");
        EXPECT_EQ(Gbk(log.soundPath), Gbk("声音.wav"));
        // The host's refusals are the built-ins' failures.
        log.clipboardAnswer = 0;
        log.soundAnswer = 0;
        EXPECT_NE(RunAndResult(qo, "Clipboard()").find("剪贴板读失败"), std::string::npos);
        EXPECT_NE(RunAndResult(qo, "Clipboard('y')").find("剪贴板写失败"), std::string::npos);
        EXPECT_EQ(RunAndResult(qo, "PlaySound('a.wav')"), "N:0");
    }
    // A table from before these members leaves them to the library: a
    // silent beep that succeeds, no player on an empty PATH.
    QoUiCallbacks old = HostTable(&log);
    old.size = (unsigned)offsetof(QoUiCallbacks, clipboard_read);
    InstalledTable table(old);
    EnvironmentVariable path("PATH", "/nonexistent");
    EnvironmentVariable player("QO_PLAYSOUND", nullptr);
    EXPECT_EQ(RunAndResult(qo, "Beep(440, 0)"), "N:1");
    EXPECT_EQ(RunAndResult(qo, "PlaySound('a.wav')"), "N:0");
    EXPECT_EQ(log.beeps, 1);
    EXPECT_EQ(log.sounds, 2);
}

TEST(UiCallbacksTest, EditDialogThroughTheHost) {
    HostLog log{};
    InstalledTable table(HostTable(&log));
    struct Case {
        const char* title;
        const char* text;
        int answer;
        const char* result;
        int returned;
        const char* after;
        const char* shownTitle;
        int resized;
    } cases[] = {
        {nullptr, "abc", QO_ID_OK, "新文本", 1, "新文本", "输入：", 0},
        {"编辑", "a\r\nb", QO_ID_OK, nullptr, 1, "a\r\nb", "编辑", 1},
        {"编辑", "abc", QO_ID_CANCEL, "ignored", 2, "abc", "编辑", 0},
        {"编辑", "abc", 99, "ignored", 2, "abc", "编辑", 0},
    };
    for (const auto& c : cases) {
        log.editAnswer = c.answer;
        log.editResult = c.result;
        CString text = c.text;
        EXPECT_EQ(ruqo_EditText(text, c.title), c.returned);
        EXPECT_EQ(Gbk(text), Gbk(c.after));
        EXPECT_EQ(Gbk(log.editTitle), Gbk(c.shownTitle));
        EXPECT_EQ(Gbk(log.editText), Gbk(c.text));
        EXPECT_EQ(log.editResized, c.resized);
        EXPECT_EQ(log.editWidth, c.resized ? 500 : 0);
        EXPECT_EQ(log.editOkX, c.resized ? 126 : 0);
    }
    EXPECT_EQ(Gbk(log.okLabel), Gbk("&Y 确定"));
    EXPECT_EQ(Gbk(log.noLabel), Gbk("&N 否"));
    EXPECT_EQ(Gbk(log.cancelLabel), Gbk("&C 取消"));
}

TEST(UiCallbacksTest, PromptThroughTheHost) {
    HostLog log{};
    InstalledTable table(HostTable(&log));
    ::PromptText(nullptr, -1, 0, 0);
    ::PromptText("a\nb", 300, 1, 2);
    EXPECT_EQ(std::vector<int>({log.prompts, log.promptHeight, log.promptCreated, log.waits, log.waitTimeout, log.hides}),
              std::vector<int>({1, 126, 1, 1, 300, 1}));
    ::PromptText("", -1, 0, 0);
    EXPECT_EQ(log.destroys, 1);
}

TEST(UiCallbacksTest, NullMembersKeepTheHeadlessBehaviour) {
    EnvironmentVariable ui("QO_UI", nullptr);
    EnvironmentVariable locale("LC_ALL", "C.UTF-8");
    EnvironmentVariable forced("QO_MSGBOX_ANSWER", nullptr);
    HostLog log{};
    log.answer = QO_ID_RETRY;
    QoUiCallbacks only{};
    only.size = sizeof only;
    only.context = &log;
    only.message_box = HostMessageBox;
    InstalledTable table(only);
    EXPECT_EQ(Ui().MessageBox("中文内容", "标题", 5), QO_ID_RETRY);
    EXPECT_EQ(Gbk(std::string(log.text) + "|" + log.caption), Gbk("中文内容|标题"));
    CString text = "keep";
    testing::internal::CaptureStderr();
    EXPECT_EQ(ruqo_EditText(text, "t"), 2);
    Ui().Sink("日志", "行");
    ::PromptText("p", 0, 0, 0);
    ::PromptText("", -1, 0, 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), u8"[t] keep\n[日志] 行\n[提示信息] p\n");
    EXPECT_EQ(text, "keep");
}

TEST(UiCallbacksTest, InstallingAndRemoving) {
    HostLog log{};
    QoUiCallbacks table = HostTable(&log);
    table.size = 8;  // older or broken host
    EXPECT_EQ(ruqo_SetUiCallbacks(&table), 0);
    EXPECT_EQ(platform::InstalledUi(), nullptr);
    table.size = sizeof table;
    EXPECT_EQ(ruqo_SetUiCallbacks(&table), 1);
    EXPECT_NE(platform::InstalledUi(), nullptr);
    EXPECT_EQ(ruqo_SetUiCallbacks(nullptr), 0);
    EXPECT_EQ(platform::InstalledUi(), nullptr);
    ruqo_UiSetText(nullptr, "x", 1);  // no crash
}

// A host callback that may run on several threads at once.
std::atomic<int> g_threadedBoxes{0};
int ThreadSafeBox(void*, const char*, const char*, unsigned) {
    ++g_threadedBoxes;
    return QO_ID_OK;
}

TEST(UiCallbacksTest, CallbacksMayArriveOnOtherThreads) {
    QoUiCallbacks callbacks{};
    callbacks.size = sizeof callbacks;
    callbacks.message_box = ThreadSafeBox;
    InstalledTable table(callbacks);
    int answers[4] = {};
    std::vector<std::thread> threads;
    for (int i = 0; i < 4; ++i)
        threads.emplace_back([&answers, i] { answers[i] = platform::ShowMessageBox("timer", "t", 0); });
    for (auto& thread : threads) thread.join();
    for (int answer : answers) EXPECT_EQ(answer, QO_ID_OK);
    EXPECT_EQ(g_threadedBoxes.load(), 4);
}

}  // namespace
}  // namespace qotool::test
