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

#include "builtins/builtins.h"

namespace qotool::builtins {

// CallDll and any word beginning with Dll:: (a call, after which no
// operator applies: Statement), LoadLibrary, LoadFunction, FreeLibrary.
Dispatched NativeCalls(CQoLanguage* qo, char*& cursor, const char* word);

// MemBuffer MemInt MemStr MemRead MemWrite (Statement when handled).
Dispatched MemoryBlocks(CQoLanguage* qo, char*& cursor, const char* word);

}  // namespace qotool::builtins

#endif
