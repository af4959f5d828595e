#include "platform/number_text.h"

#include <charconv>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <locale.h>
#include <string>

namespace qotool::platform {

int FormatWhole(int64_t value, char* buf) {
    static const char kPairs[] =
        "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
        "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
        "8081828384858687888990919293949596979899";
    const int64_t v = value;
    char digits[20];
    int n = 20;  // digits fill digits[n..20) from the right, two at a time
    uint64_t u = v < 0 ? (uint64_t)(-v) : (uint64_t)v;
    uint32_t w;
    while (u > UINT32_MAX) {
        const unsigned pair = (unsigned)(u % 100) * 2;
        u /= 100;
        digits[--n] = kPairs[pair + 1];
        digits[--n] = kPairs[pair];
    }
    for (w = (uint32_t)u; w >= 100;) {  // 32-bit steps are cheaper
        const unsigned pair = (w % 100) * 2;
        w /= 100;
        digits[--n] = kPairs[pair + 1];
        digits[--n] = kPairs[pair];
    }
    u = w;
    if (u >= 10) {
        digits[--n] = kPairs[u * 2 + 1];
        digits[--n] = kPairs[u * 2];
    } else {
        digits[--n] = (char)('0' + u);
    }
    int length = 0;
    if (v < 0) buf[length++] = '-';
    memcpy(buf + length, digits + n, (size_t)(20 - n));
    return length + 20 - n;
}

int FormatNumber15(double value, char* buf) {
    // Whole numbers below 1e15 print as their digits, as "%.15g" does.
    if (IsExactWhole(value)) return FormatWhole((int64_t)value, buf);
    auto r = std::to_chars(buf, buf + 32, value, std::chars_format::general, 15);
    return (int)(r.ptr - buf);
}

static inline bool IsDigit(char c) { return (unsigned char)(c - '0') < 10; }

double ParseDouble(const char* text, const char** end) {
    static const double kPow10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                    1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
    const char* p = text;
    if (!p) {
        if (end) *end = text;
        return 0.0;
    }
    while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = (*p++ == '-');
    const char* start = p;
    // One pass: validate the decimal form and gather up to 19 significant
    // digits for the fast path.
    uint64_t mantissa = 0;
    int significant = 0, scale = 0;
    bool anyDigit = false;
    for (; IsDigit(*p); ++p) {
        anyDigit = true;
        if (significant < 19) {
            if (mantissa || *p != '0') {
                mantissa = mantissa * 10 + (unsigned)(*p - '0');
                ++significant;
            }
        } else {
            ++scale;
        }
    }
    if (*p == '.') {
        const char* q = p + 1;
        for (; IsDigit(*q); ++q) {
            anyDigit = true;
            if (significant < 19) {
                if (mantissa || *q != '0') {
                    mantissa = mantissa * 10 + (unsigned)(*q - '0');
                    ++significant;
                }
                --scale;
            }
        }
        if (anyDigit) p = q;
    }
    if (!anyDigit) {
        if (end) *end = text;
        return 0.0;
    }
    if (*p == 'e' || *p == 'E') {
        const char* q = p + 1;
        bool negativeExponent = *q == '-';
        if (*q == '+' || *q == '-') ++q;
        if (IsDigit(*q)) {
            int exponent = 0;
            for (; IsDigit(*q); ++q)
                if (exponent < 100000) exponent = exponent * 10 + (*q - '0');
            scale += negativeExponent ? -exponent : exponent;
            p = q;
        }
    }
    if (end) *end = p;
    if (mantissa == 0) return negative ? -0.0 : 0.0;
    // At most 15 significant digits and a small power of ten are exact
    // doubles, so one multiplication or division rounds correctly.
    if (significant <= 15 && scale >= -22 && scale <= 22) {
        double m = (double)mantissa;
        double v = scale >= 0 ? m * kPow10[scale] : m / kPow10[-scale];
        return negative ? -v : v;
    }
    double value = 0.0;
    auto r = std::from_chars(start, p, value, std::chars_format::general);
    if (r.ec == std::errc::result_out_of_range) {
        // from_chars leaves the value alone here; strtod in the C locale
        // gives the infinity or zero that atof gives.
        static locale_t cLocale = newlocale(LC_ALL_MASK, "C", (locale_t)0);
        std::string copy(start, (size_t)(p - start));
        value = strtod_l(copy.c_str(), nullptr, cLocale);
    }
    return negative ? -value : value;
}

int64_t ParseInt64(const char* text) {
    if (!text) return 0;
    const char* p = text;
    while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = (*p++ == '-');
    uint64_t v = 0;
    bool saturated = false;
    while (IsDigit(*p)) {
        unsigned d = (unsigned)(*p++ - '0');
        if (v > (UINT64_MAX - d) / 10) {
            saturated = true;
            while (IsDigit(*p)) ++p;
            break;
        }
        v = v * 10 + d;
    }
    if (negative) {
        if (saturated || v > (uint64_t)INT64_MAX + 1) return INT64_MIN;
        return (int64_t)(0 - v);
    }
    if (saturated || v > (uint64_t)INT64_MAX) return INT64_MAX;
    return (int64_t)v;
}

}  // namespace qotool::platform
