// Timers: timeropen and timerclose over 16 process-wide numbered slots.
//
// A timer of mode 0 or 1 is a timer of the opening thread's message queue
// (platform/message_queue.h): its statement runs only while that thread
// pumps (ruqo_PumpMessages, or a wait with flag 0x04), in the
// opening interpreter (mode 0) or a fresh one per run (mode 1). A timer of
// mode 3 has a thread of its own at the idle scheduling class that waits
// out the period on its queue, wakes early for the quit message (18) that
// closing posts, and runs the statement in a fresh interpreter each time.
// A mode 0 timer whose interpreter is gone (found through the instance
// registry's serial numbers, never through the old address) runs nothing.
// The slots are locked; no statement runs while the lock is held.
#ifndef QOTOOL_BUILTINS_TIMERS_H
#define QOTOOL_BUILTINS_TIMERS_H

#include "builtins/builtins.h"

namespace qotool::builtins {

// tk "ti": timeropen timerclose
Dispatched Timers(CQoLanguage* qo, char*& cursor, const char* word);

// Closes every timer and waits (at most a few seconds) for the timer
// threads to end: the library calls it before it is unmapped.
void StopAllTimers();

// Tests: whether timer n (1 to 16) is open, and how many timer threads run.
bool TimerIsOpen(int n);
int RunningTimerThreads();

}  // namespace qotool::builtins

#endif
