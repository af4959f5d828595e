#include "engine/var_names.h"

#include <climits>
#include <cstring>

namespace qotool::engine {

namespace {

inline bool IsRemoved(char c) { return c == ' ' || c == '\t' || c == '@'; }

// Position of the first byte (outside two-byte characters) that
// normalisation removes, or npos.
size_t FirstRemoved(const char* name, size_t length) {
    for (size_t i = 0; i < length; ++i) {
        if (IsGbkLead(name[i]) && i + 1 < length)
            ++i;
        else if (IsRemoved(name[i]))
            return i;
    }
    return std::string_view::npos;
}

// C atol over the text at p (up to end), saturated to int; *next receives
// the position after the digits.
int ParseSubscript(const char* p, const char* end, const char** next) {
    bool negative = false;
    if (p < end && (*p == '-' || *p == '+')) negative = *p++ == '-';
    long long value = 0;
    while (p < end && *p >= '0' && *p <= '9') {
        if (value <= (long long)INT_MAX + 1) value = value * 10 + (*p - '0');
        ++p;
    }
    *next = p;
    if (negative) value = -value;
    if (value > INT_MAX) return INT_MAX;
    if (value < INT_MIN) return INT_MIN;
    return (int)value;
}

// Steps to the next ']' (outside two-byte characters), or to end.
const char* SkipToClose(const char* p, const char* end) {
    while (p < end && *p != ']') p += (IsGbkLead(*p) && p + 1 < end) ? 2 : 1;
    return p;
}

}  // namespace

NormalizedName::NormalizedName(const char* name) {
    const size_t length = name ? strlen(name) : 0;
    const size_t first = FirstRemoved(name ? name : "", length);
    if (first == std::string_view::npos) {
        data_ = name ? name : "";
        length_ = length;
        return;
    }
    char* out = buffer_;
    if (length >= sizeof buffer_) {
        long_.resize(length);
        out = &long_[0];
    }
    memcpy(out, name, first);
    size_t n = first;
    for (size_t i = first; i < length; ++i) {
        char c = name[i];
        if (IsGbkLead(c) && i + 1 < length) {
            out[n++] = c;
            out[n++] = name[++i];
        } else if (IsRemoved(c)) {
            if (c == '@') hadAt_ = true;
        } else {
            out[n++] = c;
        }
    }
    out[n] = 0;
    data_ = out;
    length_ = n;
}

bool ParseCellName(std::string_view name, CellName* cell) {
    const char* begin = name.data();
    const char* end = begin + name.size();
    const char* p = begin;
    while (p < end && *p != '[') p += (IsGbkLead(*p) && p + 1 < end) ? 2 : 1;
    if (p >= end) return false;
    *cell = CellName();
    cell->array = std::string_view(begin, (size_t)(p - begin));
    ++p;  // '['
    if (p < end && *p == ']') {
        cell->row = -1;
        cell->whole = true;
        return true;
    }
    cell->row = ParseSubscript(p, end, &p);
    bool haveColumn = false;
    if (p < end && *p == ',') {
        cell->column = ParseSubscript(p + 1, end, &p);
        haveColumn = true;
    }
    p = SkipToClose(p, end);
    if (!haveColumn && p + 1 < end && p[1] == '[') cell->column = ParseSubscript(p + 2, end, &p);
    return true;
}

}  // namespace qotool::engine
