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

}  // namespace qotool::platform

#endif
