// The error report: message, position text and source excerpt, then the
// error unwind to the nearest catcher.
#include <cstdio>
#include <cstring>
#include <new>

#include "engine/debugger_seam.h"
#include "engine/error_site.h"
#include "engine/run_context.h"
#include "engine/unwind.h"
#include "qotool/qolanguage.h"

using namespace qotool::engine;

namespace qotool::engine {

// Builds "\r\n【位于】" + position text + "：\r\n" + excerpt of text around
// the error at offset `error` (text ends at its terminating zero).
CString BuildExcerpt(const char* text, int length, int error, const CString& positionText) {
    // Character starts that matter: the last one below 100, the last one at
    // or before error-100, the last one below error+100, the last one at or
    // before length-100.
    int headLast = -1, preTail = -1, postLast = -1, tail = -1;
    int i = 0;
    // The error position never splits a character; it moves first, so that
    // the pieces below are measured from where it ends up.
    while (i < length && i + 1 < error) i += ((unsigned char)text[i] >= 0x80 && i + 1 < length) ? 2 : 1;
    if (i + 1 == error && (unsigned char)text[i] >= 0x80 && i + 1 < length) error = i + 2;
    i = 0;
    while (i < length) {
        int step = ((unsigned char)text[i] >= 0x80 && i + 1 < length) ? 2 : 1;
        if (i < 100) headLast = i;
        if (i <= error - 100) preTail = i;
        if (i >= error && i < error + 100) postLast = i;
        if (i <= length - 100) tail = i;
        i += step;
    }
    if (error > length) error = length;
    CString out;
    out.Reserve(length < 420 ? length + 64 : 480);
    out += "\r\n【位于】";
    out += positionText;
    out += "：\r\n";
    static const char kSeparator[] = "\r\n∷∷∷\r\n";
    if (preTail < 0 || preTail <= headLast) {
        out.Append(text, error);
    } else {
        out.Append(text, headLast);
        out += kSeparator;
        out.Append(text + preTail, error - preTail);
    }
    out += "【发生错误处】";
    if (tail < 0 || postLast < 0 || tail <= postLast) {
        out.Append(text + error, length - error);
    } else {
        out.Append(text + error, postLast - error);
        out += kSeparator;
        out.Append(text + tail, length - tail);
    }
    return out;
}

namespace {

constexpr unsigned char kErrorSkipMode = 0x02;  // bit of m_modeFlags: error skip on

// True when no activation or block that the unwind passes on its way to the
// next catcher that names QolUnwind would do anything but pass it on: the
// error skip is off, the trace hook is idle, the error is already the value
// (a block writes nothing then) and this thread's entry stack holds this
// interpreter alone (another interpreter's activations read their own mode
// flags). None of these changes while the unwind passes: the destructors it
// runs put back levels, positions, depths and scopes only; the mode flags are
// restored by catchers (try, SkipError, the syntax check, the debugger's
// evaluation), never on the way through.
bool MayPassActivations(const CQoLanguage* qo) {
    if (qo->m_modeFlags & kErrorSkipMode) return false;
    if ((diag::g_debugSwitch & 1) || diag::g_pauseKeyWatch || diag::g_interruptRequest) return false;
    if (qo->m_cType != 'X' || qo->m_strError.IsEmpty()) return false;
    const int entries = EntryStackSize();
    return entries == 0 || (entries == 1 && EntryStackAt(0) == qo->m_pRun);
}

// The throw itself, inlined where an error report unwinds: a frame less to
// walk.
[[noreturn, gnu::always_inline]] inline void Throw(CQoLanguage* qo, const char* text) {
    if (MayPassActivations(qo)) throw QolUnwind{text};
    throw QolUnwindStop{{text}};
}

}  // namespace

void ThrowUnwind(CQoLanguage* qo, const char* text) { Throw(qo, text); }

}  // namespace qotool::engine

void CQoLanguage::Unwind(const char* text) {
    if (m_pRun->catchDepth > 0) Throw(this, text);
}

