// The registry of live interpreters and the library's own interpreters.
//
// Threads: the registry, the shared interpreter and the numbered slots are
// guarded by one lock, so interpreters may be created, destroyed and looked
// up on any thread. Each interpreter gets a serial number at construction
// that is never given again: code that keeps an interpreter's address across
// time (a timer, a host callback) keeps its serial too and asks
// IsLiveInterpreter(qo, serial) before use, which stays right when the
// interpreter was destroyed and another was built at the same address. The
// answer can go stale at once unless the caller otherwise knows the
// interpreter is not being destroyed (its owner thread is the caller, or
// holds it alive).
#ifndef QOTOOL_ENGINE_INSTANCE_H
#define QOTOOL_ENGINE_INSTANCE_H

#include <cstdint>
#include <vector>

#include "engine/debugger_seam.h"
#include "qotool/qolanguage.h"

namespace qotool::engine {

// IsLiveInterpreter(qo) and LiveInterpreters() are in debugger_seam.h.
// True when qo is live and is the interpreter that got serial (never
// dereferences qo).
bool IsLiveInterpreter(const CQoLanguage* qo, uint64_t serial);
// The serial number of a live interpreter; 0 (never a serial) when qo is not live.
uint64_t InterpreterSerial(const CQoLanguage* qo);
// LiveInterpreters() gives the live interpreters in registry order
// (construction order): a snapshot, stale as soon as another thread builds
// or destroys one.
// The shared interpreter: created at library attach, destroyed at detach
// (DestroySharedInterpreter also destroys the numbered interpreters, which
// otherwise live as long as the library).
CQoLanguage* SharedInterpreter();
void CreateSharedInterpreter();
void DestroySharedInterpreter();
// Numbered interpreter 0..9 of the "[n]" prefix, created on first use.
CQoLanguage* NumberedInterpreter(int slot);

}  // namespace qotool::engine

#endif
