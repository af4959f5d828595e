#include "diag/debug_hooks.h"

#include "engine/scanner.h"

namespace qotool::diag {

unsigned char g_debugSwitch = 0;

// No debugger view is attached yet: events are dropped.
void TraceEvent(QoLRunContext*, const char*, const char*) {}

void BreakpointMarkers(CQoLanguage*, char*& cursor) { qotool::engine::SkipBlanks(cursor); }

bool ShowDebuggerWindow(QoLRunContext*) { return false; }

bool DebuggerWindowExists(int* recordedDepth) {
    if (recordedDepth) *recordedDepth = 0;
    return false;
}

void RefreshDebugger() {}

}  // namespace qotool::diag
