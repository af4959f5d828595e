// Key/value lists, sections, numbers as text and replacement outside
// quoted literals.
#include <charconv>
#include <cstring>
#include <string>
#include <string_view>

#include "qotool/textcut.h"
#include "textutil/gbk_scan.h"

using namespace qotool::textutil;

namespace {

inline std::string_view View(const char* text) { return text ? std::string_view(text) : std::string_view(); }

inline CString Text(std::string_view s) { return CString(s.data(), (int)s.size()); }

// Offset of the first occurrence of sought in text, letter case aside; -1
// when either is empty or sought does not occur.
long FindNoCase(std::string_view text, std::string_view sought) {
    if (text.empty() || sought.empty()) return -1;
    std::string a(text), b(sought);
    UpperAscii(a);
    UpperAscii(b);
    size_t p = FindText(a, b);
    return p == kNotFound ? -1 : (long)p;
}

// Where a key starts in a list: at the start or right after a delimiter,
// or anywhere for a "*key". key receives the key without its '*'.
long LocateKey(std::string_view text, std::string_view& key, std::string_view delimiter) {
    if (!key.empty() && key[0] == '*') {
        key.remove_prefix(1);
        return FindNoCase(text, key);
    }
    std::string joinedText(delimiter), joinedKey(delimiter);
    joinedText.append(text);
    joinedKey.append(key);
    return FindNoCase(joinedText, joinedKey);
}

}  // namespace

extern "C" QO_API int ruqo_FindNoCase(const char* text, const char* sought) {
    try {
        return (int)FindNoCase(View(text), View(sought));
    } catch (...) {
        return -1;
    }
}

QO_API CString ruqo_MatchCut(const char* text, const char* key, const char* delimiter, const char* defaultText) {
    try {
        std::string_view list = View(text), k = View(key), delim = View(delimiter);
        long at = LocateKey(list, k, delim);
        if (at < 0) return CString(defaultText);
        std::string_view rest = list.substr(std::min(list.size(), (size_t)at + k.size()));
        long end = FindNoCase(rest, delim);
        if (end >= 0) rest = rest.substr(0, (size_t)end);
        return Text(rest);
    } catch (...) {
        return CString();
    }
}

QO_API CString ruqo_MatchSet(const char* text, const char* key, const char* delimiter, const char* value) {
    try {
        std::string_view list = View(text), k = View(key), delim = View(delimiter);
        const bool anywhere = !k.empty() && k[0] == '*';
        const std::string_view joiner = anywhere ? std::string_view() : delim;
        long found = LocateKey(list, k, delim);
        std::string out;
        if (found >= 0) {
            const size_t at = (size_t)found;
            long e = FindNoCase(list.substr(at), delim);
            if (value) {
                out.append(list.substr(0, std::min(list.size(), at + k.size())));
                out.append(value);
                if (e >= 0) out.append(list.substr(at + (size_t)e));
            } else if (e < 0) {
                // The last entry goes with the delimiter before it.
                size_t keep = at;
                if (at > 0) keep = at > joiner.size() ? at - joiner.size() : 0;
                out.append(list.substr(0, keep));
            } else {
                out.append(list.substr(0, at));
                out.append(list.substr(std::min(list.size(), at + (size_t)e + joiner.size())));
            }
            return Text(out);
        }
        if (!value) return Text(list);
        if (!list.empty()) {
            out.append(list);
            const bool endsWithJoiner =
                list.size() >= joiner.size() && list.substr(list.size() - joiner.size()) == joiner;
            if (!endsWithJoiner) out.append(joiner);
        }
        out.append(k);
        out.append(value);
        return Text(out);
    } catch (...) {
        return CString();
    }
}

QO_API CString ruqo_SectionCut(const char* text, int number, const char* separator, const char* defaultText) {
    try {
        if (!text) return CString(defaultText);
        std::string_view s(text), sep = View(separator);
        size_t pos = 0;
        if (sep.empty()) {
            // One section only: the whole text.
            if (number >= 2) return CString(defaultText);
        } else {
            for (int i = 1; i < number; ++i) {
                size_t f = FindText(s, sep, pos, pos);
                if (f == kNotFound) return CString(defaultText);
                pos = f + sep.size();
            }
        }
        while (pos < s.size() && s[pos] == ' ') ++pos;
        size_t end = sep.empty() ? kNotFound : FindText(s, sep, pos, pos);
        if (end == kNotFound) end = s.size();
        while (end > pos && s[end - 1] == ' ') --end;
        return Text(s.substr(pos, end - pos));
    } catch (...) {
        return CString(defaultText);
    }
}

QO_API CString ruqo_NumberToString(double value, const char* first, const char* second) {
    try {
        char number[64];
        auto r = std::to_chars(number, number + sizeof number, value, std::chars_format::general, 16);
        size_t length = (size_t)(r.ptr - number);
        if (length > 0 && number[length - 1] == '.') --length;
        if (!first || !*first) return CString(number, (int)length);
        std::string out(first);
        if (second) out.append(second);
        out.append(number, length);
        return Text(out);
    } catch (...) {
        return CString();
    }
}

QO_API CString ruqo_ReplaceNoText(const char* text, const char* oldText, const char* newText) {
    try {
        std::string_view s = View(text), from = View(oldText), to = View(newText);
        if (from.empty()) return Text(s);
        std::string out;
        size_t pos = 0;                 // scan position, a character start
        size_t single = 0, dbl = 0;     // next ' and " at or after pos (cached)
        bool singleKnown = false, dblKnown = false;
        for (;;) {
            size_t hit = FindText(s, from, pos, pos);
            if (hit == kNotFound) break;
            if (!singleKnown || (single != kNotFound && single < pos)) {
                single = FindChar(s, '\'', pos, pos);
                singleKnown = true;
            }
            if (!dblKnown || (dbl != kNotFound && dbl < pos)) {
                dbl = FindChar(s, '"', pos, pos);
                dblKnown = true;
            }
            size_t quote = std::min(single, dbl);
            if (quote != kNotFound && quote < hit) {
                // The occurrence may lie inside a literal: pass over it.
                size_t close = FindChar(s, s[quote], quote + 1, quote + 1);
                if (close == kNotFound) break;
                out.append(s.substr(pos, close + 1 - pos));
                pos = close + 1;
                continue;
            }
            out.append(s.substr(pos, hit - pos));
            out.append(to);
            pos = hit + from.size();
        }
        out.append(s.substr(pos));
        return Text(out);
    } catch (...) {
        return CString();
    }
}
