// C entry points of libqoTool_NoQO.so. All texts are GBK byte strings.
//
// Threads: separate interpreters may run on separate threads at once; one
// interpreter is used by one thread at a time (the shared and the numbered
// interpreters included: hosts that call ruqo_ExecQol from several threads
// serialise those calls). The process-wide tables (interpreter registry,
// system_ variables, user executors, extension modules, the message log)
// are locked. A result text returned by these functions stays valid until
// the same thread's next call. Out of memory inside a run gives the error
// result "X:内存资源不足"; no exception leaves these functions.
#ifndef QOTOOL_QOTOOL_H
#define QOTOOL_QOTOOL_H

#include <stdint.h>

#include "qotool/qo_api.h"

#ifdef __cplusplus
class CQoLanguage;
#else
typedef struct CQoLanguage CQoLanguage;
#endif

#ifdef __cplusplus
extern "C" {
#endif

// Runs text on the shared interpreter, or on numbered interpreter n when the
// text starts with "[n]". Returns "T:value" (T the value's type letter);
// the buffer stays valid until the thread's next ruqo_ExecQol/ruqo_ExecQolEx call.
QO_API const char* ruqo_ExecQol(const char* text);
// On x86-64 there is one calling convention; pf_ExecQol is the same entry.
QO_API const char* pf_ExecQol(const char* text);
// Runs a null-terminated list of texts on the shared interpreter; the items
// "{" and "}" open and close a variable scope around the items between them.
QO_API const char* ruqo_ExecQolEx(const char* text, ...);

// qotool addition for runners: runs `source` (length bytes, or up to its
// terminating zero when length < 0) as the QOL file `path` on the shared
// interpreter, exactly as Do("qolfile", path) runs a file it has read
// (header "〖path〗\r\n", file level guard). With a null source the file is
// read from path. Returns the result text as ruqo_ExecQol does.
QO_API const char* ruqo_ExecQolFile(const char* path, const char* source, int length);

// The shared interpreter of the library (null while the library starts).
QO_API CQoLanguage* ruqo_GetSharedQol(void);

// User executors. The function has the type
//   char executor(char** cursor, const char* word, CQoLanguage* interpreter)
// and is passed as an intptr_t (it was an int on 32-bit hosts). op '+' adds
// or replaces, '-' removes, anything else looks up. Returns the function
// concerned, or 0. A null function is never stored (op '+' with 0 returns 0).
typedef char (*QoUserExecutor)(char** cursor, const char* word, CQoLanguage* interpreter);
QO_API intptr_t ruqo_UserQolExecutor(const char* name, char op, intptr_t function);

// Scanning helpers.
QO_API char* SkipString(char* afterQuote, char quote);
QO_API char* ruqo_SkipSentence(char* text, char stopAtEnd);

// Waits for a process, or the process of a window, while the calling
// thread's messages are serviced; called as
//   ruqo_ExecWithMsg(mode, unsigned id, unsigned flags, int timeoutMs).
// mode (letter case aside): "ExecKill" asks the process to close on every
// round and, with flag 0x08, ends it when it outlives the wait;
// "ExecWaitWindow" takes id as a window (0: the foreground window); any
// other text waits for the process id (0: this process). Flags: 0x01 wait,
// 0x02 first wait for input idle, 0x04 dispatch every message, 0x08 see
// above. timeoutMs <= 0: no limit. Returns the process id while it still
// runs (window mode: the window when the wait timed out), else 0;
// 0xFFFFFFFF when the process or window cannot be found.
QO_API unsigned ruqo_ExecWithMsg(const char* mode, ...);

// The message log. mode is a word of category bits whose lowest set bit is
// the message's category (0 counts as bit 31): 1 error "错误", 2 warning
// "警告", 4 main result, 8 intermediate result, 16 route, 32 statement,
// 256 application hint, 512 result error, 16384 a category named by title.
// Mode 64 opens the log file for reading instead. The message text is the
// title (not for 16384) followed by text1 and text2, each joined directly
// when a ";" meets the seam (the ";" dropped), else on a new line; any of
// the three may be null. Depending on the platform's category mask the
// message goes to a message box (with the diagnosis dialog behind its No
// button), to the log file "RuQoLog_NoQo_<APPLICATION>.Txt" in the work
// directory (GBK, CRLF), or both. Returns the category's bit; the mode
// itself when there was nothing to do; 0 for an unsupported mode (reported
// as a warning) or when the log file cannot be opened. Never throws; may
// be called from any thread (boxes then show on that thread).
// `reserved` is not used (it carried a pointer on 32-bit hosts).
QO_API int ruqo_MessageLog(intptr_t reserved, int mode, const char* message,
                           const char* text1, const char* text2);

// qotool additions: the calling thread's message queue. Timers that QOL
// scripts open with timeropen modes 0 and 1 run their statements only while
// the thread that opened them pumps its queue (as a message loop would).
// ruqo_PumpMessages runs what is due and keeps pumping, sleeping while
// nothing is due, until timeout_ms milliseconds have passed (0: only what
// is due now; below 0: until at least one message ran); it returns how many
// messages ran. ruqo_GetMessageFd gives the queue's file descriptor, which
// is readable while something is due, for a host's own poll/epoll loop
// (call ruqo_PumpMessages(0) when it becomes readable); -1 when the queue
// cannot be made. Both act on the calling thread's queue only.
QO_API int ruqo_PumpMessages(int timeout_ms);
QO_API int ruqo_GetMessageFd(void);

// qotool addition: points the message log at another work directory (GBK;
// "/" added when missing) and does again in it what the log did so far in
// this process (the existing-file check, the rotation, the header and the
// first 1000 calls' records; no box is shown again). Runners call it first
// thing, since the library logs while it loads, before main runs. Null or
// empty: no change.
QO_API void ruqo_SetLogDirectory(const char* directory);

#ifdef __cplusplus
}
#endif

#ifdef __cplusplus
#include "qotool/cstring.h"
// Reads the string literal at cursor (adjacent literals joined, escapes
// decoded); returns the bytes consumed or -1.
QO_API int ruqo_GetStringData(char*& cursor, CString& text);
// Quotes text as a QOL literal that ruqo_GetStringData reads back unchanged.
QO_API CString ruqo_MakeQolString(CString text, char quote);
#endif

#endif
