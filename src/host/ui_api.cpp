// The C entry points of qotool/ui_callbacks.h: the host's callback table
// and the helpers a host's dialogs call. The UI itself is the platform's
// (platform/ui.h); these only pass it on.
#include "platform/ui.h"
#include "qotool/ui_callbacks.h"

using namespace qotool::platform;

namespace {

QoUiRect ToC(const UiRect& r) { return QoUiRect{r.x, r.y, r.width, r.height}; }

}  // namespace

extern "C" QO_API int ruqo_SetUiCallbacks(const QoUiCallbacks* callbacks) { return InstallUiCallbacks(callbacks); }

extern "C" QO_API void ruqo_UiSetText(QoUiText* result, const char* text, int length) {
    if (!result) return;
    CString& out = *reinterpret_cast<CString*>(result);
    try {
        if (!text)
            out.Empty();
        else if (length < 0)
            out = text;
        else
            out = CString(text, length);
    } catch (...) {
    }
}

extern "C" QO_API int ruqo_UiDiagnosisPress(const QoUiDiagnosis* dialog, int button, int checked) {
    if (!dialog || !dialog->model) return -1;
    try {
        return static_cast<DiagnosisDialogModel*>(dialog->model)->Press(button, checked != 0);
    } catch (...) {
        return -1;
    }
}

extern "C" QO_API int ruqo_UiBoxButtons(unsigned type, int* buttons) {
    int set[3];
    const int count = BoxButtons(type, set);
    if (buttons)
        for (int i = 0; i < count; ++i) buttons[i] = set[i];
    return count;
}

extern "C" QO_API int ruqo_UiDefaultButton(unsigned type) { return DefaultButton(type); }
extern "C" QO_API int ruqo_UiHeadlessAnswer(unsigned type) { return HeadlessAnswer(type); }

extern "C" QO_API void ruqo_UiLayoutEditDialog(int clientWidth, int clientHeight, QoUiRect* edit, QoUiRect* ok,
                                               QoUiRect* cancel) {
    UiRect e, o, c;
    LayoutEditDialog(clientWidth, clientHeight, &e, &o, &c);
    if (edit) *edit = ToC(e);
    if (ok) *ok = ToC(o);
    if (cancel) *cancel = ToC(c);
}
