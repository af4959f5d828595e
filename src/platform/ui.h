// The one process-wide user interface. The library never draws: it computes
// every text and number that a person sees (box bodies and captions with
// their cuts, dialog geometry, time-outs) and hands them to this interface,
// which only shows them and answers.
//
// Implementations: the headless default (below), the adapter over the C
// callback table that hosts install with ruqo_SetUiCallbacks
// (qotool/ui_callbacks.h), the terminal UI of qol, and the recording double
// of the tests. Calls may arrive on any thread, timer threads included.
//
// Headless answers: a message box returns its default button (from the
// button set and the default-button bits; QO_MSGBOX_ANSWER forces one), an
// edit dialog returns Cancel (an automatic OK would loop the interactive
// statement editor forever), a prompt has no window to wait for. What would
// have been shown goes to the sink: "[caption] text" on standard error, in
// UTF-8 when the environment names a UTF-8 locale; QO_UI=silent drops it.
#ifndef QOTOOL_PLATFORM_UI_H
#define QOTOOL_PLATFORM_UI_H

#include "platform/cstring.h"

struct QoUiCallbacks;

namespace qotool::platform {

// Button results of a message box.
enum : int {
    kIdOk = 1,
    kIdCancel = 2,
    kIdAbort = 3,
    kIdRetry = 4,
    kIdIgnore = 5,
    kIdYes = 6,
    kIdNo = 7,
    kIdTryAgain = 10,
    kIdContinue = 11,
};

// Message box type bits the library uses.
enum : unsigned {
    kMbOk = 0x0,
    kMbOkCancel = 0x1,
    kMbAbortRetryIgnore = 0x2,
    kMbYesNoCancel = 0x3,
    kMbYesNo = 0x4,
    kMbRetryCancel = 0x5,
    kMbCancelTryContinue = 0x6,
    kMbTaskModal = 0x2000,
    kMbTopmost = 0x40000,
};

// The buttons of a box type (button set in the low 4 bits; an unknown set
// counts as OK alone): writes up to 3 identifiers, returns their number.
int BoxButtons(unsigned type, int buttons[3]);
// The default button: the one the default-button bits (bits 8-11) name,
// the first when they name none of the set.
int DefaultButton(unsigned type);
// The headless answer: QO_MSGBOX_ANSWER (a button number, or a name such as
// "yes", "no", "cancel", "tryagain") when set, else the default button.
int HeadlessAnswer(unsigned type);

struct UiRect {
    int x = 0, y = 0, width = 0, height = 0;
};

// Texts of the edit dialog and the prompt window (one dialog design).
extern const char kEditDialogCaption[];  // "文本编辑"
extern const char kEditDialogFont[];     // "宋体"
extern const char kEditDefaultTitle[];   // "输入："
extern const char kEditOkLabel[];        // "&Y 确定", identifier 1, the default button
extern const char kEditNoLabel[];        // "&N 否", identifier 7, always hidden
extern const char kEditCancelLabel[];    // "&C 取消", identifier 2
extern const char kPromptCaption[];      // "提示信息"

// Control placement in an edit dialog whose client area is width x height
// (the width counts as at least 150): step s = (w - 120) / 3, OK at
// (s, h - 40), Cancel at (2s + 60, h - 40), both 60 x 30; the edit field
// from (10, 10), w - 20 wide and h - 60 high.
void LayoutEditDialog(int clientWidth, int clientHeight, UiRect* edit, UiRect* ok, UiRect* cancel);

// One showing of the modal edit dialog.
struct EditDialogView {
    const char* title = nullptr;  // the window title (never null)
    const char* text = nullptr;   // the text the edit field starts with (no length limit)
    // A text with a line feed: the dialog is resized to width x height
    // (500 x 300) and centred; otherwise width and height are 0 and the
    // dialog keeps its own size.
    bool resized = false;
    int width = 0, height = 0;
    // Control placement for a client area of width x height (when resized);
    // a UI whose client area differs recomputes it with LayoutEditDialog.
    UiRect edit, ok, cancel;
};

// The view of the edit dialog for a text and a title (kEditDefaultTitle when
// null); it refers to both, which must outlive it.
EditDialogView MakeEditDialogView(const char* title, const CString& text);

// One showing of the prompt window (modeless, caption "提示信息", its OK
// button hidden, the activation given back to the window that had it).
struct PromptView {
    const char* title = nullptr;
    const char* text = nullptr;
    int x = 0, y = 0;
    int width = 0, height = 0;  // 400 x (lines x 13 + 100), lines at most 20
    bool created = false;       // the window did not exist before this call
};

// The log's diagnosis dialog as a UI sees it: four buttons and a check box
// whose texts and actions are the library's. A UI shows the texts and calls
// Press for the button the person pressed, with the state of the check box,
// until Press returns a result (0 or above) that ends the dialog.
class DiagnosisDialogModel {
public:
    enum Control : int { kViewError = 0, kViewLog = 1, kDebugger = 2, kLeave = 3, kControlCount = 4 };
    virtual ~DiagnosisDialogModel() = default;
    virtual const char* Caption() const = 0;
    virtual const char* ButtonLabel(int control) const = 0;
    virtual const char* CheckLabel() const = 0;
    // Runs the button's action. Returns the dialog's result when the button
    // ends it, else -1 (an unknown control does nothing and returns -1).
    virtual int Press(int control, bool checked) = 0;
};

class UiInterface {
public:
    virtual ~UiInterface() = default;
    // type: button set in the low 4 bits, default button in bits 8-11.
    // Returns the button pressed.
    virtual int MessageBox(const char* text, const char* caption, unsigned type) = 0;
    // What a UI without a window for it would have shown.
    virtual void Sink(const char* caption, const char* text) = 0;
    // The edit dialog in its plain form: shows text for editing; returns
    // kIdOk with the edited text in text, or kIdCancel (text unchanged).
    virtual int EditText(CString& text, const char* title) = 0;
    // The edit dialog with its geometry. The default shows it through
    // EditText.
    virtual int EditDialog(const EditDialogView& view, CString& text) { return EditText(text, view.title); }
    // The prompt window: show (create when view.created) with the text and
    // geometry, hide, destroy. The default shows the text through the sink.
    virtual void PromptShow(const PromptView& view) { Sink(view.title, view.text); }
    virtual void PromptHide() {}
    virtual void PromptDestroy() {}
    // Waits while the prompt is on screen, at most timeoutMs milliseconds.
    // Returns 1 when the person closed it, 0 when the time passed (or there
    // is nothing to wait for: the default returns at once).
    virtual int PromptWait(int timeoutMs) {
        (void)timeoutMs;
        return 0;
    }
    // Runs the diagnosis dialog modally; returns its result. The default
    // has no window: it leaves the dialog at once with the box unticked.
    virtual int DiagnosisDialog(DiagnosisDialogModel& dialog) {
        Sink(dialog.Caption(), dialog.ButtonLabel(DiagnosisDialogModel::kLeave));
        return dialog.Press(DiagnosisDialogModel::kLeave, false);
    }
    // Opens a text file for a person to read, as Notepad did, without
    // waiting. The default names the file on the sink.
    virtual void OpenTextFile(const char* path) { Sink("notepad", path); }
};

// The interface in use (the headless default when none is installed).
UiInterface& Ui();
// The headless default itself.
UiInterface& HeadlessUi();
// Installs an interface (not owned); null puts the headless default back.
void SetUi(UiInterface* ui);
// The installed interface, or null while the headless default is in use.
UiInterface* InstalledUi();
// Installs a copy of a host's callback table (ui_table.h) as the interface;
// null or a table too small for the first version removes it. 1 when
// installed, else 0.
int InstallUiCallbacks(const QoUiCallbacks* callbacks);

inline int ShowMessageBox(const char* text, const char* caption, unsigned type) {
    return Ui().MessageBox(text, caption, type);
}
inline void UiSink(const char* caption, const char* text) { Ui().Sink(caption, text); }

}  // namespace qotool::platform

#endif
