#include "platform/ui.h"

#include <strings.h>

#include <atomic>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "platform/encoding.h"
#include "platform/host_devices.h"
#include "platform/ui_table.h"

namespace qotool::platform {

const char kEditDialogCaption[] = "文本编辑";
const char kEditDialogFont[] = "宋体";
const char kEditDefaultTitle[] = "输入：";
const char kEditOkLabel[] = "&Y 确定";
const char kEditNoLabel[] = "&N 否";
const char kEditCancelLabel[] = "&C 取消";
const char kPromptCaption[] = "提示信息";

int BoxButtons(unsigned type, int buttons[3]) {
    static const int kSets[7][3] = {
        {kIdOk, 0, 0},
        {kIdOk, kIdCancel, 0},
        {kIdAbort, kIdRetry, kIdIgnore},
        {kIdYes, kIdNo, kIdCancel},
        {kIdYes, kIdNo, 0},
        {kIdRetry, kIdCancel, 0},
        {kIdCancel, kIdTryAgain, kIdContinue},
    };
    unsigned set = type & 0x0F;
    if (set > 6) set = 0;
    int count = 0;
    for (int i = 0; i < 3; ++i) {
        buttons[i] = kSets[set][i];
        if (buttons[i]) ++count;
    }
    return count;
}

int DefaultButton(unsigned type) {
    int buttons[3];
    const int count = BoxButtons(type, buttons);
    const unsigned index = (type >> 8) & 0x0F;
    return (int)index < count ? buttons[index] : buttons[0];
}

int HeadlessAnswer(unsigned type) {
    const char* forced = getenv("QO_MSGBOX_ANSWER");
    if (forced && *forced) {
        static const struct {
            const char* name;
            int id;
        } kNames[] = {{"ok", kIdOk},         {"cancel", kIdCancel},       {"abort", kIdAbort},
                      {"retry", kIdRetry},   {"ignore", kIdIgnore},       {"yes", kIdYes},
                      {"no", kIdNo},         {"tryagain", kIdTryAgain},   {"continue", kIdContinue}};
        for (const auto& entry : kNames)
            if (strcasecmp(forced, entry.name) == 0) return entry.id;
        const int number = atoi(forced);
        if (number > 0) return number;
    }
    return DefaultButton(type);
}

EditDialogView MakeEditDialogView(const char* title, const CString& text) {
    EditDialogView view;
    view.title = title ? title : kEditDefaultTitle;
    view.text = text.c_str();
    if (text.Find('\n') >= 0) {
        view.resized = true;
        view.width = 500;
        view.height = 300;
        LayoutEditDialog(view.width, view.height, &view.edit, &view.ok, &view.cancel);
    }
    return view;
}

void LayoutEditDialog(int clientWidth, int clientHeight, UiRect* edit, UiRect* ok, UiRect* cancel) {
    const int w = clientWidth < 150 ? 150 : clientWidth;
    const int h = clientHeight;
    const int s = (w - 120) / 3;
    if (ok) *ok = UiRect{s, h - 40, 60, 30};
    if (cancel) *cancel = UiRect{2 * s + 60, h - 40, 60, 30};
    if (edit) *edit = UiRect{10, 10, w - 20, h - 60};
}

namespace {

bool SinkSilenced() {
    const char* mode = getenv("QO_UI");
    return mode && strcmp(mode, "silent") == 0;
}

class Headless final : public UiInterface {
public:
    int MessageBox(const char* text, const char* caption, unsigned type) override {
        Sink(caption, text);
        return HeadlessAnswer(type);
    }
    int EditText(CString& text, const char* title) override {
        Sink(title, text.c_str());
        return kIdCancel;
    }
    void Sink(const char* caption, const char* text) override {
        if (SinkSilenced()) return;
        std::string line = "[";
        line += caption ? caption : "";
        line += "] ";
        line += text ? text : "";
        line += "\n";
        if (EnvironmentIsUtf8()) line = GbkToUtf8(line, true);
        fwrite(line.data(), 1, line.size(), stderr);
        fflush(stderr);
    }
};

// The UI objects are never destroyed: timer threads may still show
// something while the process exits.
Headless& HeadlessObject() {
    static Headless* headless = new Headless();
    return *headless;
}
std::atomic<UiInterface*> g_ui{nullptr};

}  // namespace

UiInterface& Ui() {
    UiInterface* ui = g_ui.load(std::memory_order_acquire);
    return ui ? *ui : HeadlessObject();
}
UiInterface& HeadlessUi() { return HeadlessObject(); }
void SetUi(UiInterface* ui) { g_ui.store(ui, std::memory_order_release); }
UiInterface* InstalledUi() { return g_ui.load(std::memory_order_acquire); }

namespace {

QoUiRect ToC(const UiRect& r) { return QoUiRect{r.x, r.y, r.width, r.height}; }

// The UI over a host's callback table. Each call copies the table under the
// lock, so a host may replace it while another thread is inside a callback.
class CallbackUi final : public UiInterface {
public:
    void Install(const QoUiCallbacks& table) {
        std::lock_guard<std::mutex> lock(mutex_);
        table_ = table;
    }
    int MessageBox(const char* text, const char* caption, unsigned type) override {
        const QoUiCallbacks t = Table();
        if (!t.message_box) return HeadlessObject().MessageBox(text, caption, type);
        const int answer = t.message_box(t.context, text ? text : "", caption ? caption : "", type);
        return answer >= 1 ? answer : HeadlessAnswer(type);
    }
    void Sink(const char* caption, const char* text) override {
        const QoUiCallbacks t = Table();
        if (!t.sink) return HeadlessObject().Sink(caption, text);
        t.sink(t.context, caption ? caption : "", text ? text : "");
    }
    int EditText(CString& text, const char* title) override {
        const CString initial = text;
        return EditDialog(MakeEditDialogView(title, initial), text);
    }
    int EditDialog(const EditDialogView& view, CString& text) override {
        const QoUiCallbacks t = Table();
        if (!t.edit_text) return HeadlessObject().EditDialog(view, text);
        QoUiEditDialog dialog;
        dialog.title = view.title ? view.title : "";
        dialog.text = view.text ? view.text : "";
        dialog.resized = view.resized ? 1 : 0;
        dialog.width = view.width;
        dialog.height = view.height;
        dialog.edit = ToC(view.edit);
        dialog.ok = ToC(view.ok);
        dialog.cancel = ToC(view.cancel);
        dialog.ok_label = kEditOkLabel;
        dialog.no_label = kEditNoLabel;
        dialog.cancel_label = kEditCancelLabel;
        // The result goes to a copy, so view.text stays valid during the call.
        CString edited = text;
        const int answer = t.edit_text(t.context, &dialog, reinterpret_cast<QoUiText*>(&edited));
        if (answer != kIdOk) return kIdCancel;
        text = edited;
        return kIdOk;
    }
    void PromptShow(const PromptView& view) override {
        const QoUiCallbacks t = Table();
        if (!t.prompt_show) return HeadlessObject().PromptShow(view);
        QoUiPrompt prompt{view.title ? view.title : "", view.text ? view.text : "", view.x, view.y, view.width,
                          view.height, view.created ? 1 : 0};
        t.prompt_show(t.context, &prompt);
    }
    void PromptHide() override {
        const QoUiCallbacks t = Table();
        if (t.prompt_hide) t.prompt_hide(t.context);
    }
    void PromptDestroy() override {
        const QoUiCallbacks t = Table();
        if (t.prompt_destroy) t.prompt_destroy(t.context);
    }
    int PromptWait(int timeoutMs) override {
        const QoUiCallbacks t = Table();
        if (!t.prompt_wait) return HeadlessObject().PromptWait(timeoutMs);
        return t.prompt_wait(t.context, timeoutMs) == 1 ? 1 : 0;
    }

