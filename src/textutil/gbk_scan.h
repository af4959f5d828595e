// Byte scanning over GBK texts that never takes a trail byte for the start
// of a character. A byte >= 0x80 leads a two-byte character; its trail byte
// may be any byte from 0x40 up, ASCII letters and \ [ ] included. A lead
// byte at the very end of a text stands alone.
#ifndef QOTOOL_TEXTUTIL_GBK_SCAN_H
#define QOTOOL_TEXTUTIL_GBK_SCAN_H

#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>

namespace qotool::textutil {

constexpr size_t kNotFound = std::string_view::npos;

inline bool IsLeadByte(char c) { return (unsigned char)c >= 0x80; }

// Length of the character that starts at i (1 or 2).
inline size_t CharLength(std::string_view s, size_t i) {
    return IsLeadByte(s[i]) && i + 1 < s.size() ? 2 : 1;
}

// True when pos starts a character, given that lo <= pos does. A byte below
// 0x80 always ends a character, so only the run of high bytes right before
// pos needs counting: inside that run the bytes pair up as lead and trail.
inline bool IsCharStart(std::string_view s, size_t lo, size_t pos) {
    size_t q = pos;
    while (q > lo && IsLeadByte(s[q - 1])) --q;
    return ((pos - q) & 1) == 0;
}

// First occurrence of needle at or after from that begins on a character;
// lo <= from is a known character start. An empty needle is found at the
// first character start at or after from.
inline size_t FindText(std::string_view s, std::string_view needle, size_t from = 0, size_t lo = 0) {
    if (from > s.size()) return kNotFound;
    if (lo > from) lo = 0;
    if (needle.empty()) return IsCharStart(s, lo, from) ? from : from + 1;
    while (from < s.size() && s.size() - from >= needle.size()) {
        const void* hit = memmem(s.data() + from, s.size() - from, needle.data(), needle.size());
        if (!hit) return kNotFound;
        size_t h = (size_t)((const char*)hit - s.data());
        if (IsCharStart(s, lo, h)) return h;
        lo = from = h + 1;  // h is a trail byte, so h + 1 starts a character
    }
    return kNotFound;
}

// First occurrence of the byte c at or after from that begins a character.
inline size_t FindChar(std::string_view s, char c, size_t from = 0, size_t lo = 0) {
    return FindText(s, std::string_view(&c, 1), from, lo);
}

// ASCII letters to upper case, two-byte characters left as they are.
inline void UpperAscii(std::string& s) {
    for (size_t i = 0; i < s.size(); ++i) {
        unsigned char c = (unsigned char)s[i];
        if (c >= 0x80)
            ++i;
        else if (c >= 'a' && c <= 'z')
            s[i] = (char)(c - 32);
    }
}

inline void LowerAscii(std::string& s) {
    for (size_t i = 0; i < s.size(); ++i) {
        unsigned char c = (unsigned char)s[i];
        if (c >= 0x80)
            ++i;
        else if (c >= 'A' && c <= 'Z')
            s[i] = (char)(c + 32);
    }
}

// The characters of s in reverse order, each two-byte character's bytes
// kept in their order.
inline std::string ReverseChars(std::string_view s) {
    std::string out(s.size(), '\0');
    size_t end = s.size();
    for (size_t i = 0; i < s.size();) {
        size_t n = CharLength(s, i);
        end -= n;
        memcpy(&out[end], s.data() + i, n);
        i += n;
    }
    return out;
}

}  // namespace qotool::textutil

#endif
