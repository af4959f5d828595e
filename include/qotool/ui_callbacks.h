/* The user interface of libqoTool_NoQO.so as a host sees it.
 *
 * The library never draws. Message boxes, the text-edit dialog, the prompt
 * window and diagnostics are computed in the library (texts, cuts, geometry,
 * time-outs) and handed to one process-wide UI. A host that wants to show
 * them installs a table of C callbacks; every member it leaves null keeps
 * the library's headless behaviour:
 *   - a message box answers its default button (from the button set and the
 *     default-button bits; the environment variable QO_MSGBOX_ANSWER forces
 *     an answer, as a number or a name such as "yes" or "cancel");
 *   - the edit dialog answers Cancel;
 *   - the prompt window is not waited for;
 *   - what would have been shown goes to the sink: "[caption] text" on
 *     standard error, UTF-8 when the environment names a UTF-8 locale;
 *     QO_UI=silent drops it.
 *
 * All strings are GBK byte strings, zero-terminated, valid only during the
 * call. Callbacks may arrive on any thread, including the library's
 * background timer threads, and may be called again before an earlier call
 * on another thread has returned: a host must make its callbacks safe for
 * that (for example by posting to its UI thread and waiting).
 */
#ifndef QOTOOL_UI_CALLBACKS_H
#define QOTOOL_UI_CALLBACKS_H

#include "platform/ui_table.h"
#include "qotool/qo_api.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Button identifiers. */
enum {
    QO_ID_OK = 1,
    QO_ID_CANCEL = 2,
    QO_ID_ABORT = 3,
    QO_ID_RETRY = 4,
    QO_ID_IGNORE = 5,
    QO_ID_YES = 6,
    QO_ID_NO = 7,
    QO_ID_TRYAGAIN = 10,
    QO_ID_CONTINUE = 11
};

/* The callback table and the structures it passes (QoUiRect,
 * QoUiEditDialog, QoUiPrompt, QoUiDiagnosis, QoUiText, QoUiCallbacks) are
 * in qotool/platform/ui_table.h, included above. */

/* Installs a copy of the table; null removes it (the headless UI again).
 * Returns 1 when installed, 0 when removed or when size is too small. */
QO_API int ruqo_SetUiCallbacks(const QoUiCallbacks* callbacks);

/* Sets the edited text of an edit callback: length bytes, or up to the
 * terminating zero when length < 0. */
QO_API void ruqo_UiSetText(QoUiText* result, const char* text, int length);

/* A button of the diagnosis dialog pressed with the check box as given:
 * runs its action and returns the dialog's result when the button ends it,
 * else -1. */
QO_API int ruqo_UiDiagnosisPress(const QoUiDiagnosis* dialog, int button, int checked);

/* The buttons of a message box type, in their order (up to 3 identifiers
 * written to buttons; returns their number); its default button; and the
 * headless answer (QO_MSGBOX_ANSWER first). */
QO_API int ruqo_UiBoxButtons(unsigned type, int* buttons);
QO_API int ruqo_UiDefaultButton(unsigned type);
QO_API int ruqo_UiHeadlessAnswer(unsigned type);

/* Control placement of the edit dialog for a client area of the given size
 * (the width counts as at least 150). */
QO_API void ruqo_UiLayoutEditDialog(int client_width, int client_height, QoUiRect* edit, QoUiRect* ok,
                                    QoUiRect* cancel);

/* The prompt window. A non-empty text shows it (creating it when needed) at
 * (x, y), 400 wide and (lines x 13 + 100) high, lines being the line feeds
 * of the text + 1, at most 20; with timeout > 0 the call then waits that
 * many milliseconds (or until the person closes it) and hides it again. A
 * null or empty text hides the window, or destroys it when timeout is -1. */
QO_API void PromptText(const char* text, int timeout, int x, int y);

#ifdef __cplusplus
}

#include "qotool/cstring.h"

/* The modal edit dialog: starts with text, titled title ("输入：" when
 * null). Returns 1 when confirmed (text then holds the edited text), 2 for
 * Cancel or closing (text unchanged). */
QO_API int ruqo_EditText(CString& text, const char* title);
#endif

#endif
