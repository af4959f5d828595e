#include "diag/debug_hooks.h"

namespace qotool::diag {

unsigned char g_debugSwitch = 0;
bool g_pauseKeyWatch = false;
volatile unsigned char g_interruptRequest = 0;

}  // namespace qotool::diag
