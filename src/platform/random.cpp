#include "platform/random.h"

namespace qotool::platform {

namespace {
thread_local uint32_t t_state = 1;
}

void SeedRandom(uint32_t seed) { t_state = seed; }

int NextRandom() {
    t_state = t_state * 214013u + 2531011u;
    return (int)((t_state >> 16) & 0x7FFF);
}

}  // namespace qotool::platform
