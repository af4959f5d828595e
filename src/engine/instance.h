// The registry of live interpreters and the library's own interpreters.
#ifndef QOTOOL_ENGINE_INSTANCE_H
#define QOTOOL_ENGINE_INSTANCE_H

#include <cstdint>

#include "qotool/qolanguage.h"

namespace qotool::engine {

bool IsLiveInterpreter(const CQoLanguage* qo);
// The serial number an interpreter got when it was built (never reused), or
// 0 when qo is not a live interpreter: an address that outlived its object
// and was reused by a new one has a new serial. Safe from any thread.
uint64_t InterpreterSerial(const CQoLanguage* qo);
// The shared interpreter: created at library attach, destroyed at detach.
CQoLanguage* SharedInterpreter();
void CreateSharedInterpreter();
void DestroySharedInterpreter();
// Numbered interpreter 0..9 of the "[n]" prefix, created on first use.
CQoLanguage* NumberedInterpreter(int slot);

}  // namespace qotool::engine

#endif
