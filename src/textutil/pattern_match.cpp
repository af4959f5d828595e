// Fuzzy pattern matching over GBK text.
//
// The matcher walks pattern and text together; only *, % and ! branch. It
// runs on an explicit stack of loop frames (one per pending *, % or !), so
// patterns with very many of them cannot exhaust the thread's stack. The
// matcher at a given pattern and text position is a pure function for the
// duration of one run, so once a run has done a fair amount of work it starts
// remembering what its loops found (ranges of text positions where the rest
// of the pattern failed, and where it first succeeded): repeated searches are
// skipped, the result of every run stays the same, and the time stays
// polynomial however many wildcards the pattern has.
#include "textutil/pattern_match.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "platform/keys.h"
#include "platform/memory_probe.h"
#include "platform/per_thread.h"
#include "platform/ui.h"
#include "qotool/textutil.h"
#include "textutil/letter_lists.h"

namespace qotool::textutil {

namespace {

using Byte = unsigned char;

constexpr long long kNoMatch = -1;
constexpr size_t kNone = SIZE_MAX;
constexpr int kFlagCount = 127;  // one flag per ASCII code 0..126
// Work (steps, children, digits scanned) a run does before it starts
// remembering loop results; ordinary patterns never get there.
constexpr long long kRememberAfter = 4096;

// Loop frames kept allocated between calls.
constexpr size_t kKeptFrames = 4096;

const char kFaultText[] = "非法执行模糊匹配功能，可能是地址非法。";
const char kFaultCaption[] = "QOL";

bool IsDigit(Byte c) { return c >= '0' && c <= '9'; }

// A two-byte character: symbol rows are the full-width punctuation and
// symbols (lead bytes 0xA1..0xAA).
bool IsSymbolRow(Byte lead) { return lead >= 0xA1 && lead <= 0xAA; }

// ASCII letters to upper case, two-byte characters left whole.
void UpperGbk(std::string& s) {
    for (size_t i = 0; i < s.size(); ++i) {
        Byte c = (Byte)s[i];
        if (c >= 0x80) {
            if (i + 1 < s.size()) ++i;
        } else if (c >= 'a' && c <= 'z') {
            s[i] = (char)(c - 'a' + 'A');
        }
    }
}

struct Flags {
    bool star, question, digit, digits, negate, anyByte, spaces, letters;
};

Flags FlagsOf(const Byte* table) {
    return Flags{table['*'] != 0, table['?'] != 0, table['#'] != 0, table['%'] != 0,
                 table['!'] != 0, table['I'] != 0, table['S'] != 0, table['C'] != 0};
}

enum class Loop : uint8_t { kStar, kDigits, kNot };

// A pending loop: the special character at pattern position pos met text
// position t0; its current child is the rest of the pattern (pos + 1) at
// text position u.
struct Frame {
    Loop kind;
    size_t pos;
    size_t t0;
    size_t u;
    size_t bound;   // *: first position with a remembered answer
    size_t runEnd;  // %: end of the digit run
};

// State of the matcher, one per thread: the flags a pattern's " /FLAGS"
// sets hold for the later calls of the same thread, and ArrayMatch's result
// stays valid until that thread's next call.
struct MatchState {
    Byte standing[kFlagCount];
    Byte oneCall[kFlagCount];
    int firstMatch = 0;
    std::string pattern, text;  // working copies
    std::string arrayResult;
    std::vector<Frame> stack;
    MatchState() {
        memset(standing, 1, sizeof standing);
        memset(oneCall, 1, sizeof oneCall);
    }
};

MatchState& State() { return platform::PerThread<MatchState>(); }

class Matcher {
public:
    Matcher(std::string_view pattern, std::string_view text, const Flags& flags, std::vector<Frame>& stack)
        : pt_((const Byte*)pattern.data()),
          pn_(pattern.size()),
          tx_((const Byte*)text.data()),
          tn_(text.size()),
          f_(flags),
          stack_(stack) {}

