// The per-thread queue: an eventfd per thread, and the thread timers. A
// timer of interval 0 makes its thread's descriptor readable at once;
// longer intervals are found due by the next service.
#include "platform/message_queue.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <mutex>
#include <thread>
#include <vector>

#include "platform/clock.h"

namespace qotool::platform {

namespace {

struct ThreadQueue {
    int fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    ~ThreadQueue() {
        if (fd >= 0) close(fd);
    }
};

thread_local ThreadQueue t_queue;

struct ThreadTimer {
    unsigned id;
    std::thread::id thread;
    unsigned interval;
    int64_t last;
    ThreadTimerCallback callback;
    void* context;
};

// Made on first use and never destroyed: the library's load hook sets a
// timer before other objects may be constructed, and its unload hook kills
// it after they may be gone.
struct TimerTable {
    std::mutex mutex;
    std::vector<ThreadTimer> timers;
    unsigned lastId = 0;
};
TimerTable& Timers() {
    static TimerTable* table = new TimerTable;
    return *table;
}

// Runs the calling thread's due timers (each at most once); returns how
// many ran. A callback may set or kill timers.
int RunDueTimers() {
    const std::thread::id self = std::this_thread::get_id();
    std::vector<unsigned> due;
    {
        TimerTable& table = Timers();
        std::lock_guard<std::mutex> lock(table.mutex);
        const int64_t now = MonotonicMillis();
        for (const ThreadTimer& timer : table.timers)
            if (timer.thread == self && now - timer.last >= (int64_t)timer.interval) due.push_back(timer.id);
    }
    int ran = 0;
    for (unsigned id : due) {
        ThreadTimerCallback callback = nullptr;
        void* context = nullptr;
        {
            TimerTable& table = Timers();
            std::lock_guard<std::mutex> lock(table.mutex);
            for (ThreadTimer& timer : table.timers) {
                if (timer.id != id) continue;
                timer.last = MonotonicMillis();
                callback = timer.callback;
                context = timer.context;
            }
        }
        if (callback) callback(context), ++ran;
    }
    return ran;
}

}  // namespace

unsigned SetThreadTimer(unsigned intervalMs, ThreadTimerCallback callback, void* context) {
    TimerTable& table = Timers();
    std::lock_guard<std::mutex> lock(table.mutex);
    unsigned id = ++table.lastId;
    if (id == 0) id = ++table.lastId;
    table.timers.push_back({id, std::this_thread::get_id(), intervalMs, MonotonicMillis(), callback, context});
    if (intervalMs == 0 && t_queue.fd >= 0) {
        const uint64_t one = 1;
        (void)!write(t_queue.fd, &one, sizeof one);
    }
    return id;
}

bool KillThreadTimer(unsigned id) {
    TimerTable& table = Timers();
    std::lock_guard<std::mutex> lock(table.mutex);
    for (size_t i = 0; i < table.timers.size(); ++i) {
        if (table.timers[i].id != id) continue;
        table.timers.erase(table.timers.begin() + (long)i);
        return true;
    }
    return false;
}

int ThreadMessageFd() { return t_queue.fd; }

int ServiceThreadMessages() {
    uint64_t count = 0;
    if (t_queue.fd >= 0) (void)!read(t_queue.fd, &count, sizeof count);
    return RunDueTimers();
}

}  // namespace qotool::platform
