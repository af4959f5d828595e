/* The debugger window and the variable browser of libqoTool_NoQO.so as a
 * host shows them.
 *
 * The library computes every text of the debugger (title, level rows,
 * variables pane, source pane with its "【n】" level markers, watch results)
 * and hands a snapshot to the host's wait callback, which shows it and
 * answers one command. Without a table (or with a null wait member) the
 * debugger window cannot open: trace events pass and runs are not paused.
 * The browser works the same way: the host's browse callback shows the
 * rows it asks for and ends with a code; without one the browser closes at
 * once.
 *
 * All strings are GBK, zero-terminated, valid only during the call. The
 * callbacks run on the thread of the run being debugged (timer threads
 * included); the library lets one thread at a time into the debugger.
 */
#ifndef QOTOOL_DEBUG_VIEW_H
#define QOTOOL_DEBUG_VIEW_H

#include "qotool/qo_api.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Commands a wait callback answers. */
enum {
    QO_DEBUG_NONE = 0,      /* the wait's time passed */
    QO_DEBUG_STEP = 1,      /* "单步" (F5) */
    QO_DEBUG_FAST = 2,      /* "快进" */
    QO_DEBUG_CLOSE = 3,     /* "关闭": the debug switch goes off */
    QO_DEBUG_TERMINATE = 4, /* "终止": the next event ends the run */
    QO_DEBUG_UNTIL = 5,     /* "至条件": text is the condition (empty keeps it) */
    QO_DEBUG_PACE = 6,      /* "间隔ms": number is the interval (<= 0 keeps it) */
    QO_DEBUG_EVAL = 7,      /* "运算" of text */
    QO_DEBUG_WATCH = 8,     /* watch number 0-2 becomes text */
    QO_DEBUG_LIVE = 9,      /* toggles "实时观测" */
    QO_DEBUG_REFRESH = 10,  /* "立即刷新" */
    QO_DEBUG_LEVEL = 11,    /* number: 0 "逐段", 1 "逐句", 2 "逐步" */
    QO_DEBUG_ENTRY = 12,    /* toggles "入口" */
    QO_DEBUG_EXIT = 13,     /* toggles "出口" */
    QO_DEBUG_LOWER = 14,    /* toggles "下层" */
    QO_DEBUG_RUN_TO = 15,   /* F6: caret at byte offset number of the source pane */
    QO_DEBUG_RUN_TO_LINE = 16, /* run to line number (from 1) of the current text */
    QO_DEBUG_UP = 17,       /* F8 */
    QO_DEBUG_DOWN = 18,     /* F9 */
    QO_DEBUG_VARS = 19,     /* "查看变量": the browser */
    QO_DEBUG_WIDE = 20,     /* toggles "╣" */
    QO_DEBUG_VALUE = 21,    /* the full value of the current row (empty text) or of an expression */
    QO_DEBUG_VIEW_HOST = 22 /* "查看平台" */
};

typedef struct QoDebugRow {
    const char *depth, *label, *type, *assigned, *value, *position;
} QoDebugRow;

typedef struct QoDebugSnapshot {
    const char* title;
    const char* event;      /* the event label, e.g. "B断点" */
    int stop;               /* 1: a stop; 0: a progress refresh */
    int level;              /* current level, 0 the outermost run */
    int debugger_level;
    int line;               /* line of the position (from 1) as errors count it: in
                               the file the run reads (see file), 0 when none */
    const char* sentence;   /* the source line from the position on */
    const QoDebugRow* rows;
    int row_count, current_row;
    const char* variables;  /* the variables pane */
    const char* source;     /* the source pane */
    int source_read_only;
    unsigned selection_start, selection_end; /* the selected marker in source */
    int selected_level;
    const char* watch[3];
    const char* watch_result[3];
    const char* eval_expression;
    const char* eval_result;
    const char* answer_caption; /* "结果值" or "运算" after such a command, else "" */
    const char* answer;
    int fast, terminate, until, pace;   /* push-like buttons */
    int debug_level;                    /* 0 block, 1 sentence, 2 step */
    int entry, exit, lower, live, wide; /* check boxes */
    const char* condition;
    const char* interval;
    /* The place of the position as error reports name it: file (the path the
     * run was given, "" when it reads no file; then lines count in the
     * outermost text of the run), line above and column (from 1; 0 for a
     * text the run made, whose own lines line counts then). A function's
     * stop names the place of its definition. */
    const char* file;
    int column;
    /* The text whose lines line counts (the file's text as it ran), for the
     * selected level, and the byte offset of that level's position in it;
     * "" and -1 when the position lies in no such text. */
    const char* listing;
    long listing_offset;
    /* Why the last eval or value answered "无法计算": the error message
     * without its position text; "" otherwise. */
    const char* answer_detail;
} QoDebugSnapshot;