    // The match end offset of the whole pattern against the whole text, or
    // kNoMatch.
    long long Run() {
        stack_.clear();
        size_t p = 0, t = 0;
        for (;;) {
            long long r = kNoMatch;
            Frame frame{};
            if (!Advance(p, t, &r, &frame)) {
                if (!StartLoop(frame, &r)) {
                    if (frame.kind == Loop::kNot) ++notFrames_;
                    stack_.push_back(frame);
                    p = frame.pos + 1;
                    t = frame.u;
                    Work(1);
                    continue;
                }
            }
            // r answers the child of the innermost frame.
            for (;;) {
                if (stack_.empty()) return r;
                Frame& top = stack_.back();
                if (Resume(top, r)) {
                    p = top.pos + 1;
                    t = top.u;
                    Work(1);
                    break;
                }
                if (top.kind == Loop::kNot) --notFrames_;
                stack_.pop_back();
            }
        }
    }

private:
    // What the loops of one * found where the rest of the pattern first
    // succeeds: lo -> (at, result) for the positions lo..at.
    using StarHits = std::map<size_t, std::pair<size_t, long long>>;
    struct DigitsMemo {
        size_t failLo;  // the rest fails at every position in (failLo, runEnd]
        bool hit;       // ... and succeeds at failLo with `result`
        long long result;
    };

    size_t CharLength(size_t t) const { return tx_[t] >= 0x80 && t + 1 < tn_ ? 2 : 1; }

    void Work(long long amount) {
        work_ += amount;
        if (work_ > kRememberAfter) remember_ = true;
    }

    // Walks the pattern from p and the text from t until a result (true,
    // *result) or a loop to run (false, *loop filled in).
    bool Advance(size_t p, size_t t, long long* result, Frame* loop) {
        for (;;) {
            Work(1);
            if (p >= pn_) {
                while (t < tn_ && tx_[t] == ' ') ++t;
                *result = t == tn_ ? (long long)tn_ : kNoMatch;
                return true;
            }
            size_t q = p;
            const bool plain = pt_[q] != '\\';
            if (!plain) ++q;
            const Byte c = q < pn_ ? pt_[q] : 0;  // an escape at the end escapes nothing

            if (t >= tn_) {
                size_t r = q;
                const bool negate = c == '!';
                if (negate) ++r;
                if ((f_.star && plain) || negate) {
                    while (r < pn_ && pt_[r] == '*') ++r;
                    if (r >= pn_) {
                        *result = (long long)tn_;
                        return true;
                    }
                }
                *result = kNoMatch;
                return true;
            }

            const Byte tc = tx_[t];
            const bool twoByte = tc >= 0x80 && t + 1 < tn_;
            const bool oneBytePattern = q < pn_ && !(c >= 0x80 && q + 1 < pn_);
            if (!twoByte) {
                if (oneBytePattern && c == tc) {
                    ++t;
                    if (!(c == '*' && plain)) p = q + 1;  // a * stays: it took a literal *
                    continue;
                }
                if (c == 'I' && f_.anyByte) {
                    ++t;
                    p = q + 1;
                    continue;
                }
            }
            if (tc == ' ' && f_.spaces && plain) {
                ++t;
                continue;
            }
            if (plain) {
                if (c == '?' && f_.question) {
                    t += CharLength(t);
                    p = q + 1;
                    continue;
                }
                if (c == '#' && f_.digit && IsDigit(tc)) {
                    ++t;
                    p = q + 1;
                    continue;
                }
                if (c == '%' && f_.digits) {
                    *loop = Frame{Loop::kDigits, q, t, t, kNone, t};
                    return false;
                }
                if (c == '*' && f_.star) {
                    if (q + 1 >= pn_) {
                        *result = (long long)t;
                        return true;
                    }
                    *loop = Frame{Loop::kStar, q, t, t, kNone, t};
                    return false;
                }
                if (c == '!' && f_.negate) {
                    *loop = Frame{Loop::kNot, q, t, t, kNone, t};
                    return false;
                }
            }
            if (!twoByte) {
                *result = kNoMatch;
                return true;
            }
            const Byte trail = tx_[t + 1];
            if (q + 1 < pn_ && c == tc && pt_[q + 1] == trail) {
                t += 2;
                p = q + 2;
                continue;
            }
            const Byte letter = c & (Byte)~0x20;
            if (f_.letters && plain && letter >= 'A' && letter <= 'Z' &&
                (InLetterList((char)letter, tc, trail) || (letter == 'V' && IsSymbolRow(tc)) ||
                 (letter == 'U' && !IsSymbolRow(tc)))) {
                t += 2;
                p = q + 1;
                continue;
            }
            *result = kNoMatch;
            return true;
        }
    }

