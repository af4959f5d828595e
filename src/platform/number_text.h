// Locale-free number <-> text conversions used everywhere a QOL value
// changes form. FormatNumber15 writes exactly what "%.15g" writes;
// ParseDouble follows C atof for decimal text only (no hex, inf or nan
// forms); ParseInt64 follows C atoi over 64 bits, saturating.
#ifndef QOTOOL_PLATFORM_NUMBER_TEXT_H
#define QOTOOL_PLATFORM_NUMBER_TEXT_H

#include <cmath>
#include <cstddef>
#include <cstdint>

namespace qotool::platform {

// Whole numbers strictly between -1e15 and 1e15 (not -0): "%.15g" writes
// them as their exact digits, which read back as the same number.
inline bool IsExactWhole(double value) {
    return value > -1e15 && value < 1e15 && value == (double)(int64_t)value && !(value == 0 && std::signbit(value));
}

// Writes the digits of a whole number below 1e15 in size (IsExactWhole),
// as "%.15g" writes it, without a terminating zero; returns the length.
int FormatWhole(int64_t value, char* buf);

// Writes the "%.15g" text of value into buf (at least 32 bytes) without a
// terminating zero; returns the length.
int FormatNumber15(double value, char* buf);

// C atof: leading blanks, sign, digits, point, digits, exponent; the longest
// valid prefix counts; 0 when none. `end` (optional) receives the position
// after the number text.
double ParseDouble(const char* text, const char** end = nullptr);

// C atoi over 64 bits: leading blanks, sign, decimal digits; saturates.
int64_t ParseInt64(const char* text);

// Integer part of a number (toward zero), saturating; NaN gives 0.
inline int64_t TruncToInt64(double d) {
    if (d != d) return 0;
    if (d >= 9.2e18) return INT64_MAX;
    if (d <= -9.2e18) return INT64_MIN;
    return (int64_t)d;
}

// 32-bit narrowing of the original: a value in [-2^31, 2^32) keeps its
// 32-bit form, a larger one (a real 64-bit address) stays whole.
inline uintptr_t NarrowPointer(int64_t x) {
    if (x >= -2147483648LL && x < 4294967296LL) return (uintptr_t)(uint32_t)x;
    return (uintptr_t)x;
}
// Signed view of a pointer: 32-bit signed when it fits in 32 bits.
inline int64_t SignedPointer(uintptr_t p) {
    if (p <= 0xFFFFFFFFu) return (int64_t)(int32_t)(uint32_t)p;
    return (int64_t)p;
}

}  // namespace qotool::platform

#endif
