// DoSentence: the one statement and expression executor. It works straight
// on the source text; every statement, operand and operator evaluates its
// parts by calling it again with a terminator set, an expected type and a
// closer.
#include <cstdio>
#include <cstring>
#include <new>
#include <stdexcept>

#include "engine/compiled_form.h"
#include "engine/debugger_seam.h"
#include "engine/executor.h"
#include "engine/run_context.h"
#include "engine/scanner.h"
#include "engine/step_budget.h"
#include "engine/unwind.h"
#include "engine/var_tables.h"
#include "platform/number_text.h"
#include "qotool/qotool.h"

using namespace qotool::engine;
using qotool::diag::Trace;

const char qotool::engine::kOutOfMemory[] = "内存资源不足";

std::atomic<long> qotool::engine::g_stepBudget{-1};
std::atomic<int> qotool::engine::g_stepBudgetsSet{0};
const char qotool::engine::kStepBudgetSpent[] = "step budget spent";

namespace {
// This thread's budget (StepLimit); -1: none. Read only once a budget is
// set somewhere, so it needs no fast access.
thread_local long t_stepsLeft = -1;
}  // namespace

void qotool::engine::SetStepBudgetForTest(long steps) {
    const long before = g_stepBudget.exchange(steps < 0 ? -1 : steps, std::memory_order_relaxed);
    if ((before >= 0) != (steps >= 0)) g_stepBudgetsSet.fetch_add(steps >= 0 ? 1 : -1, std::memory_order_relaxed);
}

bool qotool::engine::TakeStep() {
    bool left = true;
    if (g_stepBudget.load(std::memory_order_relaxed) >= 0 && g_stepBudget.fetch_sub(1, std::memory_order_relaxed) <= 0) {
        g_stepBudget.store(0, std::memory_order_relaxed);
        left = false;
    }
    long& mine = t_stepsLeft;
    if (mine == 0) left = false;
    if (mine > 0) --mine;
    return left;
}

void qotool::engine::SpendStep(CQoLanguage* qo, char* cursor) {
    if (!TakeStep()) qo->ReportError(kStepBudgetSpent, cursor);
}

qotool::engine::StepLimit::StepLimit(long steps) : saved_(t_stepsLeft) {
    if (steps < 0) steps = 0;
    start_ = saved_ >= 0 && saved_ < steps ? saved_ : steps;
    t_stepsLeft = start_;
    g_stepBudgetsSet.fetch_add(1, std::memory_order_relaxed);
}

qotool::engine::StepLimit::~StepLimit() {
    const long spent = start_ - t_stepsLeft;
    t_stepsLeft = saved_ < 0 ? -1 : (saved_ > spent ? saved_ - spent : 0);
    g_stepBudgetsSet.fetch_sub(1, std::memory_order_relaxed);
}

namespace {

inline bool IsHex(char c) { return kByteClass[(unsigned char)c] & kHexDigit; }
inline int HexValue(char c) { return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10; }

}  // namespace

// Breakpoint markers where a sentence starts: "?" turns the debug switch on
// and reports a breakpoint, "?(" condition ")" does so when the condition
// holds, "??" turns the switch off, "$" and "$$" turn error output on and off.
void CQoLanguage::SkipMarkers(char*& cursor) {
    for (;;) {
        SkipBlanks(cursor);
        const char c = *cursor;
        if (c == '?') {
            if (cursor[1] == '?') {
                // The debugger sees the marker (it closes its window), then goes off.
                Trace(m_pRun, cursor, "B断点");
                qotool::diag::g_debugSwitch &= (unsigned char)~1;
                cursor += 2;
                continue;
            }
            m_strSpare.Empty();
            bool on = true;
            if (cursor[1] == '(') {
                ++cursor;
                FunctionBracketTrace(cursor, '(');
                DoSentence(cursor, ")", 0, ')');
                on = m_cType == 'N' && m_dValue != 0;
                m_cType = 'Z';
            } else {
                ++cursor;
            }
            if (on) {
                qotool::diag::g_debugSwitch |= 1;
                Trace(m_pRun, cursor, "B断点");
            }
            continue;
        }
        if (c == '$') {
            if (cursor[1] == '$') {
                m_modeFlags &= (unsigned char)~0x04;
                cursor += 2;
            } else {
                m_modeFlags |= 0x04;
                ++cursor;
            }
            continue;
        }
        return;
    }
}

void CQoLanguage::StatementStart(char*& cursor) {
    SkipBlanks(cursor);
    if (*cursor == '?' || *cursor == '$') SkipMarkers(cursor);
    m_pRun->statementStart = cursor;
}

