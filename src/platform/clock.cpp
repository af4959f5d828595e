// Monotonic millisecond clock, counted from the library's load.
#include "platform/clock.h"

#include <atomic>
#include <chrono>

namespace qotool::platform {

namespace {

using Steady = std::chrono::steady_clock;

Steady::time_point LoadTime() {
    static const Steady::time_point start = Steady::now();
    return start;
}

// Taken while the library's static objects are built, that is at load.
[[maybe_unused]] const Steady::time_point g_loadTime = LoadTime();

std::atomic<ClockSource> g_source{nullptr};

}  // namespace

int64_t MonotonicMillis() {
    if (ClockSource source = g_source.load(std::memory_order_relaxed)) return source();
    return std::chrono::duration_cast<std::chrono::milliseconds>(Steady::now() - LoadTime()).count();
}

void SetClockSourceForTest(ClockSource source) { g_source.store(source, std::memory_order_relaxed); }

}  // namespace qotool::platform
