// The per-thread queues: one epoll descriptor per thread with a timerfd per
// timer and an eventfd that posts signal. One process-wide lock guards the
// tables; callbacks run outside it. A queue's descriptors are made when
// something first waits on it, services it or posts to it: until then its
// timers are only noted with the time they were set (a process that never
// services its queue, such as a short script run, makes no descriptors), and
// making the descriptors arms each noted timer for the expiry it would have had.
#include "platform/message_queue.h"

#include <poll.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/timerfd.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <deque>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/clock.h"

namespace qotool::platform {

namespace {

constexpr uint64_t kPostedKey = 0;  // the epoll key of a queue's eventfd

struct Queue {
    QueueId id = 0;
    std::atomic<bool> ready{false};  // the descriptors are made (set once, under g_mutex)
    bool failed = false;             // they could not be made
    int epoll = -1;
    int event = -1;
    std::deque<std::pair<uint32_t, uintptr_t>> posted;
    int dispatchDepth = 0;  // callbacks of this queue running on its thread, nested
};

struct Timer {
    int fd = -1;  // -1 while its queue has no descriptors
    QueueId owner = 0;
    TimerCallback callback = nullptr;
    itimerspec spec{};  // the period, and the first expiry as an absolute monotonic time
};

std::mutex g_mutex;
std::unordered_map<QueueId, std::shared_ptr<Queue>>* g_queues = nullptr;
std::unordered_map<uint64_t, Timer>* g_timers = nullptr;
uint64_t g_lastId = 0;  // timer and queue identifiers share one counter

void RemoveTimerLocked(uint64_t id) {
    auto it = g_timers->find(id);
    if (it == g_timers->end()) return;
    if (it->second.fd >= 0) {
        auto q = g_queues->find(it->second.owner);
        if (q != g_queues->end()) epoll_ctl(q->second->epoll, EPOLL_CTL_DEL, it->second.fd, nullptr);
        close(it->second.fd);
    }
    g_timers->erase(it);
}

// Arms a timer on its queue's descriptor; false when it cannot be armed.
bool ArmTimerLocked(Queue& q, uint64_t id, Timer& timer) {
    const int fd = timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK);
    if (fd < 0) return false;
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.u64 = id;
    if (timerfd_settime(fd, TFD_TIMER_ABSTIME, &timer.spec, nullptr) != 0 ||
        epoll_ctl(q.epoll, EPOLL_CTL_ADD, fd, &ev) != 0) {
        close(fd);
        return false;
    }
    timer.fd = fd;
    // A first expiry already past is due now: the kernel reports it at its
    // next timer tick, which is waited for here so that the servicing right
    // after sees it as it would have seen a timer armed when it was set.
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const itimerspec& due = timer.spec;
    if (due.it_value.tv_sec < now.tv_sec || (due.it_value.tv_sec == now.tv_sec && due.it_value.tv_nsec <= now.tv_nsec)) {
        pollfd p{fd, POLLIN, 0};
        const int periodMs = (int)(due.it_interval.tv_sec * 1000 + due.it_interval.tv_nsec / 1000000);
        while (poll(&p, 1, periodMs) < 0 && errno == EINTR) {
        }
    }
    return true;
}

// Makes a queue's descriptors and arms the timers noted on it (g_mutex
// held); false when the descriptors cannot be made.
bool MakeReadyLocked(Queue& q) {
    if (q.ready.load(std::memory_order_relaxed)) return true;
    if (q.failed) return false;
    q.epoll = epoll_create1(EPOLL_CLOEXEC);
    q.event = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (q.epoll < 0 || q.event < 0) {
        if (q.epoll >= 0) close(q.epoll);
        if (q.event >= 0) close(q.event);
        q.epoll = q.event = -1;
        q.failed = true;
        return false;
    }
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.u64 = kPostedKey;
    epoll_ctl(q.epoll, EPOLL_CTL_ADD, q.event, &ev);
    // Timers that cannot be armed now never fire (as one that could not be set).
    std::vector<uint64_t> unarmed;
    for (auto& [id, timer] : *g_timers)
        if (timer.owner == q.id && timer.fd < 0 && !ArmTimerLocked(q, id, timer)) unarmed.push_back(id);
    for (uint64_t id : unarmed) g_timers->erase(id);
    q.ready.store(true, std::memory_order_release);
    return true;
}

// The thread's queue; it leaves the tables when the thread ends.
struct ThreadQueueHolder {
    std::shared_ptr<Queue> queue;

    // The queue's record (its descriptors may not be made yet).
    Queue* Get() {
        if (queue) return queue.get();
        auto q = std::make_shared<Queue>();
        std::lock_guard<std::mutex> lock(g_mutex);
        if (!g_queues) g_queues = new std::unordered_map<QueueId, std::shared_ptr<Queue>>();
        if (!g_timers) g_timers = new std::unordered_map<uint64_t, Timer>();
        q->id = ++g_lastId;
        (*g_queues)[q->id] = q;
        queue = q;
        return queue.get();
    }

    // The queue with its descriptors; null when they cannot be made.
    Queue* Ready() {
        Queue* q = Get();
        if (q->ready.load(std::memory_order_acquire)) return q;
        std::lock_guard<std::mutex> lock(g_mutex);
        return MakeReadyLocked(*q) ? q : nullptr;
    }