    int DiagnosisDialog(DiagnosisDialogModel& model) override {
        const QoUiCallbacks t = Table();
        if (!t.diagnosis_dialog) return HeadlessObject().DiagnosisDialog(model);
        QoUiDiagnosis dialog{};
        dialog.caption = model.Caption();
        for (int i = 0; i < DiagnosisDialogModel::kControlCount; ++i) dialog.button_labels[i] = model.ButtonLabel(i);
        dialog.check_label = model.CheckLabel();
        dialog.model = &model;
        const int result = t.diagnosis_dialog(t.context, &dialog);
        return result >= 0 ? result : model.Press(DiagnosisDialogModel::kLeave, false);
    }
    void OpenTextFile(const char* path) override {
        const QoUiCallbacks t = Table();
        if (!t.open_text_file) return HeadlessObject().OpenTextFile(path);
        t.open_text_file(t.context, path ? path : "");
    }

    // The table as installed (members past the host's size are null).
    QoUiCallbacks Snapshot() { return Table(); }

private:
    QoUiCallbacks Table() {
        std::lock_guard<std::mutex> lock(mutex_);
        return table_;
    }
    std::mutex mutex_;
    QoUiCallbacks table_{};
};

CallbackUi& CallbackObject() {
    static CallbackUi* callbacks = new CallbackUi();
    return *callbacks;
}

// The host's table, when its callbacks are the UI in use.
bool ActiveTable(QoUiCallbacks& table) {
    if (g_ui.load(std::memory_order_acquire) != &CallbackObject()) return false;
    table = CallbackObject().Snapshot();
    return true;
}

// The members a table must reach to be accepted (the first version).
constexpr unsigned kMinimumTableSize = (unsigned)(offsetof(QoUiCallbacks, prompt_wait) + sizeof(void*));

}  // namespace

bool HostClipboardRead(std::string& text, bool& ok) {
    QoUiCallbacks t;
    if (!ActiveTable(t) || !t.clipboard_read) return false;
    CString read;
    ok = t.clipboard_read(t.context, reinterpret_cast<QoUiText*>(&read)) == 1;
    text.assign(read.view());
    return true;
}

bool HostClipboardWrite(std::string_view text, bool& ok) {
    QoUiCallbacks t;
    if (!ActiveTable(t) || !t.clipboard_write) return false;
    const std::string copy(text);  // zero-terminated for the host
    ok = t.clipboard_write(t.context, copy.c_str(), (int)copy.size()) == 1;
    return true;
}

bool HostBeep(unsigned frequency, unsigned durationMs, int& result) {
    QoUiCallbacks t;
    if (!ActiveTable(t) || !t.beep) return false;
    result = t.beep(t.context, frequency, durationMs);
    return true;
}

bool HostPlaySound(const char* gbkFile, bool& ok) {
    QoUiCallbacks t;
    if (!ActiveTable(t) || !t.play_sound) return false;
    ok = t.play_sound(t.context, gbkFile ? gbkFile : "") == 1;
    return true;
}

int InstallUiCallbacks(const QoUiCallbacks* callbacks) {
    if (!callbacks || callbacks->size < kMinimumTableSize) {
        UiInterface* expected = &CallbackObject();
        g_ui.compare_exchange_strong(expected, nullptr);
        return 0;
    }
    QoUiCallbacks table{};
    memcpy(&table, callbacks, callbacks->size < sizeof table ? callbacks->size : sizeof table);
    try {
        CallbackObject().Install(table);
    } catch (...) {
        return 0;
    }
    SetUi(&CallbackObject());
    return 1;
}

}  // namespace qotool::platform