    // Prepares a loop frame. Returns true when the loop's result is known
    // without running it (*result), false when its first child is due.
    bool StartLoop(Frame& f, long long* result) {
        switch (f.kind) {
        case Loop::kNot:
            return false;
        case Loop::kStar: {
            if (!remember_) return false;
            const size_t failFrom = FailFrom(f.pos);
            if (f.t0 >= failFrom) {
                *result = kNoMatch;
                return true;
            }
            f.bound = failFrom;
            auto hits = hits_.find(f.pos);
            if (hits == hits_.end()) return false;
            auto next = hits->second.upper_bound(f.t0);
            if (next != hits->second.begin()) {
                auto at = std::prev(next);
                if (f.t0 <= at->second.first) {
                    *result = at->second.second;
                    return true;
                }
            }
            if (next != hits->second.end()) f.bound = std::min(f.bound, next->first);
            return false;
        }
        case Loop::kDigits: {
            f.runEnd = DigitRunEnd(f.t0);
            if (f.runEnd == f.t0) {
                *result = kNoMatch;
                return true;
            }
            f.u = f.runEnd;  // longest run first
            if (!remember_) return false;
            DigitsMemo& memo = DigitsMemoOf(f.pos, f.runEnd);
            if (memo.hit) {
                *result = f.t0 < memo.failLo ? memo.result : kNoMatch;
                return true;
            }
            if (f.t0 >= memo.failLo) {
                *result = kNoMatch;
                return true;
            }
            f.u = memo.failLo;
            return false;
        }
        }
        return false;
    }

    // r is the result of the frame's current child. Returns true when the
    // frame moved on to its next child, false when it is finished (its
    // result in r).
    bool Resume(Frame& f, long long& r) {
        switch (f.kind) {
        case Loop::kNot:
            r = r >= 0 ? kNoMatch : (long long)f.t0;
            return false;
        case Loop::kStar:
            if (r >= 0) {
                // A success matters again only if a ! above turns it into a
                // failure and the search goes on.
                if (remember_ && notFrames_ > 0) hits_[f.pos].emplace(f.t0, std::make_pair(f.u, r));
                return false;
            }
            f.u += CharLength(f.u);
            if (f.u >= tn_) {
                if (remember_) StarFailed(f);
                r = kNoMatch;
                return false;
            }
            if (f.u >= f.bound) return StarKnown(f, r);
            return true;
        case Loop::kDigits:
            if (r >= 0) {
                if (remember_ && notFrames_ > 0) DigitsMemoOf(f.pos, f.runEnd) = DigitsMemo{f.u, true, r};
                return false;
            }
            if (--f.u <= f.t0) {
                if (remember_) {
                    DigitsMemo& memo = DigitsMemoOf(f.pos, f.runEnd);
                    memo.failLo = std::min(memo.failLo, f.t0);
                }
                r = kNoMatch;
                return false;
            }
            return true;
        }
        return false;
    }

    // The rest of the pattern after the * at pos fails at every text
    // position from the returned one on.
    size_t& FailFrom(size_t pos) {
        if (failFrom_.empty()) failFrom_.assign(pn_, kNone);
        return failFrom_[pos];
    }

    void StarFailed(const Frame& f) {
        size_t& failFrom = FailFrom(f.pos);
        failFrom = std::min(failFrom, f.t0);
    }

    // The star loop reached a position with a remembered answer.
    bool StarKnown(Frame& f, long long& r) {
        const size_t failFrom = FailFrom(f.pos);
        if (f.u >= failFrom) {
            StarFailed(f);
            r = kNoMatch;
            return false;
        }
        f.bound = failFrom;
        auto hits = hits_.find(f.pos);
        if (hits == hits_.end()) return true;
        StarHits& known = hits->second;
        auto next = known.upper_bound(f.u);
        if (next != known.begin()) {
            auto at = std::prev(next);
            if (f.u <= at->second.first) {
                const std::pair<size_t, long long> hit = at->second;
                known.erase(at);
                known.emplace(f.t0, hit);
                r = hit.second;
                return false;
            }
        }
        if (next != known.end()) f.bound = std::min(f.bound, next->first);
        return true;
    }

    DigitsMemo& DigitsMemoOf(size_t pos, size_t runEnd) {
        return digits_.try_emplace({pos, runEnd}, DigitsMemo{runEnd, false, 0}).first->second;
    }

    // The end of the run of digits starting at t (t itself when none).
    size_t DigitRunEnd(size_t t) {
        if (!remember_) {
            size_t e = t;
            while (e < tn_ && IsDigit(tx_[e])) ++e;
            Work((long long)(e - t));
            return e;
        }
        // Known runs [start, end) are remembered so that no digit is
        // scanned twice.
        auto next = runs_.upper_bound(t);
        if (next != runs_.begin()) {
            auto at = std::prev(next);
            if (t < at->second) return at->second;
        }
        size_t e = t;
        while (e < tn_ && IsDigit(tx_[e])) {
            if (next != runs_.end() && next->first == e) {
                e = next->second;
                runs_.erase(next);
                break;
            }
            ++e;
        }
        if (e > t) runs_.emplace(t, e);
        return e;
    }

