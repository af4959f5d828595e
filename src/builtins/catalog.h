// The catalog of the built-in words: every name the dispatch (dispatch.cpp)
// takes, with the number of arguments its handler reads and the argument
// list as the reference (docs/builtins.md) writes it. Tools that look at QOL
// text without running it (the static analysis, the language server) read
// the built-ins from here. Tests hold the catalog, the dispatch and the
// reference to the same names, and the counts to what the handlers accept
// (handlers that read through ReadPara format strings take fewer arguments
// than their list shows: the missing ones read as empty).
#ifndef QOTOOL_BUILTINS_CATALOG_H
#define QOTOOL_BUILTINS_CATALOG_H

#include <cstdint>
#include <string_view>

namespace qotool::builtins {

enum BuiltinFlags : uint8_t {
    kStatement = 0x01,    // if, while, for, switch: a statement written as a call
    kBlock = 0x02,        // a "{ ... }" body follows the ')' (range, QolRun, ErrorCheck)
    kFreeForm = 0x04,     // the arguments are not a plain ','-list (';' parts, bodies)
    kNamesOutput = 0x08,  // the arguments from outputFrom on name variables it sets
    kRunsText = 0x10,     // the argument at outputFrom is QOL text that runs in this interpreter
    kLazy = 0x20,         // the arguments after the first may never be evaluated
};

struct BuiltinEntry {
    const char* name;       // as the reference spells it; matched without regard to case
    int8_t minArguments;
    int8_t maxArguments;    // kAnyCount: no limit
    uint8_t flags;
    int8_t outputFrom;      // kNamesOutput: the first variable argument; kRunsText: the text
    const char* arguments;  // "(s, n [, count])"
};

constexpr int8_t kAnyCount = -1;

// Every entry, in the reference's order; count receives their number.
const BuiltinEntry* BuiltinCatalog(int* count);

// The entry of a word (any letter case), or null. Words that begin with
// "Dll::" answer the entry of the native call prefix.
const BuiltinEntry* FindBuiltin(std::string_view word);

}  // namespace qotool::builtins

#endif