typedef struct QoBrowser QoBrowser;

typedef struct QoDebugCallbacks {
    unsigned size; /* sizeof(QoDebugCallbacks) as the host compiled it */
    void* context;
    /* The window opens (first shown event) / closes. */
    void (*open)(void* context, const QoDebugSnapshot* snapshot);
    void (*close)(void* context);
    /* Shows the snapshot and returns a command (QO_DEBUG_...). wait_ms < 0:
     * wait for a command; otherwise return QO_DEBUG_NONE when that many
     * milliseconds pass first. *number and *text carry the command's
     * argument (text owned by the host, valid until its next call). */
    int (*wait)(void* context, const QoDebugSnapshot* snapshot, int wait_ms, int* number, const char** text);
    /* The browser: shows it, calling the ruqo_Browser* functions below, and
     * returns the code the dialog ended with (ruqo_BrowserClick's 654321
     * when it asks to reopen on another interpreter). */
    int (*browse)(void* context, QoBrowser* browser);
} QoDebugCallbacks;

/* Installs a copy of the table; null removes it. Returns 1 when installed. */
QO_API int ruqo_SetDebugCallbacks(const QoDebugCallbacks* callbacks);

/* Browser rows. node: 0 "CQoLanguage", 1 "变量", 2 "数组", 3 "系统变量".
 * column: 0 name, 1 type, 2 value. Texts stay valid until the next call
 * on the same browser. */
QO_API const char* ruqo_BrowserTitle(QoBrowser* browser);
QO_API const char* ruqo_BrowserNodeName(int node);
QO_API int ruqo_BrowserRowCount(QoBrowser* browser, int node);
QO_API const char* ruqo_BrowserCell(QoBrowser* browser, int node, int row, int column);
/* A click on a cell: shows what it shows and returns 0, or returns 654321
 * when the browse callback must end with that code. */
QO_API int ruqo_BrowserClick(QoBrowser* browser, int node, int row, int column);

/* Key state for Alt+Pause (and the key built-ins): provider(virtual_key)
 * returns 0x8000 while the key is down. Null removes it. */
QO_API void ruqo_SetKeyStateProvider(int (*provider)(int virtual_key));

/* The settings file of the debugger window (QolDebug.ini): path, or NULL
 * for the default, $QO_DEBUG_SETTINGS or else QolDebug.ini in the library's
 * folder. It is read when the window opens and written when it closes. */
QO_API void ruqo_SetDebugSettingsFile(const char* path);

/* request 1 asks the run in progress to end: at its next step it stops
 * with the debugger's termination report ("QOL程序运行被调试器强制终止"),
 * timers closed, as if "终止" had been pressed. Safe to call from a signal
 * handler. Without a run in progress the request waits for the next run;
 * request 2 asks it to pause in the debugger at its next step, whatever
 * the debug switch and the filters say (the switch goes on), as Alt+Pause
 * does in pause-key mode; it does nothing without a debugger view.
 * request 0 withdraws a request that no run has taken yet. */
QO_API void ruqo_InterruptRun(int request);

#ifdef __cplusplus
}
#endif

#endif
