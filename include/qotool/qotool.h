// C entry points of libqoTool_NoQO.so. All texts are GBK byte strings.
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
// the buffer stays valid until the next ruqo_ExecQol/ruqo_ExecQolEx call.
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
// concerned, or 0.
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

// Message log (category bits: 1 error, 2 warning, 4 main result,
// 8 intermediate result). `reserved` carried a pointer on 32-bit hosts.
QO_API int ruqo_MessageLog(intptr_t reserved, int mode, const char* message,
                           const char* text1, const char* text2);

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
