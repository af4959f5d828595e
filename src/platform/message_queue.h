// The thread's message queue: what a waiting thread services while it
// waits (timers, posted messages). Every queue is one file descriptor that
// becomes readable when something is due, so a wait can poll it beside a
// child process or a time-out.
#ifndef QOTOOL_PLATFORM_MESSAGE_QUEUE_H
#define QOTOOL_PLATFORM_MESSAGE_QUEUE_H

namespace qotool::platform {

// The calling thread's queue descriptor (created on first use; -1 when it
// cannot be created). Readable while messages are due.
int ThreadMessageFd();

// Runs every message of the calling thread's queue that is due now;
// returns how many ran.
int ServiceThreadMessages();

// A timer of the calling thread: callback(context) runs from
// ServiceThreadMessages on that thread whenever intervalMs milliseconds
// have passed since it was set or last ran, until KillThreadTimer. A timer
// of interval 0 is due at the next service. Returns the timer's id (never 0).
using ThreadTimerCallback = void (*)(void* context);
unsigned SetThreadTimer(unsigned intervalMs, ThreadTimerCallback callback, void* context);
// Stops a timer from any thread; false when no such timer runs.
bool KillThreadTimer(unsigned id);

}  // namespace qotool::platform

#endif
