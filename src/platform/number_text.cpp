#include "platform/number_text.h"

#include <charconv>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <locale.h>
#include <string>

namespace qotool::platform {

int FormatNumber15(double value, char* buf) {
    auto r = std::to_chars(buf, buf + 32, value, std::chars_format::general, 15);
    return (int)(r.ptr - buf);
}

static inline bool IsDigit(char c) { return (unsigned char)(c - '0') < 10; }

double ParseDouble(const char* text, const char** end) {
    const char* p = text;
    if (!p) {
        if (end) *end = text;
        return 0.0;
    }
    while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = (*p++ == '-');
    const char* start = p;
    while (IsDigit(*p)) ++p;
    bool anyDigit = p != start;
    if (*p == '.') {
        const char* q = p + 1;
        while (IsDigit(*q)) ++q;
        if (q != p + 1) anyDigit = true;
        if (anyDigit) p = q;
    }
    if (!anyDigit) {
        if (end) *end = text;
        return 0.0;
    }
    if (*p == 'e' || *p == 'E') {
        const char* q = p + 1;
        if (*q == '+' || *q == '-') ++q;
        if (IsDigit(*q)) {
            while (IsDigit(*q)) ++q;
            p = q;
        }
    }
    if (end) *end = p;
    double value = 0.0;
    auto r = std::from_chars(start, p, value, std::chars_format::general);
    if (r.ec == std::errc::result_out_of_range) {
        // from_chars leaves the value alone here; strtod in the C locale
        // gives the infinity or zero that atof gives.
        static locale_t cLocale = newlocale(LC_ALL_MASK, "C", (locale_t)0);
        char local[512];
        size_t n = (size_t)(p - start);
        if (n < sizeof local) {
            memcpy(local, start, n);
            local[n] = 0;
            value = strtod_l(local, nullptr, cLocale);
        } else {
            std::string copy(start, n);
            value = strtod_l(copy.c_str(), nullptr, cLocale);
        }
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
