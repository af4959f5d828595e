#include "diag/debug_hooks.h"

namespace qotool::diag {

unsigned char g_debugSwitch = 0;
bool g_pauseKeyWatch = false;

}  // namespace qotool::diag
