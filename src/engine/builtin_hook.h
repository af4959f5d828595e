// The seam between the executor and the built-in function library: the
// executor hands every word followed by '(' (already consumed) to the
// two-letter dispatch, which lives with the built-ins.
#ifndef QOTOOL_ENGINE_BUILTIN_HOOK_H
#define QOTOOL_ENGINE_BUILTIN_HOOK_H

#include <cstdint>

class CQoLanguage;

namespace qotool::engine {

// The dispatch key of two leading bytes: the first in the high byte, with
// 0x2020 OR-ed in (ASCII letters compare as lower case).
constexpr uint16_t Key(char a, char b) { return (uint16_t)((((unsigned char)a << 8) | (unsigned char)b) | 0x2020); }

// The dispatch key of a word.
inline uint16_t DispatchKey(const char* word) { return word[0] ? Key(word[0], word[1]) : (uint16_t)0x2020; }

enum class Dispatched { None, Value, Statement };

// Runs the built-in named word (cursor just after its '('). None when no
// built-in has that name (the handled mark stays set); Statement for the
// statements written like calls (if, while, for, switch), after which no
// operator follows.
Dispatched DispatchBuiltin(CQoLanguage* qo, char*& cursor, const char* word);

// The native-call marshalling, for calls through variables that hold a
// function value and member calls on a library value (cursor just after
// the '('; the call consumes the ')'). function: the address to call, with
// its declaration in text (an empty text: the first argument is the
// declaration); or 0 to look name up in the library module, which when 0
// as well is the library file text.
void CallNative(CQoLanguage* qo, char*& cursor, uintptr_t function, uintptr_t module, const char* text,
                const char* name);

}  // namespace qotool::engine

#endif
