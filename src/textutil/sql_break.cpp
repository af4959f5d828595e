// Splitting an SQL statement into its clauses at keywords.
//
// The keywords are looked for in an upper-cased working copy " statement"
// whose literals and parenthesised groups are masked, so a keyword inside a
// string or a sub-select is never taken. The clauses are cut from a copy of
// the statement that has a zero byte in front: an offset into the working
// copy is then the same offset into that copy.
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "qotool/textcut.h"
#include "textutil/gbk_scan.h"

using namespace qotool::textutil;

namespace {

constexpr char kDefaultKeywords[] = "SELECT,FROM,WHERE,GROUP BY,ORDER BY,HAVING";
constexpr char kMask = '$';

// Masks the contents of '...', "..." and [...] literals. In quote literals
// a doubled quote belongs to the literal and a backslash takes the
// character after it along.
void MaskLiterals(std::string& w) {
    const size_t n = w.size();
    size_t i = 0;
    while (i < n) {
        char c = w[i];
        if (c != '\'' && c != '"' && c != '[') {
            i += CharLength(w, i);
            continue;
        }
        const char close = c == '[' ? ']' : c;
        const bool quote = c != '[';
        size_t j = i + 1;
        while (j < n) {
            if (quote && w[j] == '\\') {
                size_t k = j + 1;
                size_t end = k < n ? k + CharLength(w, k) : n;
                for (; j < end; ++j) w[j] = kMask;
                continue;
            }
            if (w[j] == close) {
                if (quote && j + 1 < n && w[j + 1] == close) {
                    w[j] = w[j + 1] = kMask;
                    j += 2;
                    continue;
                }
                break;
            }
            size_t len = CharLength(w, j);
            for (size_t k = 0; k < len; ++k) w[j + k] = kMask;
            j += len;
        }
        i = j < n ? j + 1 : n;
    }
}

// Masks everything inside parentheses, keeping the parentheses.
void MaskGroups(std::string& w) {
    int depth = 0;
    for (char& c : w) {
        if (c == '(') {
            ++depth;
        } else if (c == ')') {
            if (depth > 0) --depth;
        } else if (depth > 0) {
            c = kMask;
        }
    }
}

// The keyword list: upper case, runs of two spaces reduced, split at commas.
std::vector<std::string> SplitKeywords(const char* keywords) {
    std::string list = keywords && *keywords ? keywords : kDefaultKeywords;
    UpperAscii(list);
    for (size_t p; (p = list.find("  ")) != std::string::npos;) list.erase(p, 1);
    std::vector<std::string> out;
    size_t start = 0;
    for (;;) {
        size_t comma = list.find(',', start);
        out.push_back(list.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    return out;
}

// " FIRSTWORD ": how a keyword is looked for; empty for an empty keyword.
std::string SearchKey(const std::string& keyword) {
    size_t b = keyword.find_first_not_of(' ');
    if (b == std::string::npos) return std::string();
    size_t e = keyword.find(' ', b);
    std::string key = " ";
    key.append(keyword, b, e == std::string::npos ? std::string::npos : e - b);
    key += ' ';
    return key;
}

}  // namespace

QO_API const char** ruqo_BreakSql(const char* statement, int& count, CString& buffer, const char* keywords) {
    try {
        const std::string_view text(statement ? statement : "");  // never a null data() for memcpy
        const std::vector<std::string> words = SplitKeywords(keywords);
        count = (int)words.size();

        std::string w(" ");
        w.append(text);
        for (char& c : w)
            if (c == '\r' || c == '\n' || c == '\t') c = ' ';
        UpperAscii(w);
        MaskLiterals(w);
        MaskGroups(w);

        // Layout: the pointer pairs, the keyword texts, then a zero byte and
        // the statement (zero-terminated).
        const size_t pairBytes = words.size() * 2 * sizeof(const char*);
        size_t size = pairBytes;
        for (const std::string& k : words) size += k.size() + 1;
        const size_t copyAt = size;
        size += 1 + text.size() + 1;
        char* base = buffer.GetBufferSetLength((int)size);
        const char** pairs = reinterpret_cast<const char**>(base);
        char* p = base + pairBytes;
        for (size_t i = 0; i < words.size(); ++i) {
            memcpy(p, words[i].c_str(), words[i].size() + 1);
            pairs[2 * i] = p;
            p += words[i].size() + 1;
        }
        char* copy = base + copyAt;  // copy[0] is zero: the empty clause
        copy[0] = 0;
        memcpy(copy + 1, text.data(), text.size());
        copy[1 + text.size()] = 0;

        for (size_t i = 0; i < words.size(); ++i) {
            pairs[2 * i + 1] = copy;
            const std::string key = SearchKey(words[i]);
            if (key.empty()) continue;
            size_t at = FindText(w, key);
            if (at == kNotFound) continue;
            size_t q = at + key.size();
            while (q < w.size() && w[q] == ' ') ++q;
            if (w.compare(q, 3, "BY ") == 0) q += 3;
            pairs[2 * i + 1] = copy + q;
            copy[at] = 0;
        }
        return pairs;
    } catch (...) {
        count = 0;
        return nullptr;
    }
}
