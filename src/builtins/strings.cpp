// The string built-ins. Texts are GBK: find, findr, findn, findt, replace,
// upper and lower treat a two-byte character as one unit (a match never
// begins on a trail byte); in2 and replace2 compare plain bytes. Positions
// and lengths count bytes and start at 0.
#include "builtins/args.h"
#include "builtins/strings.h"

#include <strings.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/debugger_seam.h"
#include "engine/executor.h"
#include "engine/run_context.h"
#include "engine/scanner.h"
#include "qotool/qolanguage.h"
#include "qotool/textcut.h"
#include "qotool/textutil.h"
#include "textutil/gbk_scan.h"

using qotool::engine::Dispatched;
using qotool::engine::QolUnwind;
using qotool::engine::ToInt32;
using namespace qotool::textutil;

namespace qotool::builtins {

namespace {

// ---- arguments and results ----


// Reads the first argument as a string and requires a ',' after it.
bool FirstString(CQoLanguage* qo, char*& cursor, CString& text) {
    if (!Arg(qo, cursor, 'S')) return false;
    text = StringValue(qo);
    return Comma(qo, cursor);
}

// s and sub of the find family.
bool TwoStrings(CQoLanguage* qo, char*& cursor, CString& s, CString& sub) {
    if (!FirstString(qo, cursor, s)) return false;
    if (!Arg(qo, cursor, 'S')) return false;
    sub = StringValue(qo);
    return true;
}

// Keeps the write-back list of an enclosing call across a ReadPara of our
// own (which starts a list of its own).
class WriteBackKeeper {
public:
    explicit WriteBackKeeper(CQoLanguage* qo) : run_(qo->m_pRun), saved_(std::move(run_->writeBack)) {
        run_->writeBack.clear();
    }
    ~WriteBackKeeper() { run_->writeBack = std::move(saved_); }
    WriteBackKeeper(const WriteBackKeeper&) = delete;
    WriteBackKeeper& operator=(const WriteBackKeeper&) = delete;

private:
    QoLRunContext* run_;
    std::vector<QoLWriteBack> saved_;
};

// ---- text helpers ----

// Every non-overlapping occurrence of from, scanned from the left, replaced
// by to; a match never starts on a trail byte unless bytewise.
std::string ReplaceAll(std::string_view s, std::string_view from, std::string_view to, bool bytewise) {
    if (from.empty()) return std::string(s);
    std::string out;
    size_t pos = 0;
    for (;;) {
        size_t hit;
        if (bytewise) {
            hit = s.find(from, pos);
            if (hit == std::string_view::npos) hit = kNotFound;
        } else {
            hit = FindText(s, from, pos, pos);
        }
        if (hit == kNotFound) break;
        out.append(s.substr(pos, hit - pos));
        out.append(to);
        pos = hit + from.size();
    }
    out.append(s.substr(pos));
    return out;
}

inline bool IsWhite(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// The classes of strcut: single bytes, two-byte characters listed
// literally, and the two groups "%c" (lead bytes 0xB0-0xF7) and "%v" (all
// other two-byte characters).
class CharClass {
public:
    explicit CharClass(const CString& spec) {
        std::string text(spec.view());
        text = ReplaceAll(text, "%d", "0123456789", true);
        text = ReplaceAll(text, "%e", "abcdefghijklmnopqrstuvwxyz", true);
        text = ReplaceAll(text, "%E", "ABCDEFGHIJKLMNOPQRSTUVWXYZ", true);
        if (text.find("%c") != std::string::npos) {
            chinese_ = true;
            text = ReplaceAll(text, "%c", "", true);
        }
        if (text.find("%v") != std::string::npos) {
            others_ = true;
            text = ReplaceAll(text, "%v", "", true);
        }
        for (size_t i = 0; i < text.size();) {
            size_t n = CharLength(text, i);
            if (n == 1) {
                single_[(unsigned char)text[i]] = true;
            } else {
                if (pairs_.empty()) pairs_.assign(65536, false);
                pairs_[Code(text, i)] = true;
            }
            i += n;
        }
    }

    // Whether the character at i (n bytes long) belongs to the class.
    bool Has(std::string_view s, size_t i, size_t n) const {
        if (n == 1) return single_[(unsigned char)s[i]];
        unsigned char lead = (unsigned char)s[i];
        if (lead >= 0xB0 && lead <= 0xF7 ? chinese_ : others_) return true;
        return !pairs_.empty() && pairs_[Code(s, i)];
    }

private:
    static size_t Code(std::string_view s, size_t i) {
        return ((size_t)(unsigned char)s[i] << 8) | (unsigned char)s[i + 1];
    }
    bool single_[256] = {};
    bool chinese_ = false, others_ = false;
    std::vector<bool> pairs_;
};

}  // namespace

// ---- one-argument functions ----

void Asc(CQoLanguage* qo, char*& cursor, const char*) {
    if (!SoleArg(qo, cursor, 'S')) return;
    CString s = StringValue(qo);
    SetNumber(qo, s.IsEmpty() ? 0 : (unsigned char)s[0]);
}

void Asc2(CQoLanguage* qo, char*& cursor, const char*) {
    if (!SoleArg(qo, cursor, 'S')) return;
    CString s = StringValue(qo);
    const unsigned char first = s.IsEmpty() ? 0 : (unsigned char)s[0];
    if (s.GetLength() > 1 && first >= 0x80)
        SetNumber(qo, first * 256 + (unsigned char)s[1]);
    else
        SetNumber(qo, first);
}

void Chr(CQoLanguage* qo, char*& cursor, const char*) {
    if (!SoleArg(qo, cursor, 'N')) return;
    const unsigned code = (unsigned)IntValue(qo) & 0xFFFFu;
    char bytes[2] = {(char)(code >> 8), (char)(code & 0xFF)};
    if (code > 255)
        SetString(qo, std::string_view(bytes, 2));
    else
        SetString(qo, std::string_view(bytes + 1, 1));
}

void Len(CQoLanguage* qo, char*& cursor, const char*) {
    if (!SoleArg(qo, cursor, 'S')) return;
    SetNumber(qo, StringValue(qo).GetLength());
}

void Upper(CQoLanguage* qo, char*& cursor, const char*) {
    if (!SoleArg(qo, cursor, 'S')) return;
    std::string s(StringValue(qo).view());
    UpperAscii(s);
    SetString(qo, s);
}

void Lower(CQoLanguage* qo, char*& cursor, const char*) {
    if (!SoleArg(qo, cursor, 'S')) return;
    std::string s(StringValue(qo).view());
    LowerAscii(s);
    SetString(qo, s);
}

// Trail bytes are never white space, so trimming needs no character walk.
void TrimL(CQoLanguage* qo, char*& cursor, const char*) {
    if (!SoleArg(qo, cursor, 'S')) return;
    CString text = StringValue(qo);
    std::string_view s = text.view();
    size_t i = 0;
    while (i < s.size() && IsWhite(s[i])) ++i;
    SetString(qo, s.substr(i));
}

void TrimR(CQoLanguage* qo, char*& cursor, const char*) {
    if (!SoleArg(qo, cursor, 'S')) return;
    CString text = StringValue(qo);
    std::string_view s = text.view();
    size_t n = s.size();
    while (n > 0 && IsWhite(s[n - 1])) --n;
    SetString(qo, s.substr(0, n));
}

// ---- left, right, mid ----

void Left(CQoLanguage* qo, char*& cursor, const char*) {
    CString s;
    if (!FirstString(qo, cursor, s) || !Arg(qo, cursor, 'N')) return;
    const int n = IntValue(qo);
    std::string_view v = s.view();
    SetString(qo, n <= 0 ? std::string_view() : v.substr(0, (size_t)n));
}

void Right(CQoLanguage* qo, char*& cursor, const char*) {
    CString s;
    if (!FirstString(qo, cursor, s) || !Arg(qo, cursor, 'N')) return;
    const int n = IntValue(qo);
    std::string_view v = s.view();
    if (n <= 0)
        SetString(qo, std::string_view());
    else
        SetString(qo, (size_t)n >= v.size() ? v : v.substr(v.size() - (size_t)n));
}

void Mid(CQoLanguage* qo, char*& cursor, const char*) {
    CString s;
    if (!FirstString(qo, cursor, s) || !Arg(qo, cursor, 'N')) return;
    int start = IntValue(qo);
    if (start < 0) start = 0;
    long count = -2;  // none given
    if (*cursor == ',') {
        ++cursor;
        if (!Arg(qo, cursor, 'N')) return;
        count = IntValue(qo);
        if (count < 0) count = 0;
    }
    std::string_view v = s.view();
    if ((size_t)start >= v.size()) {
        SetString(qo, std::string_view());
        return;
    }
    v.remove_prefix((size_t)start);
    SetString(qo, count == -2 ? v : v.substr(0, (size_t)count));
}

// ---- the find family ----

void Find(CQoLanguage* qo, char*& cursor, const char*) {
    CString s, sub;
    if (!TwoStrings(qo, cursor, s, sub)) return;
    int start = 0;
    if (*cursor == ',') {
        ++cursor;
        if (!Arg(qo, cursor, 'N')) return;
        start = IntValue(qo);
        if (start < 0) start = 0;
    }
    size_t hit = FindText(s.view(), sub.view(), (size_t)start);
    SetNumber(qo, hit == kNotFound ? -1.0 : (double)hit);
}

// The last occurrence: the first one in the texts with their characters in
// reverse order (each two-byte character kept whole).
void FindR(CQoLanguage* qo, char*& cursor, const char*) {
    CString s, sub;
    if (!TwoStrings(qo, cursor, s, sub)) return;
    const std::string rs = ReverseChars(s.view()), rsub = ReverseChars(sub.view());
    size_t i = FindText(rs, rsub);
    SetNumber(qo, i == kNotFound ? -1.0 : (double)s.GetLength() - sub.GetLength() - (double)i);
}

// Non-overlapping occurrences counted from the left; an empty sub has none.
void FindN(CQoLanguage* qo, char*& cursor, const char*) {
    CString s, sub;
    if (!TwoStrings(qo, cursor, s, sub)) return;
    long count = 0;
    if (!sub.IsEmpty()) {
        std::string_view v = s.view(), w = sub.view();
        for (size_t pos = 0, hit; (hit = FindText(v, w, pos, pos)) != kNotFound; pos = hit + w.size()) ++count;
    }
    SetNumber(qo, (double)count);
}

// The position just after the k-th non-overlapping occurrence, or -1.
void FindT(CQoLanguage* qo, char*& cursor, const char*) {
    CString s, sub;
    if (!TwoStrings(qo, cursor, s, sub)) return;
    int k = 1;
    if (*cursor == ',') {
        ++cursor;
        if (!Arg(qo, cursor, 'N')) return;
        k = IntValue(qo);
        if (k <= 0) k = 1;
    }
    std::string_view v = s.view(), w = sub.view();
    double result = 0;  // an empty sub is found where the search starts
    if (!w.empty()) {
        size_t pos = 0;
        for (int i = 0; i < k; ++i) {
            size_t hit = FindText(v, w, pos, pos);
            if (hit == kNotFound) {
                pos = kNotFound;
                break;
            }
            pos = hit + w.size();
        }
        result = pos == kNotFound ? -1.0 : (double)pos;
    }
    SetNumber(qo, result);
}

// ---- membership ----

namespace {

// in and in2: the 1-based number of the first matching candidate, or 0.
// Candidates after the first match are passed over unevaluated.
void Membership(CQoLanguage* qo, char*& cursor, bool contains) {
    if (!Arg(qo, cursor, contains ? 'S' : 0)) return;
    if (*cursor != ',') {
        qo->m_cType = 'f';
        return;
    }
    const bool isString = qo->m_cType == 'S';
    const CString text = isString ? qo->m_strValue : CString();
    const double number = qo->m_cType == 'N' ? qo->m_dValue : qo->m_cType == 'P' ? qo->EvalNumber() : 0.0;
    int index = 0, found = 0;
    while (*cursor == ',') {
        ++cursor;
        ++index;
        if (found) {
            engine::SkipExpression(cursor, 0);
            continue;
        }
        if (!Arg(qo, cursor, isString ? 'S' : 'N')) return;
        bool match;
        if (isString) {
            if (qo->m_cType != 'S')
                match = false;
            else if (contains)
                match = qo->m_strValue.view().find(text.view()) != std::string_view::npos;
            else
                match = qo->m_strValue == text;
        } else {
            match = qo->m_cType == 'N' && qo->m_dValue == number;
        }
        if (match) found = index;
    }
    SetNumber(qo, found);
}

}  // namespace

void In(CQoLanguage* qo, char*& cursor, const char*) { Membership(qo, cursor, false); }
void In2(CQoLanguage* qo, char*& cursor, const char*) { Membership(qo, cursor, true); }

// 1 when byte n (1-based) of s leads a two-byte character: the walk from
// the first byte takes a high byte together with the byte after it.
void IsDoubleByte(CQoLanguage* qo, char*& cursor, const char*) {
    CString s;
    if (!FirstString(qo, cursor, s) || !Arg(qo, cursor, 'N')) return;
    const int n = IntValue(qo);
    int result = 0;
    if (n > 0 && n < s.GetLength()) {
        std::string_view v = s.view();
        size_t i = 0;
        const size_t target = (size_t)n - 1;
        while (i < target) i += IsLeadByte(v[i]) ? 2 : 1;
        result = i == target && IsLeadByte(v[i]) ? 1 : 0;
    }
    SetNumber(qo, result);
}

// ---- pattern matching ----

// match(s, pattern [, index]): ruqo_StrMatch with pattern, s and index.
void Match(CQoLanguage* qo, char*& cursor, const char*) {
    CString s, pattern;
    if (!TwoStrings(qo, cursor, s, pattern)) return;
    int index = 1;
    if (*cursor == ',') {
        ++cursor;
        if (!Arg(qo, cursor, 'N')) return;
        index = IntValue(qo);
    }
    SetNumber(qo, ruqo_StrMatch(pattern.c_str(), s.c_str(), index));
}

// ---- replacing ----

void Replace(CQoLanguage* qo, char*& cursor, const char*) {
    CString s, from;
    if (!FirstString(qo, cursor, s) || !FirstString(qo, cursor, from) || !Arg(qo, cursor, 'S')) return;
    CString to = StringValue(qo);
    SetString(qo, ReplaceAll(s.view(), from.view(), to.view(), false));
}

// Byte position by byte position: an occurrence may start on a trail byte.
// The scan never looks into inserted text, so it is the plain bytewise
// replacement; an empty old text leaves s unchanged.
void Replace2(CQoLanguage* qo, char*& cursor, const char*) {
    CString s, from;
    if (!FirstString(qo, cursor, s) || !FirstString(qo, cursor, from) || !Arg(qo, cursor, 'S')) return;
    CString to = StringValue(qo);
    SetString(qo, ReplaceAll(s.view(), from.view(), to.view(), true));
}

// count bytes from start replaced by ins. A start outside the text leaves
// the value of ins, the last argument evaluated.
void Stuff(CQoLanguage* qo, char*& cursor, const char*) {
    CString s;
    if (!FirstString(qo, cursor, s)) return;
    if (!Arg(qo, cursor, 'N')) return;
    const int start = IntValue(qo);
    if (!Comma(qo, cursor) || !Arg(qo, cursor, 'N')) return;
    long count = IntValue(qo);
    if (!Comma(qo, cursor) || !Arg(qo, cursor, 'S')) return;
    CString ins = StringValue(qo);
    const long length = s.GetLength();
    if (count > length - start) count = length - start;
    if (count < 0) count = 0;
    if (start < 0 || start >= length) {
        SetString(qo, ins);
        return;
    }
    std::string out(s.view().substr(0, (size_t)start));
    out.append(ins.view());
    if (start + count < length) out.append(s.view().substr((size_t)(start + count)));
    SetString(qo, out);
}

// ---- macros ----

// Every "%[expression]" replaced by the text of its value. The debugger is
// switched off meanwhile; a failing expression is left in the text and its
// error forgotten.
void MacroReplace(CQoLanguage* qo, char*& cursor, const char*) {
    if (!SoleArg(qo, cursor, 'S')) return;
    std::string text(StringValue(qo).view());
    struct DebugOff {
        unsigned char saved = diag::g_debugSwitch;
        DebugOff() { diag::g_debugSwitch &= (unsigned char)~1; }
        ~DebugOff() { diag::g_debugSwitch = (unsigned char)((diag::g_debugSwitch & ~1) | (saved & 1)); }
    } debugOff;
    // The expressions run on a copy that dies with this call: the level's
    // start goes back to the caller's text afterwards, so that a later error
    // report never reads the copy.
    struct LevelStartKeeper {
        QoLRunContext* run;
        int level;
        const char* saved;
        explicit LevelStartKeeper(QoLRunContext* r)
            : run(r),
              level(r->level),
              saved(level >= 0 && (size_t)level < r->levelStart.size() ? r->levelStart[(size_t)level] : nullptr) {}
        ~LevelStartKeeper() {
            if (level >= 0) run->SetLevelStart(level, saved);
        }
    } levelStartKeeper(qo->m_pRun);

    std::string out;
    size_t pos = 0;  // copied up to here
    size_t i = 0;    // scan position
    while ((i = text.find('%', i)) != std::string::npos) {
        if (i + 1 >= text.size() || text[i + 1] != '[') {
            ++i;
            continue;
        }
        char* p = text.data() + i + 2;
        bool failed = false;
        try {
            qo->DoSentence(p, "]", 0, 0);
        } catch (const QolUnwind&) {
            failed = true;
        }
        CString value;
        if (!failed && qo->m_cType != 'X') value = qo->GetValueString();
        const size_t stop = (size_t)(p - text.data());
        if (failed || qo->m_cType == 'X') {
            qo->ErrorString("");
            i = stop;
            continue;
        }
        out.append(text, pos, i - pos);
        out.append(value.view());
        pos = stop < text.size() && text[stop] == ']' ? stop + 1 : stop;
        i = pos;
    }
    out.append(text, pos, std::string::npos);
    SetString(qo, out);
}

// ---- functions that read their arguments with ReadPara ----

// strcut(src, classes, cut): the value is the text before the first run of
// class characters, cut receives the run and src the rest (written back
// when they were passed by reference).
void StrCut(CQoLanguage* qo, char*& cursor, const char*) {
    WriteBackKeeper keeper(qo);
    CString src, classes, cut;
    qo->ReadPara('S', cursor, "%s%s%s", &src, &classes, &cut, nullptr);
    if (qo->m_cType == 'X') return;
    std::string_view s = src.view();
    size_t runStart, runEnd;
    if (classes.GetLength() == 1 && classes[0] == 0) {
        runStart = s.find('\0');
        if (runStart == std::string_view::npos)
            runStart = runEnd = s.size();
        else
            runEnd = runStart + 1;
    } else {
        CharClass charClass(classes);
        size_t i = 0;
        while (i < s.size() && !charClass.Has(s, i, CharLength(s, i))) i += CharLength(s, i);
        runStart = i;
        while (i < s.size() && charClass.Has(s, i, CharLength(s, i))) i += CharLength(s, i);
        runEnd = i;
    }
    const CString prefix(s.data(), (int)runStart);
    cut = CString(s.data() + runStart, (int)(runEnd - runStart));
    src = CString(s.data() + runEnd, (int)(s.size() - runEnd));
    qo->WritePara();
    SetString(qo, prefix);
}

// termform(terms, form, joiner, separator): form is split at its "%s" into
// pre and post; the result is pre + terms + post with every separator in
// terms replaced by post + joiner + pre.
void TermForm(CQoLanguage* qo, char*& cursor, const char*) {
    WriteBackKeeper keeper(qo);
    CString terms, form("%s"), joiner(","), separator(",");
    qo->ReadPara('S', cursor, "%s%s%s%s", &terms, &form, &joiner, &separator, nullptr);
    if (qo->m_cType == 'X') return;
    size_t at = FindText(form.view(), "%s");
    if (at == kNotFound || at + 2 > (size_t)form.GetLength()) {
        qo->ReportError("项格式化函数termform()第2个参数缺项形参%s\r\n典型用法："
                        "termform(\"T1,...,Tn\",\"F='%s'\",\" OR \")",
                        cursor);
        return;
    }
    const std::string_view pre = form.view().substr(0, at), post = form.view().substr(at + 2);
    std::string between(post);
    between.append(joiner.view());
    between.append(pre);
    std::string out(pre);
    out.append(ReplaceAll(terms.view(), separator.view(), between, false));
    out.append(post);
    SetString(qo, out);
}

void RuqoSectionCut(CQoLanguage* qo, char*& cursor, const char*) {
    WriteBackKeeper keeper(qo);
    CString text, separator(","), fallback("<QO_NULL>");
    int32_t number = 0;
    qo->ReadPara('S', cursor, "%s%4%s%s", &text, &number, &separator, &fallback, nullptr);
    if (qo->m_cType == 'X') return;
    SetString(qo, ruqo_SectionCut(text.c_str(), number, separator.c_str(), fallback.c_str()));
}

void RuqoMatchCut(CQoLanguage* qo, char*& cursor, const char*) {
    WriteBackKeeper keeper(qo);
    CString text, key, delimiter, fallback("<QO_NULL>");
    qo->ReadPara('S', cursor, "%s%s%s%s", &text, &key, &delimiter, &fallback, nullptr);
    if (qo->m_cType == 'X') return;
    SetString(qo, ruqo_MatchCut(text.c_str(), key.c_str(), delimiter.c_str(), fallback.c_str()));
}

// ---- name tests ----

Handler StringHandler(const char* word) {
    if (!word || !word[0] || !word[1]) return nullptr;
    using engine::Key;
    // The two-letter key picks the bucket; within it a whole-word compare in
    // any case.
    const auto is = [word](const char* name) { return strcasecmp(word, name) == 0; };
    switch (engine::DispatchKey(word)) {
    case Key('a', 's'):
        if (is("asc2")) return Asc2;
        if (is("asc")) return Asc;
        return nullptr;
    case Key('c', 'h'): return is("chr") ? Chr : nullptr;
    case Key('f', 'i'):  // find, findr, findn, findt
        if (strncasecmp(word, "find", 4) != 0) return nullptr;
        if (!word[4]) return Find;
        if (word[5]) return nullptr;
        switch (word[4] | 0x20) {
        case 'r': return FindR;
        case 'n': return FindN;
        case 't': return FindT;
        default: return nullptr;
        }
    case Key('i', 'n'):
        if (is("in")) return In;
        if (is("in2")) return In2;
        return nullptr;
    case Key('i', 's'): return is("IsDoubleByte") ? IsDoubleByte : nullptr;
    case Key('l', 'e'):
        if (is("left")) return Left;
        if (is("len")) return Len;
        return nullptr;
    case Key('l', 'o'): return is("lower") ? Lower : nullptr;
    case Key('m', 'a'):
        if (is("MacroReplace")) return MacroReplace;
        if (is("match")) return Match;
        return nullptr;
    case Key('m', 'i'): return is("mid") ? Mid : nullptr;
    case Key('r', 'e'):
        if (is("replace")) return Replace;
        if (is("replace2")) return Replace2;
        return nullptr;
    case Key('r', 'i'): return is("right") ? Right : nullptr;
    case Key('r', 'u'):  // ruqo_SectionCut, ruqo_MatchCut
        if (strncasecmp(word, "ruqo_", 5) != 0) return nullptr;
        if (strcasecmp(word + 5, "SectionCut") == 0) return RuqoSectionCut;
        if (strcasecmp(word + 5, "MatchCut") == 0) return RuqoMatchCut;
        return nullptr;
    case Key('s', 't'):
        if (is("strcut")) return StrCut;
        if (is("stuff")) return Stuff;
        return nullptr;
    case Key('t', 'e'): return is("termform") ? TermForm : nullptr;
    case Key('t', 'r'):
        if (is("triml")) return TrimL;
        if (is("trimr")) return TrimR;
        return nullptr;
    case Key('u', 'p'): return is("upper") ? Upper : nullptr;
    default: return nullptr;
    }
}

Dispatched Strings(CQoLanguage* qo, char*& cursor, const char* word) {
    Handler handler = StringHandler(word);
    if (!handler) return Dispatched::None;
    handler(qo, cursor, word);
    return Dispatched::Value;
}

}  // namespace qotool::builtins
