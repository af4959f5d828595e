// The registry of live interpreters and the library's own interpreters.
#ifndef QOTOOL_ENGINE_INSTANCE_H
#define QOTOOL_ENGINE_INSTANCE_H

#include <vector>

#include "qotool/qolanguage.h"

namespace qotool::engine {

bool IsLiveInterpreter(const CQoLanguage* qo);
// The live interpreters in registry order (construction order).
std::vector<CQoLanguage*> LiveInterpreters();
// The shared interpreter: created at library attach, destroyed at detach.
CQoLanguage* SharedInterpreter();
void CreateSharedInterpreter();
void DestroySharedInterpreter();
// Numbered interpreter 0..9 of the "[n]" prefix, created on first use.
CQoLanguage* NumberedInterpreter(int slot);

}  // namespace qotool::engine

#endif
