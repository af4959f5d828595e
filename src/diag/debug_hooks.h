// The engine's calls into the debugger: the trace hook, the statement-start
// hook's breakpoint markers and the debugger window. The process-wide
// debugger switch lives here; while its bit 0 is clear the hooks cost one test.
#ifndef QOTOOL_DIAG_DEBUG_HOOKS_H
#define QOTOOL_DIAG_DEBUG_HOOKS_H

class CQoLanguage;
class QoLRunContext;

namespace qotool::diag {

// Bit 0: the debugger is active.
extern unsigned char g_debugSwitch;
// True while a key provider can report Alt+Pause: the hook then also runs
// with the switch off (for interpreters in pause-key mode).
extern bool g_pauseKeyWatch;
// 1: a run was asked to end (ruqo_InterruptRun, from a signal handler);
// 2: that run is ending. The hook runs whatever the switch says meanwhile.
extern volatile unsigned char g_interruptRequest;

// The debugger's trace hook (debugger.cpp). It may unwind (QolUnwind) when
// the person terminates the run, never for "S", "E" and "X" events.
void TraceEvent(QoLRunContext* run, const char* position, const char* event);

inline void Trace(QoLRunContext* run, const char* position, const char* event) {
    if ((g_debugSwitch & 1) || g_pauseKeyWatch || g_interruptRequest) TraceEvent(run, position, event);
}

// Shows and focuses the debugger window; false when there is none.
bool ShowDebuggerWindow(QoLRunContext* run);
// True while a debugger window exists, and its recorded guard depth.
bool DebuggerWindowExists(int* recordedDepth);
void RefreshDebugger();

}  // namespace qotool::diag

#endif
