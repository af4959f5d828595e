// The per-thread queue: an eventfd per thread. Nothing posts to it yet, so
// it never becomes readable and servicing it runs nothing.
#include "platform/message_queue.h"

#include <sys/eventfd.h>
#include <unistd.h>

namespace qotool::platform {

namespace {

struct ThreadQueue {
    int fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    ~ThreadQueue() {
        if (fd >= 0) close(fd);
    }
};

thread_local ThreadQueue t_queue;

}  // namespace

int ThreadMessageFd() { return t_queue.fd; }

int ServiceThreadMessages() {
    uint64_t count = 0;
    if (t_queue.fd >= 0) (void)!read(t_queue.fd, &count, sizeof count);
    return 0;
}

}  // namespace qotool::platform
