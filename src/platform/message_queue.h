// The thread's message queue: what a waiting thread services while it
// waits (timers, posted messages). Every thread's queue is one epoll file
// descriptor holding a timerfd per timer and an eventfd for posted
// messages, so it becomes readable when something is due and a wait can
// poll it beside a child process or a time-out.
//
// Timers belong to the thread that set them: their callbacks run only
// inside that thread's ServiceThreadMessages / PumpThreadMessages (the
// host's message loop) or a dispatching TakeThreadMessages (a wait). Posted messages wait in the receiving thread's queue
// until it peeks them. Every function may be called from any thread; a
// thread's queue is created on its first use and ends with the thread,
// taking its timers with it. Its descriptors are made only when the queue is
// first serviced, waited on, asked for its descriptor or posted to; timers
// set before that expire when they would have. Nothing here busy-waits.
#ifndef QOTOOL_PLATFORM_MESSAGE_QUEUE_H
#define QOTOOL_PLATFORM_MESSAGE_QUEUE_H

#include <cstdint>

namespace qotool::platform {

// The calling thread's queue descriptor (created on first use; -1 when it
// cannot be created). Readable while messages are due.
int ThreadMessageFd();

// Dispatching nests: a timer's callback may wait, and the wait may dispatch
// again (a timer whose statement waits runs inside its own wait, each run in
// a fresh interpreter whose level guard starts from zero). Per thread, at
// most kMaxDispatchDepth callbacks run nested; a message taken deeper than
// that is removed without running, so the nesting ends long before the
// stack does (sixteen levels of timers that wait fit in 256 KB of stack).
constexpr int kMaxDispatchDepth = 16;

// Takes up to limit messages that are due off the calling thread's queue
// (a due timer counts once, however often it expired; the posting signal
// counts once, the posted messages stay for PeekThreadMessage). With
// dispatch each taken timer's callback runs (within kMaxDispatchDepth);
// without, the timers are only reset. Returns how many callbacks ran.
int TakeThreadMessages(int limit, bool dispatch);

// Runs every message of the calling thread's queue that is due now (each
// due timer once, however often it expired); returns how many ran.
int ServiceThreadMessages();

// Services the calling thread's queue until timeoutMs milliseconds have
// passed, sleeping while nothing is due (0: only what is due now; below 0:
// until at least one message ran). Returns how many ran.
int PumpThreadMessages(int timeoutMs);

// ---- timers ----

using TimerCallback = void (*)(uint64_t timerId);
// Sets a periodic timer on the calling thread's queue; its callback runs in
// that thread's servicing every periodMs milliseconds (at least 1). Returns
// its identifier (never 0), or 0 when it cannot be set.
uint64_t SetThreadTimer(int periodMs, TimerCallback callback);
// Removes a timer (from any thread); false when there is no such timer.
bool KillThreadTimer(uint64_t timerId);

// ---- posted messages ----

using QueueId = uint64_t;
// The calling thread's queue identifier (never 0; 0 when it cannot be made).
QueueId ThreadQueue();
// Posts a message to a thread's queue; false when that queue is gone.
bool PostThreadMessage(QueueId queue, uint32_t message, uintptr_t param);
// Whether the calling thread has a posted message of that number waiting;
// with remove, takes it out of the queue.
bool PeekThreadMessage(uint32_t message, bool remove);
// Sleeps until a message is posted to the calling thread, or timeoutMs has
// passed (below 0: no limit). Returns true when a post woke it. Timers of
// the thread are not serviced here.
bool WaitForPostedMessage(int timeoutMs);

}  // namespace qotool::platform

#endif
