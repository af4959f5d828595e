/* The table of C callbacks through which a host shows the library's user
 * interface, and the structures it passes. The platform layer holds the
 * installed table (ui.cpp); the public qotool/ui_callbacks.h, which says
 * what the library does with each member, includes this header, installed
 * beside it as qotool/platform/ui_table.h. C and C++. */
#ifndef QOTOOL_PLATFORM_UI_TABLE_H
#define QOTOOL_PLATFORM_UI_TABLE_H

#ifdef __cplusplus
extern "C" {
#endif

typedef struct QoUiRect {
    int x, y, width, height;
} QoUiRect;

/* The modal text-edit dialog (dialog caption "文本编辑", font 宋体). */
typedef struct QoUiEditDialog {
    const char* title;        /* window title: the caller's, or "输入：" */
    const char* text;         /* initial text of the edit field; no length limit */
    int resized;              /* 1: the text holds a line feed; size width x height, centred */
    int width, height;        /* 500 x 300 when resized, else 0 (the dialog's own size) */
    QoUiRect edit, ok, cancel; /* control placement for a width x height client area */
    const char* ok_label;     /* "&Y 确定" (identifier 1, default button) */
    const char* no_label;     /* "&N 否" (identifier 7, always hidden) */
    const char* cancel_label; /* "&C 取消" (identifier 2) */
} QoUiEditDialog;

/* The modeless prompt window: caption "提示信息", the edit field showing the
 * text, its OK button hidden; it does not keep the activation. */
typedef struct QoUiPrompt {
    const char* title;
    const char* text;
    int x, y, width, height; /* width 400, height lines x 13 + 100 (at most 20 lines) */
    int created;             /* 1: the window did not exist before this call */
} QoUiPrompt;

/* The message log's diagnosis dialog "信息诊断": four buttons (index 0 to 3:
 * view the previous error, view the run log, enter the debugger, leave) and
 * a check box (do not show this kind of message for 30 seconds). The host
 * shows it modally and, for each button pressed, calls
 * ruqo_UiDiagnosisPress(dialog, index, checked); when that returns 0 or
 * more, the dialog ends and the callback returns that value. */
typedef struct QoUiDiagnosis {
    const char* caption;
    const char* button_labels[4];
    const char* check_label;
    void* model; /* the library's; pass the dialog itself back */
} QoUiDiagnosis;

/* Where an edit callback leaves the edited text (opaque). */
typedef struct QoUiText QoUiText;

typedef struct QoUiCallbacks {
    /* sizeof(QoUiCallbacks) as the host compiled it. */
    unsigned size;
    /* Passed back as the first argument of every callback. */
    void* context;
    /* type: button set in the low 4 bits (0 OK, 1 OK/Cancel, 2 Abort/Retry/
     * Ignore, 3 Yes/No/Cancel, 4 Yes/No, 5 Retry/Cancel, 6 Cancel/Try again/
     * Continue), default button in bits 8-11, plus style bits (0x2000 task-
     * modal, 0x40000 topmost, ...). Returns the button identifier; 0 (or
     * any value below 1) asks for the headless answer. */
    int (*message_box)(void* context, const char* text, const char* caption, unsigned type);
    /* Diagnostics the library would otherwise write to standard error. */
    void (*sink)(void* context, const char* caption, const char* text);
    /* Shows the edit dialog modally. On OK, call ruqo_UiSetText(result, ...)
     * with the edited text (without that call the text stays as it was) and
     * return QO_ID_OK; return QO_ID_CANCEL for Cancel or closing. */
    int (*edit_text)(void* context, const QoUiEditDialog* dialog, QoUiText* result);
    /* The prompt window: show (and create when prompt->created), hide,
     * destroy. */
    void (*prompt_show)(void* context, const QoUiPrompt* prompt);
    void (*prompt_hide)(void* context);
    void (*prompt_destroy)(void* context);
    /* Waits at most timeout_ms while the prompt is shown, keeping the host's
     * windows serviced. Returns 1 when the person closed the prompt, 0 when
     * the time passed. */
    int (*prompt_wait)(void* context, int timeout_ms);
    /* Added later (a shorter table leaves them null). The diagnosis dialog:
     * returns the result that ruqo_UiDiagnosisPress gave when it ended the
     * dialog. Null: the dialog is left at once, unticked (result 0x20). */
    int (*diagnosis_dialog)(void* context, const QoUiDiagnosis* dialog);
    /* Opens a text file (GBK path) for reading without waiting, as the
     * log's "open in Notepad" does. Null: the path goes to the sink. */
    void (*open_text_file)(void* context, const char* path);
    /* Added later still (a shorter table leaves them null). The clipboard,
     * beeps and sound files; a null member keeps the library's own (the
     * desktop's clipboard tools or a clipboard inside the process; a silent
     * beep that lasts its duration; a sound player found on PATH).
     * Reads the clipboard's text: call ruqo_UiSetText(result, ...) with it
     * and return 1 (without that call the text is empty); 0 when it cannot
     * be read. */
    int (*clipboard_read)(void* context, QoUiText* result);
    /* Puts length bytes of text on the clipboard; 1 when written, 0 when
     * not. */
    int (*clipboard_write)(void* context, const char* text, int length);
    /* Sounds a beep of frequency Hz lasting duration_ms; returns the result
     * Beep gives the script (non-zero on success). */
    int (*beep)(void* context, unsigned frequency, unsigned duration_ms);
    /* Plays a sound file (GBK path) to its end; 1 when played, 0 when not. */
    int (*play_sound)(void* context, const char* path);
} QoUiCallbacks;

#ifdef __cplusplus
}
#endif

#endif
