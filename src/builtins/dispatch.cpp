// The two-letter dispatch of the built-in functions: a switch on the key
// made of the word's first two bytes, then a short compare in the bucket.
// Every bucket is listed with its names in the order they are tried; the
// groups not built yet are named in the comments, and until they come their
// words fall through like any word the built-ins do not know: to the user
// functions and extension modules.
#include <strings.h>

#include "builtins/args.h"
#include "builtins/builtins.h"
#include "builtins/control.h"
#include "builtins/interaction.h"
#include "builtins/strings.h"
#include "builtins/system.h"
#include "engine/builtin_hook.h"
#include "qotool/qolanguage.h"

namespace qotool::engine {

namespace {

using Handler = void (*)(CQoLanguage*, char*&, const char*);

using builtins::Is;

// Runs handler when the word is name (any case).
inline Dispatched Named(CQoLanguage* qo, char*& cursor, const char* word, const char* name, Handler handler) {
    if (!Is(word, name)) return Dispatched::None;
    handler(qo, cursor, word);
    return Dispatched::Value;
}

}  // namespace

Dispatched DispatchBuiltin(CQoLanguage* qo, char*& cursor, const char* word) {
    using namespace qotool::builtins;
    Dispatched done = Dispatched::None;
    switch (DispatchKey(word)) {
    case Key('a', 'b'):  // abs
        done = Numeric(qo, cursor, word);
        break;
    case Key('a', 'c'):  // acos
        done = Numeric(qo, cursor, word);
        break;
    case Key('a', 's'):  // asin; asc2, asc: string functions
        done = Numeric(qo, cursor, word);
        if (done == Dispatched::None) done = Strings(qo, cursor, word);
        break;
    case Key('a', 't'):  // atan, atan2
        done = Numeric(qo, cursor, word);
        break;
    case Key('b', 'e'):  // Beep: system functions
        done = System(qo, cursor, word);
        break;
    case Key('b', 'i'):  // BindTableBuffer: interpreter control
        done = Named(qo, cursor, word, "BindTableBuffer", BindTableBuffer);
        break;
    case Key('c', 'a'):  // CallDll: native calls (the handler of Dll::)
        break;
    case Key('c', 'h'):  // chr: string functions; Check: interpreter control
        done = Strings(qo, cursor, word);
        if (done == Dispatched::None) done = Named(qo, cursor, word, "Check", Check);
        break;
    case Key('c', 'l'):  // clock; Clipboard: system functions
        done = Numeric(qo, cursor, word);
        if (done == Dispatched::None) done = System(qo, cursor, word);
        break;
    case Key('c', 'o'):  // cos, convert
        done = Numeric(qo, cursor, word);
        break;
    case Key('d', 'e'):  // decimal
        done = Numeric(qo, cursor, word);
        break;
    case Key('d', 'i'):  // DirAdd, DirDel, DirSet, DirGet (prefix Dir): system functions
        done = System(qo, cursor, word);
        break;
    case Key('d', 'l'):  // any word beginning with Dll:: : native calls
        break;
    case Key('d', 'o'):  // docmd: interpreter control
        done = Named(qo, cursor, word, "docmd", DoCmd);
        break;
    case Key('e', 'd'):  // EditData: interpreter control
        done = Named(qo, cursor, word, "EditData", EditData);
        break;
    case Key('e', 'r'):  // ErrorCheck: interpreter control
        done = Named(qo, cursor, word, "ErrorCheck", ErrorCheck);
        break;
    case Key('e', 'x'):  // exp; exec, ExecWait, ExecWaitProcess, ExecWaitWindow, ExecKill, ExecWait2: system functions
        done = Numeric(qo, cursor, word);
        if (done == Dispatched::None) done = System(qo, cursor, word);
        break;
    case Key('f', 'i'):  // File... (prefix File): system functions; find, findr, findn, findt: string functions
        done = System(qo, cursor, word);
        if (done == Dispatched::None) done = Strings(qo, cursor, word);
        break;
    case Key('f', 'o'):  // for
        if (Is(word, "for")) return qo->StatementFor(cursor), Dispatched::Statement;
        break;
    case Key('f', 'r'):  // FreeLibrary: native calls
        break;
    case Key('g', 'e'):  // get: interpreter control
        done = Named(qo, cursor, word, "get", Get);
        break;
    case Key('i', 'f'):  // if
        if (Is(word, "if")) return qo->StatementIf(cursor), Dispatched::Statement;
        break;
    case Key('i', 'n'):  // in, in2: string functions; int
        done = Strings(qo, cursor, word);
        if (done == Dispatched::None) done = Numeric(qo, cursor, word);
        break;
    case Key('i', 's'):  // IsDoubleByte: string functions; is
        done = Strings(qo, cursor, word);
        if (done == Dispatched::None) done = Numeric(qo, cursor, word);
        break;
    case Key('l', 'e'):  // left, len: string functions
        done = Strings(qo, cursor, word);
        break;
    case Key('l', 'i'):  // limit
        done = Numeric(qo, cursor, word);
        break;
    case Key('l', 'o'):  // LoadLibrary, LoadFunction: native calls; log, log10; lower: string functions
        done = Numeric(qo, cursor, word);
        if (done == Dispatched::None) done = Strings(qo, cursor, word);
        break;
    case Key('m', 'a'):  // MacroReplace, match: string functions; max
        done = Strings(qo, cursor, word);
        if (done == Dispatched::None) done = Numeric(qo, cursor, word);
        break;
    case Key('m', 'e'):  // MessageBox, MessageLog: interpreter control; Mem... (prefix Mem): native calls
        done = Named(qo, cursor, word, "MessageBox", MessageBox);
        if (done == Dispatched::None) done = Named(qo, cursor, word, "MessageLog", MessageLog);
        break;
    case Key('m', 'i'):  // mid: string functions; min
        done = Strings(qo, cursor, word);
        if (done == Dispatched::None) done = Numeric(qo, cursor, word);
        break;
    case Key('p', 'l'):  // PlaySound: system functions
        done = System(qo, cursor, word);
        break;
    case Key('p', 'r'):  // PromptText: interpreter control
        done = Named(qo, cursor, word, "PromptText", PromptText);
        break;
    case Key('q', 'o'):  // QolCreate, QolRelease, QolRun, QolHandle (prefix qol): interpreter control
        if ((word[2] | 0x20) != 'l') break;
        done = Named(qo, cursor, word, "QolCreate", QolCreate);
        if (done == Dispatched::None) done = Named(qo, cursor, word, "QolRelease", QolRelease);
        if (done == Dispatched::None) done = Named(qo, cursor, word, "QolRun", QolRun);
        if (done == Dispatched::None) done = Named(qo, cursor, word, "QolHandle", QolHandle);
        break;
    case Key('r', 'a'):  // rand, range
        done = Numeric(qo, cursor, word);
        break;
    case Key('r', 'e'):  // RegRead: system functions; replace, replace2: string functions; report: interpreter control
        done = System(qo, cursor, word);
        if (done == Dispatched::None) done = Strings(qo, cursor, word);
        if (done == Dispatched::None) done = Named(qo, cursor, word, "report", Report);
        break;
    case Key('r', 'g'):  // RGB
        done = Numeric(qo, cursor, word);
        break;
    case Key('r', 'i'):  // right: string functions
        done = Strings(qo, cursor, word);
        break;
    case Key('r', 'u'):  // ruqo_SectionCut, ruqo_MatchCut (prefix ruqo_): string functions
        done = Strings(qo, cursor, word);
        break;
    case Key('s', 'e'):  // set: interpreter control; SearchFileByPath: system functions
        done = Named(qo, cursor, word, "set", Set);
        if (done == Dispatched::None) done = System(qo, cursor, word);
        break;
    case Key('s', 'i'):  // sign, sin
        done = Numeric(qo, cursor, word);
        break;
    case Key('s', 'p'):  // SpyKey: system functions
        done = System(qo, cursor, word);
        break;
    case Key('s', 'q'):  // sqrt
        done = Numeric(qo, cursor, word);
        break;
    case Key('s', 't'):  // str, str0; strcut, stuff: string functions
        done = Numeric(qo, cursor, word);
        if (done == Dispatched::None) done = Strings(qo, cursor, word);
        break;
    case Key('s', 'w'):  // switch
        if (Is(word, "switch")) return qo->StatementSwitch(cursor), Dispatched::Statement;
        break;
    case Key('t', 'a'):  // tan
        done = Numeric(qo, cursor, word);
        break;
    case Key('t', 'e'):  // termform: string functions
        done = Strings(qo, cursor, word);
        break;
    case Key('t', 'i'):  // time; timeropen, timerclose: timers; TimeVal
        done = Dates(qo, cursor, word);
        break;
    case Key('t', 'r'):  // triml, trimr: string functions
        done = Strings(qo, cursor, word);
        break;
    case Key('t', 'y'):  // Type
        done = Numeric(qo, cursor, word);
        break;
    case Key('u', 'p'):  // upper: string functions
        done = Strings(qo, cursor, word);
        break;
    case Key('v', 'a'):  // val, val0, val2
        done = Numeric(qo, cursor, word);
        break;
    case Key('w', 'h'):  // while
        if (Is(word, "while")) return qo->StatementWhile(cursor), Dispatched::Statement;
        break;
    default: break;
    }
    // A handler that missed a ',' left the marker 'f'.
    if (done == Dispatched::Value && qo->m_cType == 'f') qo->ReportError("函数缺参数", cursor);
    return done;
}

}  // namespace qotool::engine