    ~ThreadQueueHolder() {
        if (!queue) return;
        {
            std::lock_guard<std::mutex> lock(g_mutex);
            std::vector<uint64_t> mine;
            for (const auto& [id, timer] : *g_timers)
                if (timer.owner == queue->id) mine.push_back(id);
            for (uint64_t id : mine) RemoveTimerLocked(id);
            g_queues->erase(queue->id);
        }
        if (queue->event >= 0) close(queue->event);
        if (queue->epoll >= 0) close(queue->epoll);
    }
};

thread_local ThreadQueueHolder t_queue;

// Empties the eventfd's counter; true when something had been posted.
bool DrainPosted(Queue& q) {
    uint64_t count = 0;
    return read(q.event, &count, sizeof count) == (ssize_t)sizeof count && count > 0;
}

}  // namespace

int ThreadMessageFd() {
    Queue* q = t_queue.Ready();
    return q ? q->epoll : -1;
}

QueueId ThreadQueue() {
    Queue* q = t_queue.Get();
    return q ? q->id : 0;
}

int TakeThreadMessages(int limit, bool dispatch) {
    Queue* q = t_queue.Ready();
    if (!q || limit < 1) return 0;
    epoll_event events[32];
    const int n = epoll_wait(q->epoll, events, std::min(limit, 32), 0);
    int ran = 0;
    for (int i = 0; i < n; ++i) {
        const uint64_t key = events[i].data.u64;
        if (key == kPostedKey) {
            // Posted messages stay queued for PeekThreadMessage: only the
            // signal is taken.
            DrainPosted(*q);
            continue;
        }
        TimerCallback callback = nullptr;
        {
            std::lock_guard<std::mutex> lock(g_mutex);
            auto it = g_timers->find(key);
            if (it == g_timers->end()) continue;  // killed meanwhile
            uint64_t expirations = 0;
            if (read(it->second.fd, &expirations, sizeof expirations) != (ssize_t)sizeof expirations) continue;
            callback = it->second.callback;
        }
        if (!dispatch || q->dispatchDepth >= kMaxDispatchDepth) continue;
        ++q->dispatchDepth;
        try {
            callback(key);
        } catch (...) {
            --q->dispatchDepth;
            throw;
        }
        --q->dispatchDepth;
        ++ran;
    }
    return ran;
}

int ServiceThreadMessages() { return TakeThreadMessages(32, true); }

int PumpThreadMessages(int timeoutMs) {
    Queue* q = t_queue.Ready();
    if (!q) return 0;
    const int64_t deadline = MonotonicMillis() + (timeoutMs > 0 ? timeoutMs : 0);
    int ran = 0;
    for (;;) {
        ran += ServiceThreadMessages();
        int wait;
        if (timeoutMs < 0) {
            if (ran > 0) break;
            wait = -1;
        } else {
            const int64_t left = deadline - MonotonicMillis();
            if (left <= 0) break;
            wait = (int)left;
        }
        epoll_event ev;
        const int n = epoll_wait(q->epoll, &ev, 1, wait);
        if (n < 0 && errno != EINTR) break;
    }
    return ran;
}

uint64_t SetThreadTimer(int periodMs, TimerCallback callback) {
    if (!callback) return 0;
    Queue* q = t_queue.Get();
    if (periodMs < 1) periodMs = 1;
    Timer timer{-1, q->id, callback, {}};
    timer.spec.it_interval.tv_sec = periodMs / 1000;
    timer.spec.it_interval.tv_nsec = (long)(periodMs % 1000) * 1000000L;
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    timer.spec.it_value.tv_sec = now.tv_sec + timer.spec.it_interval.tv_sec;
    timer.spec.it_value.tv_nsec = now.tv_nsec + timer.spec.it_interval.tv_nsec;
    if (timer.spec.it_value.tv_nsec >= 1000000000L) {
        timer.spec.it_value.tv_nsec -= 1000000000L;
        ++timer.spec.it_value.tv_sec;
    }
    std::lock_guard<std::mutex> lock(g_mutex);
    if (q->failed) return 0;
    const uint64_t id = ++g_lastId;
    if (q->ready.load(std::memory_order_relaxed) && !ArmTimerLocked(*q, id, timer)) return 0;
    (*g_timers)[id] = timer;
    return id;
}

bool KillThreadTimer(uint64_t timerId) {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (!g_timers || !g_timers->count(timerId)) return false;
    RemoveTimerLocked(timerId);
    return true;
}

bool PostThreadMessage(QueueId queue, uint32_t message, uintptr_t param) {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (!g_queues) return false;
    auto it = g_queues->find(queue);
    if (it == g_queues->end() || !MakeReadyLocked(*it->second)) return false;
    it->second->posted.emplace_back(message, param);
    const uint64_t one = 1;
    return write(it->second->event, &one, sizeof one) == (ssize_t)sizeof one;
}

bool PeekThreadMessage(uint32_t message, bool remove) {
    Queue* q = t_queue.Get();
    if (!q) return false;
    std::lock_guard<std::mutex> lock(g_mutex);
    for (auto it = q->posted.begin(); it != q->posted.end(); ++it) {
        if (it->first != message) continue;
        if (remove) q->posted.erase(it);
        return true;
    }
    return false;
}

bool WaitForPostedMessage(int timeoutMs) {
    Queue* q = t_queue.Ready();
    if (!q) return false;
    // Only the eventfd is waited for: the thread's timers stay asleep.
    const int64_t deadline = MonotonicMillis() + (timeoutMs > 0 ? timeoutMs : 0);
    for (;;) {
        pollfd p{q->event, POLLIN, 0};
        const int left = timeoutMs < 0 ? -1 : (int)std::max<int64_t>(0, deadline - MonotonicMillis());
        const int n = poll(&p, 1, left);
        if (n > 0) {
            DrainPosted(*q);
            return true;
        }
        if (n == 0 || errno != EINTR) return false;
    }
}

}  // namespace qotool::platform
