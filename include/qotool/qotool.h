// C entry points of libqoTool_NoQO.so.
//
// Usable from C and C++. Everything above the "C++ only" section at the end
// is plain C (C99): a C host includes this header and links with
// libqoTool_NoQO.so (pkg-config qotool, or find_package(qotool) and the
// target qotool::qotool).
//
// Texts: every text passed in or handed back is a GBK byte string (code page
// 936); a byte of 0x80 or above starts a two-byte character. Where a length
// is passed or returned, the text may hold zero bytes.
//
// Two layers:
//  - the entry points of the system (ruqo_ExecQol and friends), which answer
//    with one result text "T:value";
//  - the handle API (QoInterp, ruqo_CreateInterp ... ruqo_CheckSyntax) and the
//    extension-module helpers (ruqo_ReadPara, ruqo_SetValue...), which answer
//    with the QO_* result codes below and keep values, lengths and error
//    positions apart.
//
// Errors of the handle API: every function that takes a QoInterp* or a
// CQoLanguage* checks it first; NULL, a freed handle or an address that is
// no handle gives QO_MISUSE (or the documented "absent" value) and never
// touches memory through it. No function of this header throws.
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

#include <stddef.h>
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

// Waits for a process, or the process of a window, taking the calling
// thread's messages off its queue as they arrive; called as
//   ruqo_ExecWithMsg(mode, unsigned id, unsigned flags, int timeoutMs).
// mode (letter case aside): "ExecKill" asks the process to close on every
// round and, with flag 0x08, ends it when it outlives the wait;
// "ExecWaitWindow" takes id as a window (0: the foreground window); any
// other text waits for the process id (0: this process). Flags: 0x01 wait,
// 0x02 first wait for input idle, 0x04 dispatch every message (without it
// the messages taken are dropped, timers included; dispatching nests at
// most 16 deep on a thread, deeper waits drop them too), 0x08 see above. timeoutMs <= 0: no limit. Returns the process id while it still
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

// ---- Library version ----

// The version this header belongs to; ruqo_LibVersion() gives the version of
// the library actually loaded. The number is major*1000000 + minor*1000 +
// patch.
#define QO_VERSION "0.1.0"
#define QO_VERSION_NUMBER 1000
// Text of the loaded library's version ("0.1.0"); static, never freed.
QO_API const char* ruqo_LibVersion(void);
QO_API int ruqo_LibVersionNumber(void);

// ---- Result codes of the handle API ----

#define QO_OK 0        // done; a run's value is not an error
#define QO_ERROR 1     // a run ended with an error value (type 'X')
#define QO_MISUSE 2    // NULL or unknown handle, or a bad argument
#define QO_NOTFOUND 3  // no such variable, or no position for the error
#define QO_NOMEM 4     // out of memory

// ---- Interpreter handles ----

// An interpreter. Opaque: create it with ruqo_CreateInterp, free it with
// ruqo_FreeInterp. Each handle remembers the source text of its last run, its
// result and its last error.
typedef struct QoInterp QoInterp;

// A new interpreter with its own variables, or NULL when out of memory.
QO_API QoInterp* ruqo_CreateInterp(void);
// The shared interpreter of the library (the one ruqo_ExecQol runs on) as a
// handle; the library owns it: ruqo_FreeInterp refuses it. NULL while the
// library starts.
QO_API QoInterp* ruqo_SharedInterp(void);
// Destroys an interpreter made by ruqo_CreateInterp; every text it handed
// back becomes invalid. QO_MISUSE for NULL, an unknown or freed handle, the
// shared handle, or an interpreter that is running.
QO_API int ruqo_FreeInterp(QoInterp* interp);

// Runs text (length bytes, or up to its zero byte when length < 0; a run
// stops at the first zero byte either way). With fileName, the text runs as
// the QOL file of that name (error excerpts name it, as when a script runs a
// file); with NULL, as ruqo_ExecQol runs a text. Returns QO_OK, QO_ERROR when
// the value is an error, QO_MISUSE, QO_NOMEM. May be called from an
// extension module while the interpreter runs (a nested run).
QO_API int ruqo_Eval(QoInterp* interp, const char* text, long length, const char* fileName);

