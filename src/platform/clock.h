// The one clock of the system: monotonic milliseconds since the library was
// loaded. Every timing the system does (the clock built-in, timers, the
// debugger's pace) reads it; tests replace it through the seam below.
#ifndef QOTOOL_PLATFORM_CLOCK_H
#define QOTOOL_PLATFORM_CLOCK_H

#include <cstdint>

namespace qotool::platform {

// Milliseconds elapsed since the library was loaded (never goes back).
int64_t MonotonicMillis();

// Test seam: while a source is installed, MonotonicMillis returns what it
// returns. Null restores the real clock.
using ClockSource = int64_t (*)();
void SetClockSourceForTest(ClockSource source);

}  // namespace qotool::platform

#endif