namespace {

// The message (or the current error text) with its position text and
// excerpt, stored as the error value. Its own function, so that the texts
// are gone before the unwind starts: a frame with nothing to destroy is
// passed without a stop.
[[gnu::noinline]] void StoreErrorTextWithExcerpt(CQoLanguage* qo, const char* message, const char* position) {
    QoLRunContext* run = qo->m_pRun;
    CString text = message ? CString(message) : qo->m_strError;
    CString excerpt;
    if (!(run->traceFlags & 8) && !(qo->m_modeFlags & 0x02) && position) {
        for (int lv = 0; lv <= run->level && (size_t)lv < run->levelStart.size(); ++lv) {
            const char* start = run->levelStart[(size_t)lv];
            if (!start || position < start) continue;
            int length = (int)strlen(start);
            if (position > start + length) continue;
            int offset = (int)(position - start);
            char positionText[96];
            if (lv <= 1) {
                snprintf(positionText, sizeof positionText, "〖错误位置%d〗", offset);
            } else {
                const char* l0 = run->levelStart.size() > 0 ? run->levelStart[0] : nullptr;
                const char* l1 = run->levelStart.size() > 1 ? run->levelStart[1] : nullptr;
                long first = (l0 && l1) ? (long)(l1 - l0) : 0;
                snprintf(positionText, sizeof positionText, "〖错误位置%ld:第%d级位置%d〗", first, lv,
                         offset);
            }
            // A message that already carries a position was reported before
            // and is being passed on: it gets no second excerpt.
            if (text.Find("〖错误位置") <= 0) {
                excerpt = BuildExcerpt(start, length, offset, CString(positionText));
                RecordErrorSite(qo, start, length, offset);
            }
            break;
        }
    }
    if (excerpt.IsEmpty() && text.Find("〖错误位置") < 0) ClearErrorSite(qo);
    text += excerpt;
    qo->ErrorString(text.c_str());
    if (text.IsEmpty()) qo->m_cType = 'X';
}

// An error reported with the memory nearly gone (an out-of-memory error
// while the levels that took it still hold it) keeps the message without
// its excerpt rather than letting the allocation failure out of the run.
void StoreErrorText(CQoLanguage* qo, const char* message, const char* position) {
    try {
        StoreErrorTextWithExcerpt(qo, message, position);
    } catch (const std::bad_alloc&) {
        qo->m_cType = 'X';
        try {
            if (message) qo->ErrorString(message);
        } catch (const std::bad_alloc&) {
        }
    }
}

}  // namespace

void qotool::engine::ReportFromSentence(CQoLanguage* qo, const char* message, const char* position,
                                        const char* start, bool unwind) {
    QoLRunContext* run = qo->m_pRun;
    // The levels the activation and those inside it would add all start at
    // or after start in the same text: the excerpt is taken from the first
    // level that holds the position, which is this one or one below.
    const short level = run->level;
    {
        struct Restore {
            QoLRunContext* run;
            short level;
            const char* saved;
            ~Restore() { run->levelStart[(size_t)level] = saved; }
        } restore{run, level, (size_t)level < run->levelStart.size() ? run->levelStart[(size_t)level] : nullptr};
        run->SetLevelStart(level, start);
        StoreErrorText(qo, message, position);
    }
    if (!(qo->m_modeFlags & 0x04)) qotool::diag::Trace(run, position, "X错误");
    if (unwind) ThrowUnwind(qo, "从错误处理中跳出");
}

void CQoLanguage::ReportError(const char* message, const char* position, bool endOfRun) {
    QoLRunContext* run = m_pRun;
    if (!position && run->level >= 0 && (size_t)run->level < run->levelStart.size())
        position = run->levelStart[(size_t)run->level];
    StoreErrorText(this, message, position);
    if (!(m_modeFlags & 0x04)) qotool::diag::Trace(run, position, "X错误");
    if (endOfRun && (m_modeFlags & 0x04) && run->level < 2) return;
    Unwind("从错误处理中跳出");
}
