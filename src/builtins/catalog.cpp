#include "builtins/catalog.h"

#include <strings.h>

namespace qotool::builtins {

namespace {

constexpr int8_t N = kAnyCount;
constexpr uint8_t S = kStatement, B = kBlock, F = kFreeForm, O = kNamesOutput, R = kRunsText, L = kLazy;

const BuiltinEntry kCatalog[] = {
    // Numbers, conversions and dates
    {"abs", 1, 1, 0, 0, "(x)"},
    {"acos", 1, 1, 0, 0, "(x)"},
    {"asin", 1, 1, 0, 0, "(x)"},
    {"atan", 1, 1, 0, 0, "(x)"},
    {"atan2", 2, 2, 0, 0, "(y, x)"},
    {"cos", 1, 1, 0, 0, "(x)"},
    {"sin", 1, 1, 0, 0, "(x)"},
    {"tan", 1, 1, 0, 0, "(x)"},
    {"exp", 1, 1, 0, 0, "(x)"},
    {"log", 1, 1, 0, 0, "(x)"},
    {"log10", 1, 1, 0, 0, "(x)"},
    {"sqrt", 1, 1, 0, 0, "(x)"},
    {"int", 1, 1, 0, 0, "(x)"},
    {"sign", 1, 1, 0, 0, "(x)"},
    {"max", 1, N, 0, 0, "(x1, x2, ...)"},
    {"min", 1, N, 0, 0, "(x1, x2, ...)"},
    {"limit", 3, 3, L, 0, "(x, lo, hi)"},
    {"rand", 0, 0, 0, 0, "()"},
    {"clock", 0, 0, 0, 0, "()"},
    {"RGB", 0, 3, 0, 0, "(r, g, b)"},
    {"decimal", 2, 2, 0, 0, "(x, d)"},
    {"convert", 2, 3, 0, 0, "(x, t [, ext])"},
    {"str", 1, 2, 0, 0, "(x [, base])"},
    {"str0", 1, 1, 0, 0, "(x)"},
    {"val", 1, 2, 0, 0, "(s [, base])"},
    {"val0", 1, 1, 0, 0, "(x)"},
    {"val2", 1, 2, 0, 0, "(s [, radix])"},
    {"time", 0, 2, 0, 0, "([format [, date]])"},
    {"TimeVal", 0, 1, 0, 0, "([text])"},
    {"Type", 0, 1, 0, 0, "(x)"},
    {"range", 1, 1, B, 0, "(x){value: intervals; ...}"},
    {"is", 0, N, F, 0, "(C; A1; A2; ...)"},
    // Strings
    {"asc", 1, 1, 0, 0, "(s)"},
    {"asc2", 1, 1, 0, 0, "(s)"},
    {"chr", 1, 1, 0, 0, "(n)"},
    {"len", 1, 1, 0, 0, "(s)"},
    {"left", 2, 2, 0, 0, "(s, n)"},
    {"right", 2, 2, 0, 0, "(s, n)"},
    {"mid", 2, 3, 0, 0, "(s, start [, count])"},
    {"upper", 1, 1, 0, 0, "(s)"},
    {"lower", 1, 1, 0, 0, "(s)"},
    {"triml", 1, 1, 0, 0, "(s)"},
    {"trimr", 1, 1, 0, 0, "(s)"},
    {"find", 2, 3, 0, 0, "(s, sub [, start])"},
    {"findr", 2, 2, 0, 0, "(s, sub)"},
    {"findn", 2, 2, 0, 0, "(s, sub)"},
    {"findt", 2, 3, 0, 0, "(s, sub [, k])"},
    {"in", 2, N, L, 0, "(x, c1, c2, ...)"},
    {"in2", 2, N, L, 0, "(s, c1, c2, ...)"},
    {"IsDoubleByte", 2, 2, 0, 0, "(s, n)"},
    {"match", 2, 3, 0, 0, "(s, pattern [, index])"},
    {"MacroReplace", 1, 1, 0, 0, "(s)"},
    {"replace", 3, 3, 0, 0, "(s, old, new)"},
    {"replace2", 3, 3, 0, 0, "(s, old, new)"},
    {"stuff", 4, 4, 0, 0, "(s, start, count, ins)"},
    {"strcut", 0, 3, 0, 0, "(&src, classes, &cut)"},
    {"termform", 0, 4, 0, 0, "(terms [, form [, joiner [, separator]]])"},
    {"ruqo_SectionCut", 0, 4, 0, 0, "(text, n [, separator [, default]])"},
    {"ruqo_MatchCut", 0, 4, 0, 0, "(text, key, delimiter [, default])"},
    // Interpreter control and interaction
    {"BindTableBuffer", 1, 1, 0, 0, "(name)"},
    {"Check", 0, 3, 0, 0, "(item [, expected [, title]])"},
    {"docmd", 1, 2, R, 1, "(kind [, text])"},
    {"QolCreate", 1, 1, 0, 0, "(flags)"},
    {"QolRelease", 1, 1, 0, 0, "(handle)"},
    {"QolRun", 0, N, B | F, 0, "(handle; name = expression, ...){ block }"},
    {"QolHandle", 0, 1, 0, 0, "([n])"},
    {"EditData", 1, 2, 0, 0, "(variable [, prompt])"},
    {"ErrorCheck", 0, 1, B, 0, "([mode]){ block }"},
    {"get", 1, N, 0, 0, "(item, ...)"},
    {"MessageBox", 1, 3, 0, 0, "(text [, title [, style]])"},
    {"MessageLog", 0, 5, 0, 0, "([pointer], [level], [text1], [text2], [text3])"},
    {"PromptText", 0, 4, 0, 0, "(text [, timeout [, x [, y]]])"},
    {"report", 1, 1, 0, 0, "(item)"},
    {"set", 1, 1, 0, 0, "(option)"},
    // System, files and processes
    {"Beep", 0, 2, 0, 0, "(frequency, ms)"},
    {"Clipboard", 0, 1, 0, 0, "([text])"},
    {"DirAdd", 0, 1, 0, 0, "(path)"},
    {"DirDel", 0, 1, 0, 0, "(path)"},
    {"DirSet", 0, 1, 0, 0, "(path)"},
    {"DirGet", 0, 1, 0, 0, "()"},
    {"exec", 0, 2, 0, 0, "(command [, show])"},
    {"ExecWait", 0, 4, 0, 0, "(command [, directory [, flags [, show]]])"},
    {"ExecWaitProcess", 0, 3, 0, 0, "(pid [, flags [, timeout]])"},
    {"ExecWait2", 0, 3, 0, 0, "(pid [, flags [, timeout]])"},
    {"ExecWaitWindow", 0, 3, 0, 0, "(window [, flags [, timeout]])"},
    {"ExecKill", 0, 3, 0, 0, "(pid [, flags [, timeout]])"},
    {"FileRead", 0, 2, 0, 0, "(file [, max])"},
    {"FileWrite", 0, 2, 0, 0, "(file, text)"},
    {"FileDelete", 0, 1, 0, 0, "(file)"},
    {"FileRename", 0, 2, 0, 0, "(old, new)"},
    {"FileReadonly", 0, 2, 0, 0, "(file [, flag])"},
    {"FileAccess", 0, 1, 0, 0, "(file)"},
    {"PlaySound", 0, 1, 0, 0, "(file)"},
    {"RegRead", 0, 3, 0, 0, "(key, value [, root])"},
    {"SearchFileByPath", 0, 2, 0, 0, "(path, name)"},
    {"SpyKey", 0, 1, 0, 0, "(key)"},
    // Native library calls and memory blocks
    {"Dll::", 1, N, 0, 0, "(declaration, arguments...)"},
    {"CallDll", 3, N, 0, 0, "(library, function, declaration, arguments...)"},
    {"LoadLibrary", 0, 1, 0, 0, "(file)"},
    {"LoadFunction", 2, 3, 0, 0, "(library, name, declaration)"},
    {"FreeLibrary", 1, 1, 0, 0, "(library)"},
    {"MemBuffer", 2, 2, O, 0, "(variable, size)"},
    {"MemInt", 1, 2, 0, 0, "(pointer [, index])"},
    {"MemStr", 1, 2, 0, 0, "(pointer [, length])"},
    {"MemRead", 2, N, O, 2, "(pointer, codes, variable...)"},
    {"MemWrite", 2, N, 0, 0, "(pointer, codes, value...)"},
    // Timers
    {"timeropen", 5, 5, R, 4, "(number, mode, period, runs, statement)"},
    {"timerclose", 0, 1, 0, 0, "([number])"},
    // Statements reached through the dispatch
    {"if", 1, 1, S, 0, "(condition) statement [else statement]"},
    {"while", 1, 1, S, 0, "(condition) statement"},
    {"for", 0, N, S | F, 0, "(e1; e2; e3) statement"},
    {"switch", 1, 1, S, 0, "(expression) { case value: ... default: ... }"},
};

}  // namespace

const BuiltinEntry* BuiltinCatalog(int* count) {
    *count = (int)(sizeof kCatalog / sizeof kCatalog[0]);
    return kCatalog;
}

const BuiltinEntry* FindBuiltin(std::string_view word) {
    if (word.size() > 5 && strncasecmp(word.data(), "Dll::", 5) == 0) word = word.substr(0, 5);
    for (const BuiltinEntry& entry : kCatalog) {
        const size_t length = __builtin_strlen(entry.name);
        if (length == word.size() && strncasecmp(entry.name, word.data(), length) == 0) return &entry;
    }
    return nullptr;
}

}  // namespace qotool::builtins