namespace {

// A { } block: a scope, a guard and a list sentence. Inlined into the
// statements of an activation, so that the block and the activation that
// meets it are one frame for the error unwind.
[[gnu::always_inline]] inline void Block(CQoLanguage* qo, char*& cursor) {
    Trace(qo->m_pRun, cursor, "{段首");
    const int savedScope = qo->m_nScopeLevel;
    ++qo->m_nScopeLevel;
    if ((int)qo->m_scopeTable.size() < qo->m_nScopeLevel + 2) qo->m_scopeTable.resize((size_t)qo->m_nScopeLevel + 2);
    qo->m_scopeTable[(size_t)qo->m_nScopeLevel + 1] = qo->m_scopeTable[(size_t)qo->m_nScopeLevel];
    ++cursor;
    // The block's end: its scope goes, and a level goto that aims at or
    // below it ends here. Run by the destructor when an unwind of the plain
    // kind (unwind.h) passes the block.
    struct BlockEnd {
        CQoLanguage* qo;
        int savedScope;
        bool open;
        ~BlockEnd() {
            if (!open) return;
            // Cutting the tables back may keep a record as a spare, which
            // can allocate: nothing may leave a destructor while an unwind
            // passes.
            try {
                Close();
            } catch (...) {
            }
        }
        void Close() {
            open = false;
            qo->m_nScopeLevel = savedScope;
            const auto& start = qo->m_scopeTable[(size_t)savedScope + 1];
            qo->m_pVars->CutBack(start.first, start.second);
            qo->CheckLevelGoto();
        }
    } end{qo, savedScope, true};
    try {
        LevelGuard guard(qo, '+', cursor);
        qo->DoSentence(cursor, "}", 0, '}');
    } catch (const QolUnwindStop&) {
        if (!(qo->m_cType == 'X' && !qo->m_strError.IsEmpty())) qo->ErrorString("段异常跳出");
        qo->m_cType = 'X';
    }
    end.Close();
}

}  // namespace

namespace {

// The statements of one activation. Inlined into it: every frame less is a
// frame less for the error unwind to walk.
[[gnu::always_inline]] inline void Statements(CQoLanguage* qo, char*& cursor, const char* terminators, bool isList,
                                              short savedBracket) {
    QoLRunContext* run = qo->m_pRun;
    for (;;) {
        SkipBlanks(cursor);
        if (*cursor == '?' || *cursor == '$') qo->SkipMarkers(cursor);
        char c = *cursor;
        if (c == '{') {
            Block(qo, cursor);
            if (qo->m_cType == 'X') ThrowUnwind(qo, "段异常跳出");
            if (isList) continue;
            return;
        }
        if (isList) {
            if (c == ';') {
                ++cursor;
                continue;
            }
            if (c == '}') {
                Trace(run, cursor, "}段尾");
                return;
            }
            if (qo->m_cControl != 0 && qo->m_cControl != 1 && qo->m_cControl != 'g') return;
        }
        if (c == 0 || c == ';') return;
        if (qo->m_cControl == 'g') {
            qo->SearchGotoLabel(cursor);
            continue;
        }
        bool assigned = qo->ReadOperand(cursor);
        qo->OperatorLoop(cursor, terminators, savedBracket, assigned);
        if (isList && *cursor != '}') {
            if (*cursor == ';') {
                ++cursor;
                Trace(run, cursor, ";分句");
            }
            qo->StatementStart(cursor);
            continue;
        }
        return;
    }
}

}  // namespace

