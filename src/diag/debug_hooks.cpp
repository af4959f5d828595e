#include "diag/debug_hooks.h"

namespace qotool::diag {

unsigned char g_debugSwitch = 0;

// No debugger view is attached yet: events are dropped.
void TraceEvent(QoLRunContext*, const char*, const char*) {}

bool ShowDebuggerWindow(QoLRunContext*) { return false; }

bool DebuggerWindowExists(int* recordedDepth) {
    if (recordedDepth) *recordedDepth = 0;
    return false;
}

void RefreshDebugger() {}

}  // namespace qotool::diag
