// The 15-bit pseudo-random generator behind the rand built-in:
//   s = s * 214013 + 2531011;  result = (s >> 16) & 0x7FFF
// Each thread has its own state, seeded with 1.
#ifndef QOTOOL_PLATFORM_RANDOM_H
#define QOTOOL_PLATFORM_RANDOM_H

#include <cstdint>

namespace qotool::platform {

void SeedRandom(uint32_t seed);
// Next value, 0 to 32767.
int NextRandom();

}  // namespace qotool::platform

#endif