// The value of the last run: its type letter ('N' number, 'S' string, 'P'
// pointer, 'Z' none, 'X' error), its text (the number's "%.15g" text, the
// string, the pointer's text with its extended type, the error message) and
// the text's length in bytes (zero bytes kept; a zero byte also ends it).
// Any out-pointer may be NULL. The text belongs to the handle and stays
// valid until the next ruqo_Eval or ruqo_FreeInterp on it.
QO_API int ruqo_GetResult(QoInterp* interp, char* type, const char** text, size_t* length);

// Reads variable name ("count", "a[2]", "t[1][3]", "system_x") as the
// interpreter's own expressions would see it at its outermost scope. The
// text belongs to the handle and stays valid until the next ruqo_GetVar or
// ruqo_FreeInterp on it. QO_NOTFOUND when there is no such variable.
QO_API int ruqo_GetVar(QoInterp* interp, const char* name, char* type, const char** text, size_t* length);
// Assigns a value to variable name (created when missing; arrays grow).
// type 'S' stores text (length bytes, or up to its zero byte when length <
// 0), 'N' the number the text reads as (C atof), 'Z' an empty value. The
// interpreter's value (ruqo_GetResult) is left as it was. QO_ERROR with the
// system's message (ruqo_ErrorMessage) when the store refuses the name.
QO_API int ruqo_SetVar(QoInterp* interp, const char* name, char type, const char* text, long length);

// The message of the handle's last error, exactly as the system defines it
// (the message, the position text and the source excerpt), or "" when its
// last run did not fail. For NULL or an unknown handle: a static message
// that says so. Valid until the next call that runs on the handle.
QO_API const char* ruqo_ErrorMessage(QoInterp* interp);
// Line and column (1-based; a column counts characters, a two-byte character
// is one) of the last error in the text of the last ruqo_Eval or
// ruqo_CheckSyntax; lines end at '\n'. QO_NOTFOUND when the error has no
// place in that text (no error, or one raised in a text the run made).
QO_API int ruqo_ErrorPosition(QoInterp* interp, int* line, int* column);

// One finding of ruqo_CheckSyntax: 1-based line and column in the checked
// text, and the message (GBK; valid during the call only).
typedef void (*QoCheckReport)(void* context, int line, int column, const char* message);
// The interpreter's syntax check (what ErrorCheck does) over text: nothing
// runs for real and no variable changes. Reports the first syntax error and
// every undefined variable or function name (each once, where its first
// statement uses it) through report (which may be NULL). Returns QO_OK when
// there is no finding, QO_ERROR when there is any.
QO_API int ruqo_CheckSyntax(QoInterp* interp, const char* text, long length, QoCheckReport report,
                            void* context);

// The interpreter object behind a handle, for hosts that also use the C++
// class; NULL for an unknown handle. Owned by the handle.
QO_API CQoLanguage* ruqo_InterpObject(QoInterp* interp);

// ---- Values ----

// A value passed between the host and the interpreter. type: 'N' a number,
// 'S' a text, 'P' a pointer, 'Z' no value ('X' only in the result of
// ruqo_Call: an error whose message is the text). text and length: the
// text's GBK bytes (zero bytes allowed; length counts them all), for 'S' and
// 'X'. pointer and extType: a pointer value and its extended type ("%Name",
// or NULL for none), for 'P'. Fields a type does not use are 0 / NULL.
typedef struct QoValue {
    char type;
    double number;
    const char* text;
    long length;
    uintptr_t pointer;
    const char* extType;
} QoValue;

// Values made without allocation games. ruqo_ValueText copies the text
// (length bytes, or up to its zero byte when length < 0) into the calling
// thread's value store: made inside a host function it stays valid until
// that function has returned; made outside one, until the thread's next
// ruqo_Call or ruqo_SetArray has returned. ruqo_ValueObject keeps the
// pointer and extType as given (extType must stay valid as the text does;
// the library copies it when the value is used).
QO_API QoValue ruqo_ValueNone(void);
QO_API QoValue ruqo_ValueNumber(double number);
QO_API QoValue ruqo_ValueText(const char* text, long length);
QO_API QoValue ruqo_ValueObject(uintptr_t pointer, const char* extType);

// ---- Host functions ----