namespace {

// The work of DoSentence below its compiled forms, for an activation under a
// raised catch depth (DoSentence itself handles the one that is not).
// With prefix, the list's first statements have a compiled form, run once
// the activation has entered its level.
CQoLanguage* Sentence(CQoLanguage* qo, char*& cursor, const char* terminators, char expectedType, char closer,
                      bool prefix) {
    QoLRunContext* run = qo->m_pRun;
    if (run->catchDepth > 150) qo->ReportError("括号或语句嵌套操作层次过深", cursor);
    if (StepsCounted()) SpendStep(qo, cursor);
    // The current level's position is this activation's start while it runs;
    // the previous one comes back when it ends, since built-ins may run text
    // that does not outlive their call.
    struct PositionRestore {
        QoLRunContext* run;
        short level;
        const char* saved;
        ~PositionRestore() {
            if ((size_t)level < run->levelStart.size()) run->levelStart[(size_t)level] = saved;
        }
    } restore{run, run->level, (size_t)run->level < run->levelStart.size() ? run->levelStart[(size_t)run->level] : nullptr};
    run->SetLevelStart(run->level, cursor);
    Trace(run, cursor, "(步进");
    qo->m_cType = 'Z';
    const bool atStatementStart = cursor == run->statementStart;
    const short savedBracket = run->bracketDepth;
    if (!terminators) terminators = ")";
    const bool isList = terminators[0] == '}';
    bool failed = false;
    // Every activation is a nesting level of its own (a guard of the block
    // kind) and a catcher.
    LevelGuard guard(qo, '+', cursor);
    // What the catcher puts back when an unwind of the plain kind passes it
    // (unwind.h): the catch depth and the bracket depth.
    struct Passed {
        QoLRunContext* run;
        short savedBracket;
        bool open;
        ~Passed() {
            if (!open) return;
            --run->catchDepth;
            if (run->bracketDepth > savedBracket) run->bracketDepth = savedBracket;
        }
        void Close() {
            open = false;
            --run->catchDepth;
        }
    } passed{run, savedBracket, true};
    ++run->catchDepth;
    for (;;) {
        bool unwound = false;
        try {
            const bool runPrefix = prefix;
            prefix = false;
            if (!runPrefix || RunCompiledPrefix(qo, cursor) != PrefixEnd::Returned)
                Statements(qo, cursor, terminators, isList, savedBracket);
        } catch (const QolUnwindStop&) {
            unwound = true;
        } catch (const std::bad_alloc&) {
            // Allocations of unbounded size report this themselves; this
            // catches the rest before they pass frames that restore state
            // only on the interpreter's own unwinding.
            qo->ErrorString(kOutOfMemory);
            unwound = true;
        } catch (const std::length_error&) {
            qo->ErrorString(kOutOfMemory);
            unwound = true;
        }
        if (unwound) {
            if (run->bracketDepth > savedBracket) run->bracketDepth = savedBracket;
            if ((qo->m_modeFlags & 0x02) && atStatementStart && run->statementStart) {
                // Error skip: the failed statement is passed over.
                char* end = ruqo_SkipSentence(run->statementStart, 0);
                if (end > cursor) cursor = end;
                if (isList) {
                    qo->StatementStart(cursor);
                    qo->m_cType = 'Z';
                    continue;
                }
                passed.Close();
                Trace(run, cursor, ")结果");
                return qo;
            }
            failed = true;
        }
        break;
    }
    passed.Close();
    if (!failed && qo->m_cType != 'X') {
        if (expectedType && expectedType != qo->m_cType &&
            !(qo->m_bSyntaxCheck && (expectedType == '?' || qo->m_cType == '?'))) {
            char message[128];
            snprintf(message, sizeof message, "实际数据类型 %c 与期望的数据类型 %c 不符%s", qo->m_cType,
                     expectedType, qo->m_cType == 'P' ? "（可能是地址前缺少取值符 *）" : "");
            qo->ReportError(message, cursor);
        }
        if (closer) {
            if (closer == ')')
                qo->FunctionBracketTrace(cursor, ')');
            else if (*cursor == closer)
                SkipOne(cursor);
        }
        Trace(run, cursor, ")结果");
        if (run->bracketDepth > savedBracket) run->bracketDepth = savedBracket;
        return qo;
    }
    Trace(run, cursor, ")结果");
    if (run->bracketDepth > savedBracket) run->bracketDepth = savedBracket;
    qo->Unwind("DoSentence()提前退出");
    return qo;
}

}  // namespace

CQoLanguage* CQoLanguage::DoSentence(char*& cursor, const char* terminators, char expectedType, char closer) {
    bool prefix = false;  // a list whose first statements have a compiled form
    if (CompiledFormsAllowed(this)) {
        const FormRun ran = RunCompiledForm(this, cursor, terminators, expectedType, closer);
        if (ran == FormRun::Ran) return this;
        prefix = ran == FormRun::Prefix;
    }
    if (m_pRun->catchDepth > 0) return Sentence(this, cursor, terminators, expectedType, closer, prefix);
    // Under no catch depth the activation ends the unwind itself: it returns
    // with the error as its value.
    try {
        Sentence(this, cursor, terminators, expectedType, closer, prefix);
    } catch (const QolUnwind&) {
    }
    return this;
}

void CQoLanguage::RunStatements(char*& cursor, const char* terminators, bool isList, short savedBracket) {
    Statements(this, cursor, terminators, isList, savedBracket);
}

void CQoLanguage::ExecuteBlock(char*& cursor) { Block(this, cursor); }

