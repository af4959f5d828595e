// Native library calls and memory blocks: the built-ins that load shared
// libraries, call their functions with typed arguments (the declaration
// marshalling, native_calls.cpp) and read and write raw memory through
// "%mem" pointers (memory_blocks.cpp).
//
// Values they make: a library is P with the extended type "%dll" (the
// handle), a function P with "%func:" and its declaration in which every
// '%' is stored as '$', a memory pointer P with "%mem".
#ifndef QOTOOL_BUILTINS_NATIVE_CALLS_H
#define QOTOOL_BUILTINS_NATIVE_CALLS_H

#include <cstdint>

#include "builtins/builtins.h"

namespace qotool::builtins {

// One value of a declaration code as it sits in memory or in an argument
// slot: b and 1 a byte, 2 two bytes, 4 four, f a float, g a double, p a
// pointer.
union NativeCell {
    int8_t i1;
    uint8_t b;
    int16_t i2;
    int32_t i4;
    float f;
    double g;
    uintptr_t p;
    void* pointer;
};

// CallDll and any word beginning with Dll:: (a call, after which no
// operator applies: Statement), LoadLibrary, LoadFunction, FreeLibrary.
Dispatched NativeCalls(CQoLanguage* qo, char*& cursor, const char* word);

// MemBuffer MemInt MemStr MemRead MemWrite (Statement when handled).
Dispatched MemoryBlocks(CQoLanguage* qo, char*& cursor, const char* word);

}  // namespace qotool::builtins

#endif