// A function of the host, called by QOL text as name(arguments). argv holds
// the argc argument values (read-only; texts valid during the call), result
// starts as 'Z' and receives the value. Return QO_OK, or QO_ERROR after
// ruqo_Error (or a failed ruqo_Check*): the script then meets that message
// as its error, catchable by try/catch. Any other return is an error too.
typedef int (*QoHostFunction)(QoInterp* interp, int argc, const QoValue* argv, QoValue* result, void* userData);

// Adds name as a function of this interpreter. Names: 1 to 80 bytes of
// letters, digits, '_' and two-byte characters, not starting with a digit;
// letter case does not matter, as for the built-ins. A second registration
// of the same name replaces the first (whose release runs); a NULL function
// removes the name (its release runs). release (may be NULL) also runs for
// every function still registered when the interpreter is freed. Lookup
// order of a call name(...): the built-ins, a variable holding a native
// function, the script's own functions, then these, then the process-wide
// user executors. QO_MISUSE (nothing stored, release not run) for a bad
// handle or name, or while a host function of this interpreter is running;
// QO_NOTFOUND when removing a name that is not registered.
QO_API int ruqo_RegisterFunction(QoInterp* interp, const char* name, QoHostFunction function, void* userData,
                                 void (*release)(void* userData));

// Inside a host function: sets the message the script will meet (printf
// format; GBK) and returns QO_ERROR, so that `return ruqo_Error(...)` ends
// the function with it. Outside a host function of interp: QO_MISUSE.
QO_API int ruqo_Error(QoInterp* interp, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;

// Argument checkers for host functions: argument index (0-based) of argv
// must have the type asked for; then its contents go to the out-pointers
// (which may be NULL) and the answer is QO_OK. Otherwise (a missing
// argument counts as 'Z') they set the system's expected-type error,
//   "参数类型不应该是Z型，而应该是N型：\r\n" "lookup()第2个参数：key)"
// naming the function, the argument's position and, for a call written in
// QOL, the argument's text, and answer QO_ERROR: return it.
// ruqo_CheckPointer with a non-NULL extType also wants that extended type.
QO_API int ruqo_CheckNumber(QoInterp* interp, int argc, const QoValue* argv, int index, double* number);
QO_API int ruqo_CheckInteger(QoInterp* interp, int argc, const QoValue* argv, int index, long long* number);
QO_API int ruqo_CheckText(QoInterp* interp, int argc, const QoValue* argv, int index, const char** text,
                          size_t* length);
QO_API int ruqo_CheckPointer(QoInterp* interp, int argc, const QoValue* argv, int index, const char* extType,
                             uintptr_t* pointer);

// Calls the function a script defined earlier on this interpreter (#name(...)
// {...}) with argc values, as a call written in QOL passes them (missing
// arguments take the defaults, surplus ones are passed over). result (may be
// NULL) receives the value; its text stays valid until the next run on the
// handle. QO_OK, QO_ERROR (result 'X' with the message; ruqo_ErrorMessage and
// ruqo_ErrorInfo tell more), QO_NOTFOUND when no such function is defined,
// QO_MISUSE for a bad handle, name or value.
QO_API int ruqo_Call(QoInterp* interp, const char* function, int argc, const QoValue* argv, QoValue* result);

// Arrays of one or two subscripts. ruqo_GetArray gives the rows and columns
// (a one-subscript array has 1 column) and, when cells is not NULL, the
// first `capacity` cells row after row (cell [r][c] at r * columns + c; a
// cell never assigned is 'Z'); the texts stay valid until the next
// ruqo_GetArray or run on the handle. QO_NOTFOUND when there is no array of
// that name. ruqo_SetArray makes the array name anew at the outermost scope
// from rows x columns cells (columns 0: a one-subscript array of rows cells)
// of types 'N', 'S', 'P' or 'Z'; QO_MISUSE (nothing changed) for a bad size
// or cell, QO_ERROR with the message when the store refuses.
QO_API int ruqo_GetArray(QoInterp* interp, const char* name, int* rows, int* columns, QoValue* cells,
                         size_t capacity);
QO_API int ruqo_SetArray(QoInterp* interp, const char* name, int rows, int columns, const QoValue* cells);

// ---- Errors in parts ----

// The handle's last error: the bare message (without the position text and
// excerpt ruqo_ErrorMessage adds), the 1-based line and column in the text
// of the last ruqo_Eval as written (0 when the error has no place there),
// the file name given to ruqo_Eval (NULL when none), and the source line of
// the error (without its line end; "" when no place). Texts belong to the
// handle until its next run. QO_NOTFOUND when the last run did not fail.
typedef struct QoErrorInfo {
    const char* message;
    int line;
    int column;
    const char* fileName;
    const char* sourceLine;
} QoErrorInfo;
QO_API int ruqo_ErrorInfo(QoInterp* interp, QoErrorInfo* info);

// ---- Helpers for extension modules written in C ----
//
// A user executor (ruqo_UserQolExecutor) receives the cursor just after the
// '(' of a call and the interpreter; it reads its arguments with
// ruqo_ReadPara, leaves its result with one of ruqo_SetValue..., and returns
// 1 when it handled the word, 0 otherwise. Member calls obj.Member(...) on a
// value of extended type "%Name" arrive as the word "ruqo_Name_.Member" with
// the object as the interpreter's value (ruqo_ValueType, ruqo_ValuePointer).

// A text argument read by ruqo_ReadPara (codes s, S, v, r without a
// length): data points to length bytes (zero bytes kept) followed by a zero
// byte. The bytes belong to the library and stay valid until the next
// ruqo_ReadPara on the same thread that starts a new argument list (an
// upper-case resultType); they are read-only.
typedef struct QoText {
    const char* data;
    size_t length;
} QoText;

// Reads the call's arguments against format, as CQoLanguage::ReadPara does:
// entries "%c" (required) or "?c" (optional) with the codes
//   s S v r   text (v: any value as its text; r: "T:text");
//             destination QoText*. With a length n ("%s80"): a char** cell
//             that points to a buffer of n bytes (n-1 bytes and a zero).
//   b 1       uint8_t* / int8_t*      2  int16_t*      4  int32_t*
//   f         float*                  g  double*
//   p         uintptr_t*
// one destination per entry, at most 16, the list ended by NULL. An omitted
// argument leaves its destination as it was. resultType: the value's type
// letter afterwards; ')' leaves the closing bracket for the caller; a lower
// case letter or '(' keeps the by-reference records of the earlier reads of
// the same call (see the C++ ReadPara). Returns QO_OK, or QO_ERROR when an
// argument has the wrong type (the interpreter's value is then the error; the
// executor should return 1 and leave it), QO_MISUSE for a bad interpreter,
// cursor or format.
QO_API int ruqo_ReadPara(CQoLanguage* interpreter, char resultType, char** cursor, const char* format, ...);

// The interpreter's value: type letter (0 for an unknown interpreter), the
// pointer of a 'P' value (0 otherwise) and its extended type ("" when none;
// valid until the value changes).
QO_API char ruqo_ValueType(CQoLanguage* interpreter);
QO_API uintptr_t ruqo_ValuePointer(CQoLanguage* interpreter);
QO_API const char* ruqo_ValueExtType(CQoLanguage* interpreter);
// Set the interpreter's value: a number; a text (length bytes, or up to its
// zero byte when length < 0); a pointer with an extended type ("%Name", or
// NULL for none); an error with its message (an executor that returns 1
// with an error value makes the call fail with that message).
QO_API int ruqo_SetValueNumber(CQoLanguage* interpreter, double number);
QO_API int ruqo_SetValueText(CQoLanguage* interpreter, const char* text, long length);
QO_API int ruqo_SetValuePointer(CQoLanguage* interpreter, uintptr_t pointer, const char* extType);
QO_API int ruqo_SetValueError(CQoLanguage* interpreter, const char* message);

#ifdef __cplusplus
}
#endif

// ---- C++17 only ----
// (Hosts built as C++11 or C++14 see the C declarations above only.)
#if defined(__cplusplus) && __cplusplus >= 201703L
#include "qotool/cstring.h"
// Reads the string literal at cursor (adjacent literals joined, escapes
// decoded); returns the bytes consumed or -1.
QO_API int ruqo_GetStringData(char*& cursor, CString& text);
// Quotes text as a QOL literal that ruqo_GetStringData reads back unchanged.
QO_API CString ruqo_MakeQolString(CString text, char quote);
#endif

#endif
