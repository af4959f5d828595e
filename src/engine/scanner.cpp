// Source scanning. Everything here works on a cursor into zero-terminated
// GBK text and never executes anything, except the %[...] macro pieces of
// words, which the evaluator computes.
#include "engine/scanner.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "engine/number_memo.h"
#include "engine/run_context.h"
#include "qotool/qolanguage.h"
#include "qotool/qotool.h"

namespace qotool::engine {

namespace {

constexpr uint8_t Classify(unsigned c) {
    uint8_t cls = 0;
    if (c >= 1 && c <= 32) cls |= kBlank;
    if (c >= '0' && c <= '9') cls |= kDigit | kHexDigit;
    if ((c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F')) cls |= kHexDigit;
    // Word characters: everything but the operator, bracket, separator and
    // quote characters, the range [ \ ] ^, CR, LF, TAB, space and zero.
    bool word = c != 0;
    const char* stops = "-&$|?:<!=>+*%/`~( ),;{}[\\]^\r\n\t'\"";
    for (const char* s = stops; *s; ++s)
        if ((unsigned char)*s == c) word = false;
    if (word) cls |= kWordChar;
    return cls;
}

inline char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? (char)(c + 32) : c; }

// A stack that lives on the C++ stack up to N entries and on the heap
// beyond: the skippers keep their nesting here instead of recursing.
template <typename T, size_t N>
class SmallStack {
public:
    bool Empty() const { return size_ == 0; }
    void Push(const T& value) {
        if (size_ < N)
            inline_[size_] = value;
        else
            spill_.push_back(value);
        ++size_;
    }
    T Pop() {
        --size_;
        if (size_ < N) return inline_[size_];
        T value = spill_.back();
        spill_.pop_back();
        return value;
    }

private:
    T inline_[N];
    std::vector<T> spill_;
    size_t size_ = 0;
};

}  // namespace

const uint8_t kByteClass[256] = {
#define QO_ROW(b)                                                                          \
    Classify(b + 0), Classify(b + 1), Classify(b + 2), Classify(b + 3), Classify(b + 4),   \
        Classify(b + 5), Classify(b + 6), Classify(b + 7), Classify(b + 8), Classify(b + 9), \
        Classify(b + 10), Classify(b + 11), Classify(b + 12), Classify(b + 13),            \
        Classify(b + 14), Classify(b + 15)
    QO_ROW(0),   QO_ROW(16),  QO_ROW(32),  QO_ROW(48),  QO_ROW(64),  QO_ROW(80),
    QO_ROW(96),  QO_ROW(112), QO_ROW(128), QO_ROW(144), QO_ROW(160), QO_ROW(176),
    QO_ROW(192), QO_ROW(208), QO_ROW(224), QO_ROW(240),
#undef QO_ROW
};

bool StartsWithNoCase(const char* text, const char* prefix) {
    for (; *prefix; ++text, ++prefix)
        if (LowerAscii(*text) != LowerAscii(*prefix)) return false;
    return true;
}

void SkipCommentsFrom(char*& cursor) {
    char* p = cursor;
    for (;;) {
        while (IsBlank(*p)) ++p;
        if (p[0] != '/') break;
        if (p[1] == '/') {
            p += 2;
            while (*p && *p != '\n') ++p;
        } else if (p[1] == '*') {
            const char* end = strstr(p + 2, "*/");
            p = end ? const_cast<char*>(end) + 2 : p + strlen(p);
        } else {
            break;
        }
    }
    cursor = p;
}

int ScanWordChars(const char* cursor, char* out) {
    int n = 0;
    while (n < 80 && IsWordChar(cursor[n])) {
        out[n] = cursor[n];
        ++n;
    }
    out[n] = 0;
    return n;
}

bool KeywordWithBracket(const char* textStart, const char* position, const char* keyword) {
    if (!StartsWithNoCase(position, keyword)) return false;
    if (position > textStart) {
        unsigned char before = (unsigned char)position[-1];
        if (before > 32 && before != ';') return false;
    }
    char* p = const_cast<char*>(position) + strlen(keyword);
    SkipBlanks(p);
    return *p == '(';
}

void SkipExpression(char*& cursor, char closing) {
    // Nested brackets and conditional parts are frames on an explicit stack
    // (the closing byte each waits for), so skipping needs no stack depth
    // however deep the text nests.
    SmallStack<char, 64> frames;
    char* p = cursor;
    for (;;) {
        char c = *p;
        bool ended = false;
        if (!c) {
            ended = true;
        } else if (c == '\'' || c == '"') {
            p = SkipString(p + 1, c);
        } else if (c == '(' || c == '[') {
            ++p;
            frames.Push(closing);
            closing = c == '(' ? ')' : ']';
        } else if (c == ')' || c == ']' || c == '}') {
            ended = true;
        } else if (c == ',' || c == ';') {
            if (closing == ')' || closing == ']')
                ++p;
            else
                ended = true;
        } else if (c == '/') {
            if (p[1] == '/' || p[1] == '*')
                SkipCommentsFrom(p);
            else
                ++p;
        } else if (c == ':') {
            if (p[1] == ':') {
                p += 2;
            } else if (closing == ':') {
                ended = true;
            } else {
                ++p;
            }
        } else if (c == '?') {
            if (closing == '?') {  // only the outermost frame waits for '?'
                cursor = p;
                return;
            }
            ++p;
            frames.Push(closing);
            closing = ':';
        } else if (c == '{') {
            p = ruqo_SkipSentence(p, 0);
        } else {
            ++p;
        }
        if (!ended) continue;
        // The frame ends here: its closing byte is passed over when present.
        if (closing && *p == closing) SkipOne(p);
        if (frames.Empty()) break;
        closing = frames.Pop();
    }
    cursor = p;
}

}  // namespace qotool::engine

using namespace qotool::engine;

// ---- words ----

int QoLRunContext::ReadWord(char*& cursor, char* word) {
    int flags = 0;
    int length = 0;
    word[0] = 0;
    for (;;) {
        if (cursor[0] == '%' && cursor[1] == '[' && strchr(cursor + 2, ']')) {
            cursor += 2;
            owner->DoSentence(cursor, "]", 'S', ']');
            if (owner->m_bSyntaxCheck && owner->m_cType == '?') {
                strcpy(word, "%[]");
                return 0;
            }
            if (owner->m_cType != 'S') {
                owner->ReportError("%[宏] 的宏变量不为串型", cursor);
                return 0;
            }
            int add = owner->m_strValue.GetLength();
            if (length + add > 128) {
                owner->ReportError("%[宏] 构成的关键字内容超过128个字符", cursor);
                return 0;
            }
            memcpy(word + length, owner->m_strValue.c_str(), (size_t)add);
            length += add;
            word[length] = 0;
            flags |= 2;
        }
        int n = ScanWordChars(cursor, word + length);
        if (n > 0) {
            flags |= 1;
            cursor += n;
            length += n;
        }
        if (!(cursor[0] == '%' && cursor[1] == '[' && strchr(cursor + 2, ']'))) break;
    }
    if (flags == 0) {
        char message[96];
        snprintf(message, sizeof message, "非法操作符：%c", *cursor);
        if (*cursor == ')') strcat(message, " --- 可能是缺参数或数据项");
        if (*cursor == '}') strcat(message, " --- 可能是{ }不匹配或( )不匹配");
        if (*cursor) ++cursor;
        owner->ReportError(message, cursor);
        return 0;
    }
    return flags;
}

// ---- string literals ----

QO_API int ruqo_GetStringData(char*& cursor, CString& text) {
    char* start = cursor;
    if (!start || (*start != '\'' && *start != '"')) return -1;
    text.Empty();
    int escapes = 0;
    char* p = start;
    for (;;) {
        char quote = *p++;
        char* from = p;
        char lastNonBlank = 0;
        bool closed = false;
        for (;;) {
            char c = *p;
            if (c == 0) break;
            if (c == '\\' && p[1]) {
                p += 2;
                ++escapes;
                lastNonBlank = '\\';
                continue;
            }
            if (c == '\r') {
                if (lastNonBlank == ';') {
                    cursor = p;
                    return -1;
                }
                ++p;
                continue;
            }
            if (c == quote) {
                closed = true;
                break;
            }
            if (!IsBlank(c)) lastNonBlank = c;
            ++p;
        }
        text.Append(from, (int)(p - from));
        if (!closed) break;
        SkipOne(p);
        if (*p != '\'' && *p != '"') break;
    }
    cursor = p;
    if (escapes) {
        int n = text.GetLength();
        char* buf = text.GetBuffer(n);
        int out = 0;
        for (int i = 0; i < n; ++i) {
            char c = buf[i];
            if (c != '\\' || i + 1 >= n) {
                buf[out++] = c;
                continue;
            }
            char e = buf[++i];
            switch (e) {
            case '0': buf[out++] = 0; break;
            case 'n': buf[out++] = '\n'; break;
            case 'r': buf[out++] = '\r'; break;
            case 't': buf[out++] = '\t'; break;
            case 'x': {
                if (i + 2 >= n) {
                    text.ReleaseBuffer(0);
                    return -1;
                }
                unsigned value = 0;
                for (int k = 1; k <= 2; ++k) {
                    char h = buf[i + k];
                    int v = (h >= '0' && h <= '9')   ? h - '0'
                            : (h >= 'a' && h <= 'f') ? h - 'a' + 10
                            : (h >= 'A' && h <= 'F') ? h - 'A' + 10
                                                     : -1;
                    if (v < 0) break;
                    value = value * 16 + (unsigned)v;
                }
                buf[out++] = (char)value;
                i += 2;
                break;
            }
            default: buf[out++] = e; break;
            }
        }
        text.ReleaseBuffer(out);
    }
    return (int)(cursor - start);
}

QO_API char* SkipString(char* afterQuote, char quote) {
    char* p = afterQuote;
    if (!p) return p;
    for (;;) {
        char* lastNonBlank = nullptr;
        for (;;) {
            char c = *p;
            if (c == 0) return p;
            if (c == '\\' && p[1]) {
                lastNonBlank = p;
                p += 2;
                continue;
            }
            if (c == '\r' && lastNonBlank && *lastNonBlank == ';') return lastNonBlank;
            if (c == quote) break;
            if (!IsBlank(c)) lastNonBlank = p;
            ++p;
        }
        SkipOne(p);
        if (*p != '\'' && *p != '"') return p;
        quote = *p++;
    }
}

QO_API CString ruqo_MakeQolString(CString text, char quote) {
    CString out;
    int n = text.GetLength();
    const char* s = text.c_str();
    out.Reserve(n + n / 8 + 2);
    out += quote;
    for (int i = 0; i < n; ++i) {
        char c = s[i];
        switch (c) {
        case 0: out.Append("\\0", 2); break;
        case '\t': out.Append("\\t", 2); break;
        case '\n': out.Append("\\n", 2); break;
        case '\r': out.Append("\\r", 2); break;
        case '\\': out.Append("\\\\", 2); break;
        default:
            if (c == quote) out += '\\';
            out += c;
        }
    }
    out += quote;
    return out;
}

// ---- sentences ----

static bool DeclarationKeyword(const char* p, int* length) {
    static const char* const words[] = {"private", "public", "remove", "delete"};
    for (const char* w : words) {
        size_t n = strlen(w);
        if (strncmp(p, w, n) == 0 && (unsigned char)p[n] < 33) {
            *length = (int)n;
            return true;
        }
    }
    return false;
}

namespace {

// One sentence being skipped. A sentence nested in it (the then and else
// parts of an `if`, a FUNCTION: text inside a sentence) is a new frame; the
// enclosing frame waits on the skipper's stack with what it resumes with.
struct SkipFrame {
    const char* scanStart = nullptr;
    int brackets = 0, braces = 0;
    bool function = false, declaration = false, stopAtEnd = false;
    char resume = 0;  // 't' after a then part, 'e' after an else part, 'f' after a FUNCTION: text
};

enum class SkipStep { kEnded, kEndOfText, kIf, kFunction };

SkipFrame StartSkipFrame(char*& p, bool stopAtEnd) {
    SkipFrame f;
    f.stopAtEnd = stopAtEnd;
    SkipBlanks(p);
    f.scanStart = p;
    int keywordLength = 0;
    if (StartsWithNoCase(p, "FUNCTION:")) {
        f.function = true;
        p += 9;
    } else if (DeclarationKeyword(p, &keywordLength)) {
        f.declaration = true;
        p += keywordLength;
        if (*p) ++p;
    }
    return f;
}

// Scans the frame's sentence from p until it ends or a nested sentence
// starts (p then points at its `if` or FUNCTION:).
SkipStep ScanSkipFrame(SkipFrame& f, char*& p) {
    for (;;) {
        unsigned char c = (unsigned char)*p;
        bool ended = false;
        switch (c) {
        case 0: return SkipStep::kEndOfText;
        case '\'':
        case '"': p = SkipString(p + 1, (char)c); continue;
        case '(':
        case '[':
            if (f.braces == 0) ++f.brackets;
            break;
        case ')':
        case ']':
            if (f.braces == 0 && --f.brackets < 0) ended = true;
            break;
        case ',':
            if (f.brackets == 0 && f.braces == 0 && !f.declaration) ended = true;
            break;
        case '/':
            if (p[1] == '/' || p[1] == '*') {
                SkipCommentsFrom(p);
                continue;
            }
            break;
        case ';':
            if (f.brackets == 0 && f.braces == 0) ended = true;
            break;
        case 'F':
        case 'f':
            if (StartsWithNoCase(p, "FUNCTION:")) {
                if (f.function) return SkipStep::kEnded;
                return SkipStep::kFunction;
            }
            break;
        case 'I':
        case 'i':
            if (f.brackets == 0 && f.braces == 0 && KeywordWithBracket(f.scanStart, p, "if"))
                return SkipStep::kIf;
            break;
        case '{': ++f.braces; break;
        case '}':
            --f.braces;
            // A brace that closes an enclosing block always ends the sentence.
            if (f.braces < 0 || (f.braces == 0 && f.brackets == 0 && !f.declaration)) ended = true;
            break;
        default: break;
        }
        if (ended) return SkipStep::kEnded;
        if (c >= 0x80 && p[1])
            p += 2;
        else
            ++p;
        SkipBlanks(p);
    }
}

}  // namespace

QO_API char* ruqo_SkipSentence(char* text, char stopAtEnd) {
    if (!text) return text;
    // Iterative: `if` chains and else-if ladders of any length need no
    // stack depth.
    SmallStack<SkipFrame, 8> waiting;
    char* p = text;
    SkipFrame f = StartSkipFrame(p, stopAtEnd != 0);
    for (;;) {
        switch (ScanSkipFrame(f, p)) {
        case SkipStep::kEndOfText: return p;
        case SkipStep::kIf:
            f.resume = 't';
            waiting.Push(f);
            p += 2;
            f = StartSkipFrame(p, true);
            continue;
        case SkipStep::kFunction:
            f.resume = 'f';
            waiting.Push(f);
            f = StartSkipFrame(p, false);
            continue;
        case SkipStep::kEnded: break;
        }
        // f ended at p; so may the frames waiting on it.
        for (;;) {
            if (!f.stopAtEnd && (*p == '}' || *p == ')' || *p == ';' || *p == ',')) SkipOne(p);
            if (waiting.Empty()) return p;
            f = waiting.Pop();
            if (f.resume == 'f') break;  // the enclosing sentence goes on after the FUNCTION: text
            if (f.resume == 't') {
                char* next = p + 1;
                SkipBlanks(next);
                if (StartsWithNoCase(next, "else")) {
                    f.resume = 'e';
                    waiting.Push(f);
                    p = next;
                    f = StartSkipFrame(p, true);
                    break;
                }
            }
            // The `if` sentence ends here, and with it the frame that met it.
        }
    }
}

namespace qotool::engine {

namespace {

// One remembered skip: where it started, how it was asked, where it ended,
// and a copy of every byte it could have read.
struct SkipMemoEntry {
    const char* text = nullptr;
    char stopAtEnd = 0;
    size_t endOffset = 0;
    std::string bytes;  // text[0..n): ends with the text's zero byte when the read reached it
};

constexpr size_t kSkipMemoSlots = 256;      // direct-mapped by text address
constexpr size_t kSkipMemoMaxBytes = 4096;  // longer sentences are skipped each time

struct SkipMemoTable {
    SkipMemoEntry slots[kSkipMemoSlots];
};

// This thread's memo: reached through one initial-exec pointer, freed when
// the thread ends (a memo made after that, by a later thread-exit routine,
// is only left behind).
thread_local SkipMemoTable* t_skipMemo QOTOOL_FAST_TLS = nullptr;

struct SkipMemoOwner {
    ~SkipMemoOwner() {
        delete t_skipMemo;
        t_skipMemo = nullptr;
    }
};
thread_local SkipMemoOwner t_skipMemoOwner;

SkipMemoEntry& SkipMemoFor(const char* text) {
    SkipMemoTable* table = t_skipMemo;
    if (!table) {
        (void)&t_skipMemoOwner;  // registers the owner's end-of-thread cleanup
        table = t_skipMemo = new SkipMemoTable();
    }
    return table->slots[(size_t)(((uintptr_t)text * 0x9E3779B97F4A7C15ull) >> 56) % kSkipMemoSlots];
}

// The bytes ruqo_SkipSentence may read beyond the end it returns: the
// look-ahead for "else" after a then part (one byte, blanks and comments,
// then a few letters), with room to spare.
const char* SkipReadLimit(char* end) {
    char* p = end;
    if (*p) ++p;
    SkipBlanks(p);
    for (int i = 0; i < 8 && *p; ++i) ++p;
    return p;
}

}  // namespace

char* SkipSentenceMemo(char* text, char stopAtEnd) {
    if (!text || CachesOff()) return ruqo_SkipSentence(text, stopAtEnd);
    SkipMemoEntry& entry = SkipMemoFor(text);
    if (entry.text == text && entry.stopAtEnd == stopAtEnd &&
        strncmp(text, entry.bytes.data(), entry.bytes.size()) == 0)
        return text + entry.endOffset;
    char* end = ruqo_SkipSentence(text, stopAtEnd);
    const char* limit = SkipReadLimit(end);
    const size_t length = (size_t)(limit - text) + (*limit ? 0 : 1);
    if (length > kSkipMemoMaxBytes) return end;
    entry.text = text;
    entry.stopAtEnd = stopAtEnd;
    entry.endOffset = (size_t)(end - text);
    entry.bytes.assign(text, length);
    return end;
}

char* SkipSentenceMovingOn(char* text) {
    char* end = SkipSentenceMemo(text, 0);
    if (end != text || !*text) return end;
    end += ((unsigned char)*end >= 0x80 && end[1]) ? 2 : 1;
    SkipBlanks(end);
    return end;
}

}  // namespace qotool::engine

// ---- bracket tracing ----

char* CQoLanguage::FunctionBracketTrace(char*& cursor, char bracket) {
    short& depth = m_pRun->bracketDepth;
    switch (bracket) {
    case '(':
        if (*cursor == '(') {
            SkipOne(cursor);
            ++depth;
        }
        break;
    case ')':
        if (*cursor == ')') {
            SkipOne(cursor);
            --depth;
        }
        break;
    case '+': ++depth; break;
    case '-': --depth; break;
    default: break;
    }
    if (depth < 0) ruqo_MessageLog(0, 2, "QOL解释器括号跟踪异常", "", "");
    return cursor;
}
