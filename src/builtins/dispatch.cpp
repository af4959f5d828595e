// The two-letter dispatch of the built-in functions: a switch on the key
// made of the word's first two bytes, then a short compare in the bucket.
#include <strings.h>

#include "engine/builtin_hook.h"
#include "qotool/qolanguage.h"

namespace qotool::engine {

namespace {

constexpr uint16_t Key(char a, char b) { return (uint16_t)((((unsigned char)a << 8) | (unsigned char)b) | 0x2020); }

inline bool Is(const char* word, const char* name) { return strcasecmp(word, name) == 0; }

}  // namespace

Dispatched DispatchBuiltin(CQoLanguage* qo, char*& cursor, const char* word) {
    switch (DispatchKey(word)) {
    case Key('f', 'o'):
        if (Is(word, "for")) return qo->StatementFor(cursor), Dispatched::Statement;
        break;
    case Key('i', 'f'):
        if (Is(word, "if")) return qo->StatementIf(cursor), Dispatched::Statement;
        break;
    case Key('s', 'w'):
        if (Is(word, "switch")) return qo->StatementSwitch(cursor), Dispatched::Statement;
        break;
    case Key('w', 'h'):
        if (Is(word, "while")) return qo->StatementWhile(cursor), Dispatched::Statement;
        break;
    default: break;
    }
    return Dispatched::None;
}

}  // namespace qotool::engine
