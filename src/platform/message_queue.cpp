// The per-thread queues: one epoll descriptor per thread with a timerfd per
// timer and an eventfd that posts signal. One process-wide lock guards the
// tables; callbacks run outside it.
#include "platform/message_queue.h"

#include <poll.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <algorithm>
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
    int epoll = -1;
    int event = -1;
    std::deque<std::pair<uint32_t, uintptr_t>> posted;
};

struct Timer {
    int fd = -1;
    QueueId owner = 0;
    TimerCallback callback = nullptr;
};

std::mutex g_mutex;
std::unordered_map<QueueId, std::shared_ptr<Queue>>* g_queues = nullptr;
std::unordered_map<uint64_t, Timer>* g_timers = nullptr;
uint64_t g_lastId = 0;  // timer and queue identifiers share one counter

void RemoveTimerLocked(uint64_t id) {
    auto it = g_timers->find(id);
    if (it == g_timers->end()) return;
    auto q = g_queues->find(it->second.owner);
    if (q != g_queues->end()) epoll_ctl(q->second->epoll, EPOLL_CTL_DEL, it->second.fd, nullptr);
    close(it->second.fd);
    g_timers->erase(it);
}

// The thread's queue; it leaves the tables when the thread ends.
struct ThreadQueueHolder {
    std::shared_ptr<Queue> queue;
    bool tried = false;

    Queue* Get() {
        if (queue || tried) return queue.get();
        tried = true;
        auto q = std::make_shared<Queue>();
        q->epoll = epoll_create1(EPOLL_CLOEXEC);
        q->event = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        if (q->epoll < 0 || q->event < 0) {
            if (q->epoll >= 0) close(q->epoll);
            if (q->event >= 0) close(q->event);
            return nullptr;
        }
        epoll_event ev{};
        ev.events = EPOLLIN;
        ev.data.u64 = kPostedKey;
        epoll_ctl(q->epoll, EPOLL_CTL_ADD, q->event, &ev);
        std::lock_guard<std::mutex> lock(g_mutex);
        if (!g_queues) g_queues = new std::unordered_map<QueueId, std::shared_ptr<Queue>>();
        if (!g_timers) g_timers = new std::unordered_map<uint64_t, Timer>();
        q->id = ++g_lastId;
        (*g_queues)[q->id] = q;
        queue = q;
        return queue.get();
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
        close(queue->event);
        close(queue->epoll);
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
    Queue* q = t_queue.Get();
    return q ? q->epoll : -1;
}

QueueId ThreadQueue() {
    Queue* q = t_queue.Get();
    return q ? q->id : 0;
}

int ServiceThreadMessages() {
    Queue* q = t_queue.Get();
    if (!q) return 0;
    epoll_event events[32];
    const int n = epoll_wait(q->epoll, events, 32, 0);
    int ran = 0;
    for (int i = 0; i < n; ++i) {
        const uint64_t key = events[i].data.u64;
        if (key == kPostedKey) {
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
        callback(key);
        ++ran;
    }
    return ran;
}

int PumpThreadMessages(int timeoutMs) {
    Queue* q = t_queue.Get();
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
    Queue* q = t_queue.Get();
    if (!q || !callback) return 0;
    if (periodMs < 1) periodMs = 1;
    const int fd = timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK);
    if (fd < 0) return 0;
    itimerspec spec{};
    spec.it_interval.tv_sec = periodMs / 1000;
    spec.it_interval.tv_nsec = (long)(periodMs % 1000) * 1000000L;
    spec.it_value = spec.it_interval;
    std::lock_guard<std::mutex> lock(g_mutex);
    const uint64_t id = ++g_lastId;
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.u64 = id;
    if (timerfd_settime(fd, 0, &spec, nullptr) != 0 || epoll_ctl(q->epoll, EPOLL_CTL_ADD, fd, &ev) != 0) {
        close(fd);
        return 0;
    }
    (*g_timers)[id] = Timer{fd, q->id, callback};
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
    if (it == g_queues->end()) return false;
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
    Queue* q = t_queue.Get();
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