    const Byte* pt_;
    size_t pn_;
    const Byte* tx_;
    size_t tn_;
    Flags f_;
    std::vector<Frame>& stack_;
    long long work_ = 0;
    bool remember_ = false;
    size_t notFrames_ = 0;  // ! frames on the stack
    std::vector<size_t> failFrom_;
    std::unordered_map<size_t, StarHits> hits_;
    std::map<std::pair<size_t, size_t>, DigitsMemo> digits_;
    std::map<size_t, size_t> runs_;
};

int Fault() {
    platform::ShowMessageBox(kFaultText, kFaultCaption, 0);
    return -1;
}

// A text that is empty matches a pattern of * and ! alone when it has an
// even number of !, and any other pattern after an odd number of them.
int EmptyTextResult(std::string_view pattern) {
    size_t i = 0;
    bool odd = false;
    for (; i < pattern.size() && (pattern[i] == '*' || pattern[i] == '!'); ++i)
        if (pattern[i] == '!') odd = !odd;
    const bool restEmpty = i == pattern.size();
    return restEmpty != odd ? 0 : -1;
}

int TakeFirstMatch() {
    MatchState& s = State();
    int record = s.firstMatch;
    s.firstMatch = 0;
    return record;
}

// A match of a non-empty text with a non-zero index.
int MatchText(std::string_view pattern, std::string_view text, int index) {
    MatchState& s = State();
    Byte* table = s.standing;
    size_t suffix = pattern.find(" /");
    if (suffix != std::string_view::npos) {
        std::string_view options = pattern.substr(suffix + 2);
        pattern = pattern.substr(0, suffix);
        if (!options.empty() && options[0] == '/') {
            options.remove_prefix(1);
            table = s.oneCall;
        }
        memset(table, options.empty() ? 1 : 0, kFlagCount);
        for (char ch : options) {
            Byte c = (Byte)ch;
            if (c >= 0x80) break;
            if (c >= 'a' && c <= 'z') c = (Byte)(c - 'a' + 'A');
            if (c < kFlagCount) table[c] = 1;
        }
    }
    if (table['N']) {
        s.pattern.assign(pattern);
        UpperGbk(s.pattern);
        s.text.assign(text);
        UpperGbk(s.text);
        pattern = s.pattern;
        text = s.text;
    }
    const Flags flags = FlagsOf(table);
    long long result = Matcher(pattern, text, flags, s.stack).Run();
    if (result < 0 && table[';'] && pattern.find(';') != std::string_view::npos) {
        // Alternatives, left to right; the piece after the last ; comes last.
        for (size_t start = 0;;) {
            size_t semi = pattern.find(';', start);
            size_t end = semi == std::string_view::npos ? pattern.size() : semi;
            result = Matcher(pattern.substr(start, end - start), text, flags, s.stack).Run();
            if (result >= 0 || semi == std::string_view::npos) break;
            start = semi + 1;
        }
    }
    if (s.stack.capacity() > kKeptFrames) std::vector<Frame>().swap(s.stack);  // a freak pattern's stack
    if (result < 0) return -1;
    if (s.firstMatch == 0) s.firstMatch = index;
    return result > INT_MAX ? INT_MAX : (int)result;
}

// ruqo_StrMatch once the arguments are known to be readable (or, for the
// pattern, known not to be: patternOk false).
int MatchReadable(std::string_view pattern, bool patternOk, std::string_view text, int index) {
    if (text.empty()) return patternOk ? EmptyTextResult(pattern) : Fault();
    if (index == 0) return TakeFirstMatch();
    if (!patternOk) return Fault();
    return MatchText(pattern, text, index);
}

// Probes a string argument; null is an empty string.
bool ProbeString(const char* p, std::string_view* out) {
    size_t length = 0;
    if (p && !platform::ReadableStringLength(p, &length)) return false;
    *out = p ? std::string_view(p, length) : std::string_view();
    return true;
}

int StrMatch(const char* pattern, const char* text, int index) {
    // Both strings are probed in one go; each answer is used only where the
    // string is read: neither the empty-text rule nor the first-match query
    // reads more than it must.
    const char* const strings[2] = {text, pattern};
    size_t lengths[2] = {0, 0};
    bool readable[2] = {false, false};
    platform::ProbeStrings(strings, 2, lengths, readable);
    if (text && !readable[0]) return Fault();
    const std::string_view t = text ? std::string_view(text, lengths[0]) : std::string_view();
    if (!t.empty() && index == 0) return TakeFirstMatch();
    const bool patternOk = !pattern || readable[1];
    const std::string_view p = pattern && readable[1] ? std::string_view(pattern, lengths[1]) : std::string_view();
    return MatchReadable(p, patternOk, t, index);
}

const char* ArrayMatch(const char* pattern, char** rows, int count, int maxDistinct) {
    MatchState& s = State();
    s.arrayResult.clear();
    if (!pattern) return s.arrayResult.c_str();
    if (count == 0) return nullptr;
    const bool interruptible = count < 0;
    const size_t n = interruptible ? (size_t)(-(long long)count) : (size_t)count;
    const size_t limit = maxDistinct < 1 ? n : (size_t)maxDistinct;
    if (!platform::IsReadable(rows, n * sizeof(char*))) {
        Fault();
        return s.arrayResult.c_str();
    }
    std::string_view p;
    const bool patternOk = ProbeString(pattern, &p);
    s.arrayResult.assign(n, '\0');
    std::unordered_set<std::string_view> seen;
    seen.reserve(std::min<size_t>(limit, 1024));
    // Rows are probed a few at a time; a row trimmed in place may shorten a
    // later row that shares its memory, so a trim probes the rest anew.
    constexpr size_t kBatch = 8;
    const char* batch[kBatch];
    size_t lengths[kBatch];
    bool readable[kBatch];
    size_t batchStart = 0, batchEnd = 0;
    for (size_t i = 0; i < n; ++i) {
        if (interruptible) {
            const bool down = platform::KeyIsDown((int)(i % 256));
            if (down && i != 16) break;
        }
        if (i >= batchEnd) {
            batchStart = i;
            batchEnd = std::min(n, i + kBatch);
            std::copy(rows + batchStart, rows + batchEnd, batch);
            platform::ProbeStrings(batch, batchEnd - batchStart, lengths, readable);
        }
        char* row = rows[i];
        const size_t slot = i - batchStart;
        const int index = (int)(uint32_t)(i + 1);
        const std::string_view text = row && readable[slot] ? std::string_view(row, lengths[slot]) : std::string_view();
        const int r = !row || readable[slot] ? MatchReadable(p, patternOk, text, index) : Fault();
        if (r < 0) {
            s.arrayResult[i] = '!';
            continue;
        }
        const bool whole = (size_t)r == text.size();
        size_t kept = text.size();
        while (kept > 0 && text[kept - 1] == ' ') --kept;
        if (kept < text.size()) {
            platform::TryStoreByte(row + kept, '\0');
            batchEnd = i + 1;
        }
        if (seen.insert(text.substr(0, kept)).second) {
            s.arrayResult[i] = whole ? '=' : '<';
            if (seen.size() >= limit) break;
        } else {
            s.arrayResult[i] = '.';
        }
    }
    return s.arrayResult.c_str();
}

}  // namespace

int MatchPattern(const char* pattern, size_t patternLength, const char* text, size_t textLength, int index) {
    std::string_view p = pattern ? std::string_view(pattern, strnlen(pattern, patternLength)) : std::string_view();
    std::string_view t = text ? std::string_view(text, strnlen(text, textLength)) : std::string_view();
    return MatchReadable(p, true, t, index);
}

}  // namespace qotool::textutil

extern "C" {

QO_API int ruqo_StrMatch(const char* pattern, const char* text, int index) {
    try {
        return qotool::textutil::StrMatch(pattern, text, index);
    } catch (...) {
        return -1;
    }
}

QO_API const char* ruqo_ArrayMatch(const char* pattern, char** rows, int count, int maxDistinct) {
    try {
        return qotool::textutil::ArrayMatch(pattern, rows, count, maxDistinct);
    } catch (...) {
        return nullptr;
    }
}

QO_API int pf_strMatch(const char* pattern, const char* text, int index) {
    return ruqo_StrMatch(pattern, text, index);
}

QO_API const char* pf_arrayMatch(const char* pattern, char** rows, int count, int maxDistinct) {
    return ruqo_ArrayMatch(pattern, rows, count, maxDistinct);
}

}  // extern "C"