// The goto label search at a statement start: statements are passed over
// until one begins with the pending label.
void CQoLanguage::SearchGotoLabel(char*& cursor) {
    QoLRunContext* run = m_pRun;
    const CString& label = run->gotoLabel;
    bool isLabel = !label.IsEmpty() && label[0] == '#';
    for (int n = 0; n < 10000; ++n) {
        if (*cursor == '?') {
            ++cursor;
            continue;
        }
        SkipBlanks(cursor);
        if (!*cursor || *cursor == '}') return;
        if (isLabel && strncmp(cursor, label.c_str(), (size_t)label.GetLength()) == 0) {
            cursor += label.GetLength();
            run->gotoLabel.Empty();
            m_cControl = m_cType != 'Z' ? 1 : 0;
            return;
        }
        cursor = SkipSentenceMovingOn(cursor);
    }
}

bool CQoLanguage::ReadOperand(char*& cursor) {
    char c = *cursor;
    switch (c) {
    case '(':
        FunctionBracketTrace(cursor, '(');
        DoSentence(cursor, ")", 0, ')');
        return false;
    case '~':
        ++cursor;
        DoSentence(cursor, kTildeSet, 'N', 0);
        if (m_cType == 'N') m_dValue = (double)~ToInt32(m_dValue);
        return false;
    case '!':
        ++cursor;
        DoSentence(cursor, kNotSet, 'N', 0);
        if (m_cType == 'N') m_dValue = m_dValue == 0 ? 1.0 : 0.0;
        return false;
    case '\'':
    case '"':
        if (ruqo_GetStringData(cursor, m_strValue) < 0) {
            ReportError("字符串引号不匹配", cursor);
            return false;
        }
        m_cType = 'S';
        return false;
    case '*':
        ++cursor;
        DoSentence(cursor, kNotSet, 'P', 0);
        if (m_cType == '?') return false;
        if (!Dereference(false)) ReportError("不能对非qol变量型地址进行*取值操作", cursor);
        if (m_cType == 'X') {
            if (m_bSyntaxCheck) {
                m_cType = '?';
            } else {
                if (m_strError.IsEmpty()) ErrorString("Qol地址指针取值非法");
                ReportError(nullptr, cursor);
            }
        }
        return false;
    case '&':
        ++cursor;
        return ReadWordOperand(cursor, true);
    default: break;
    }
    char* p = cursor;
    bool negative = false, sign = false;
    if (c == '-' || c == '+') {
        sign = true;
        negative = c == '-';
        ++p;
        while (IsBlank(*p)) ++p;
    }
    if (IsDigitChar(*p) || (*p == '.' && IsDigitChar(p[1]))) {
        cursor = p;
        ReadNumber(cursor, p, negative);
        return false;
    }
    if (sign) {
        cursor = p;
        DoSentence(cursor, kSignSet, 'N', 0);
        if (negative && m_cType == 'N') m_dValue = -m_dValue;
        return false;
    }
    return ReadWordOperand(cursor, false);
}

bool qotool::engine::ScanNumber(char*& p, bool negative, double* out) {
    double value;
    if (p[0] == '0' && (p[1] | 0x20) == 'x' && IsHex(p[2])) {
        uint32_t v = 0;
        p += 2;
        while (IsHex(*p)) v = (v << 4) | (uint32_t)HexValue(*p++);
        value = (double)(int32_t)v;
    } else {
        char* start = p;
        uint64_t whole = 0;
        while (IsDigitChar(*p)) whole = whole * 10 + (uint64_t)(*p++ - '0');
        if (p - start <= 15 && *p != '.' && *p != 'e' && *p != 'E') {
            // Up to 15 digits and nothing else: the number is exact as read.
            *out = negative ? -(double)whole : (double)whole;
            return true;
        }
        if (*p == '.') {
            ++p;
            while (IsDigitChar(*p)) ++p;
        }
        if (*p == 'e' || *p == 'E') {
            char* q = p + 1;
            if (*q == '+' || *q == '-') ++q;
            if (!IsDigitChar(*q)) {
                p = q;
                return false;
            }
            while (IsDigitChar(*q)) ++q;
            p = q;
        }
        if (p - start > 100) {
            // At most 100 characters of a literal are taken.
            char local[101];
            memcpy(local, start, 100);
            local[100] = 0;
            value = qotool::platform::ParseDouble(local);
            p = start + 100;
        } else {
            value = qotool::platform::ParseDouble(start);
        }
    }
    *out = negative ? -value : value;
    return true;
}

void CQoLanguage::ReadNumber(char*& cursor, char* p, bool negative) {
    double value;
    if (!ScanNumber(p, negative, &value)) {
        ReportError("数据缺指数", p);
        cursor = p;
        return;
    }
    m_dValue = value;
    m_cType = 'N';
    cursor = p;
}
