// The operator loop that runs after every operand, and the operators. There
// is no parse tree: each operator evaluates its right operand with a
// terminator set that stops at every operator binding less tightly.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>
#include <strings.h>

#include "engine/debugger_seam.h"
#include "engine/executor.h"
#include "engine/run_context.h"
#include "engine/scanner.h"
#include "engine/var_store.h"
#include "platform/number_text.h"
#include "platform/string_block.h"
#include "qotool/qotool.h"

using namespace qotool::engine;

namespace {


const double kPi = std::acos(-1.0);

// The left operand of an operator, copied when the operator is met.
struct Operand {
    char type;
    double number;
    CString text;  // S: the string, P: the extended type

    explicit Operand(const CQoLanguage& qo) : type(qo.m_cType), number(0) {
        switch (type) {
        case 'N': number = qo.m_dValue; break;
        case 'S': text = qo.m_strValue; break;
        case 'P':
            number = (double)qo.m_pValue;
            text = qo.m_strExtType;
            break;
        default: break;
        }
    }
    // Text for messages: the string, the extended type, or the number.
    CString Display() const {
        if (type != 'N') return text;
        char buf[32];
        return CString(buf, qotool::platform::FormatNumber15(number, buf));
    }
};

CString DisplayOf(CQoLanguage& qo) {
    switch (qo.m_cType) {
    case 'N': {
        char buf[32];
        return CString(buf, qotool::platform::FormatNumber15(qo.m_dValue, buf));
    }
    case 'S': return qo.m_strValue;
    case 'P': return qo.m_strExtType;
    default: return CString();
    }
}

bool OperatorChar(char c) { return c == '+' || c == '-' || c == '*' || c == '/' || c == '%'; }

int CompareNoCaseBytes(const char* a, const char* b) {
    for (;; ++a, ++b) {
        int x = (unsigned char)*a, y = (unsigned char)*b;
        if (x >= 'A' && x <= 'Z') x += 32;
        if (y >= 'A' && y <= 'Z') y += 32;
        if (x != y || !x) return x - y;
    }
}

// Passes over one membership group: from its opening bracket to the first
// closing ')' or ']' (for '(' and '[') or the matching '}' (for '{').
void SkipGroup(char*& p) {
    char open = *p++;
    for (;;) {
        SkipExpression(p, 0);
        char c = *p;
        if (!c) return;
        if (open == '{') {
            if (c == '}') {
                SkipOne(p);
                return;
            }
        } else if (c == ')' || c == ']') {
            SkipOne(p);
            return;
        }
        ++p;  // ',' or a stray closer inside the group
    }
}

// The variable that the innermost assignment under way is about to store
// this S+S sum into, when the sum's left part is that variable's own string
// and nothing can run between the sum and the store: the sum is made in the
// assignment's own activation, read with its cursor, and the cursor stands
// where that activation's operator loop stops (blanks and comments, then
// the end, ';', '}' or ')', at the same bracket depth). The name must be
// plain and found without a link (FindPlainName, which also declines while
// the debugger or an interrupt may look in), and neither a syntax check nor
// read-only mode may be on, since either would keep the store from coming.
QoLVarDefine* AppendTarget(CQoLanguage* qo, char*& cursor, const CString& left) {
    PendingAssignment* a = t_pendingAssignment;
    if (!a || a->cursor != &cursor || a->qo != qo || a->grown) return nullptr;
    const QoLRunContext* run = qo->m_pRun;
    if (run->catchDepth != a->depth || run->bracketDepth != a->bracket) return nullptr;
    if (qo->m_bSyntaxCheck || (qo->m_modeFlags & 0x10)) return nullptr;
    char* p = cursor;
    SkipBlanks(p);
    if (*p && *p != ';' && *p != '}' && *p != ')') return nullptr;
    if ((a->name[0] | 0x20) == 't' && strcasecmp(a->name, "TableBufferName") == 0) return nullptr;
    bool decided;
    QoLVarDefine* record = FindPlainName(qo, a->name, &decided);
    if (!record || record->m_cType != 'S' || record->m_strDef.c_str() != left.c_str()) return nullptr;
    return record;
}

// Appends right to the string of record, which left shares, in place when
// the two are its only holders and its block has room; true when it did.
bool GrowInPlace(QoLVarDefine* record, CString& left, const CString& right) {
    using qotool::platform::BlockHolders;
    if (BlockHolders(left) != 2) return false;
    left.Empty();
    CString& text = record->m_strDef;
    const int before = text.GetLength();
    if (!qotool::platform::AppendInPlace(text, right.c_str(), right.GetLength())) {
        left = text;
        return false;
    }
    PendingAssignment* a = t_pendingAssignment;
    a->grown = record;
    a->grownText = text.c_str();
    a->lengthBefore = before;
    return true;
}

}  // namespace

// The innermost assignment under way on this thread.
thread_local PendingAssignment* qotool::engine::t_pendingAssignment QOTOOL_FAST_TLS = nullptr;

void PendingAssignment::TakeBack() noexcept {
    if (grown->m_strDef.c_str() != grownText) return;
    // The store did not come: the variable's text is what it was.
    CString& text = grown->m_strDef;
    try {
        if (qotool::platform::BlockHolders(text) == 1)
            text.GetBufferSetLength(lengthBefore);
        else
            text = CString(text.c_str(), lengthBefore);
    } catch (...) {
        // No memory for a copy: the text stays as grown.
    }
}

void CQoLanguage::OperatorLoop(char*& cursor, const char* terminators, short savedBracket, bool assigned) {
    QoLRunContext* run = m_pRun;
    for (;;) {
        if (run->bracketDepth > savedBracket) FunctionBracketTrace(cursor, *cursor == ')' ? ')' : '-');
        if (assigned || m_cType == 'X') return;
        SkipBlanks(cursor);
        if (*cursor == '`') {
            if (cursor[1] == '`') {
                m_dValue *= 180.0 / kPi;
                cursor += 2;
            } else {
                m_dValue *= kPi / 180.0;
                ++cursor;
            }
            SkipBlanks(cursor);
        }
        char c = *cursor;
        if (c == 0 || c == ';' || c == '}') return;
        if (strchr(terminators, c) && !(c == '*' && cursor[1] == '*')) return;
        ++cursor;
        ApplyOperator(cursor, c);
    }
}

void CQoLanguage::ApplyOperator(char*& cursor, char op) {
    char* at = cursor - 1;
    if (op == '%') {
        ApplyPercent(cursor);
        return;
    }
    const char type = m_cType;
    bool allowed = true;
    switch (type) {
    case 'S': allowed = !strchr("-/?&|^", op); break;
    case 'P': allowed = strchr("+-!<=>", op) != nullptr; break;
    case 'Z': allowed = strchr("!<=>", op) != nullptr; break;
    default: break;
    }
    if (!allowed) {
        CString message;
        message.Format("%c型数据无%c操作", type, op);
        ReportError(message, at);
        return;
    }
    if (!strchr("+-*/<>=!$&|^?", op)) {
        CString message;
        message.Format("不认识的连接符或不期望的句法：%c%.20s...", op, cursor);
        ReportError(message, at);
        return;
    }
    if (OperatorChar(op) && OperatorChar(*cursor) && !(cursor[0] == '%' && cursor[1] == '[') && *cursor != '*') {
        ReportError("操作符不能直接相连", cursor);
        return;
    }
    switch (op) {
    case '+': {
        Operand left(*this);
        DoSentence(cursor, kSetA, 0, 0);
        const char right = m_cType;
        if (left.type == '?' && (right == 'P' || right == 'Z')) {
            ReportError("?型数据不能做加法", cursor);
            return;
        }
        if (left.type == '?' || right == '?' || right == 'X') return;
        if (left.type == 'S' && right == 'S') {
            QoLVarDefine* target = AppendTarget(this, cursor, left.text);
            if (target && GrowInPlace(target, left.text, m_strValue)) {
                m_strValue = target->m_strDef;
                return;
            }
            // One buffer of the exact size (or of twice that when it goes
            // back into the variable whose string is the left part).
            const int64_t total = (int64_t)left.text.GetLength() + m_strValue.GetLength();
            bool allocated = total <= INT32_MAX;  // beyond the string limit fails like memory
            if (allocated) {
                try {
                    CString sum;
                    if (target)
                        qotool::platform::ReserveGrowing(sum, (int)total);
                    else
                        sum.Reserve((int)total);
                    sum += left.text;
                    sum += m_strValue;
                    m_strValue = sum;
                } catch (const std::bad_alloc&) {
                    allocated = false;
                }
            }
            if (!allocated) {
                ReportError(kOutOfMemory, cursor);
                return;
            }
        } else if (left.type == 'N' && right == 'N') {
            m_dValue = left.number + m_dValue;
        } else if (left.type == 'P' && right == 'N') {
            m_pValue = (uintptr_t)qotool::platform::TruncToInt64(left.number + m_dValue);
            m_strExtType = left.text;
            m_cType = 'P';
        } else {
            CString message;
            message.Format("%c型数据(%s)不能加%c型数据(%s)", left.type, left.Display().c_str(), right,
                           DisplayOf(*this).c_str());
            ReportError(message, cursor);
        }
        return;
    }
    case '-': {
        Operand left(*this);
        DoSentence(cursor, kSetB, 'N', 0);
        if (left.type == '?' || m_cType == '?' || m_cType == 'X') return;
        if (left.type == 'P') {
            m_pValue = (uintptr_t)qotool::platform::TruncToInt64(left.number - m_dValue);
            m_strExtType = left.text;
            m_cType = 'P';
        } else {
            m_dValue = left.number - m_dValue;
        }
        return;
    }
    case '*': {
        Operand left(*this);
        if (*cursor == '*') {
            ++cursor;
            DoSentence(cursor, kSetC, 0, 0);
            if (left.type == '?' || m_cType == '?' || m_cType == 'X') return;
            if (m_cType == 'N') {
                if (left.type == 'S') {
                    ReportError("S型数据无**乘方操作", cursor);
                    return;
                }
                m_dValue = std::pow(left.number, m_dValue);
            } else if (m_cType == 'P') {
                if (!Dereference(false)) {
                    ReportError("不能对非qol变量型地址进行*取值操作", cursor);
                    return;
                }
                if (m_cType != 'N') {
                    ReportError("只能乘以N型数据", cursor);
                    return;
                }
                m_dValue = left.number * m_dValue;
            } else {
                ReportError("“**”后要么是N型数据做乘方或qol变量地址取值后做乘法", cursor);
            }
            return;
        }
        DoSentence(cursor, kSetC, 'N', 0);
        if (left.type == '?' || m_cType == '?' || m_cType == 'X') return;
        if (left.type == 'S') {
            int32_t count = ToInt32(m_dValue);
            if (count < 0) {
                ReportError("串自重复次数不能为负数", cursor);
                return;
            }
            if ((int64_t)left.text.GetLength() * count > (1 << 30)) {
                ReportError("数值范围超界", cursor);
                return;
            }
            // The first copy, then the part filled so far copied after itself.
            const int unit = left.text.GetLength();
            const int total = unit * count;
            CString repeated;
            if (total > 0) {
                char* p = repeated.GetBufferSetLength(total);
                memcpy(p, left.text.c_str(), (size_t)unit);
                for (int filled = unit; filled < total;) {
                    const int n = filled < total - filled ? filled : total - filled;
                    memcpy(p + filled, p, (size_t)n);
                    filled += n;
                }
            }
            m_strValue = repeated;
            m_cType = 'S';
        } else {
            m_dValue = left.number * m_dValue;
        }
        return;
    }
    case '/': {
        // Type and number only: nothing to destroy when the division fails.
        const char leftType = m_cType;
        const double leftNumber = leftType == 'N' ? m_dValue : leftType == 'P' ? (double)m_pValue : 0;
        const struct {
            char type;
            double number;
        } left{leftType, leftNumber};
        DoSentence(cursor, kSetD, 'N', 0);
        if (left.type == '?' || m_cType == '?' || m_cType == 'X') return;
        if (m_dValue == 0) {
            ReportError("被零除", cursor);
            return;
        }
        m_dValue = left.number / m_dValue;
        return;
    }
    case '<':
    case '>':
    case '=':
    case '!': ApplyComparison(cursor, op); return;
    case '$': {
        if (type == 'N') {
            ApplyMembership(cursor);
            return;
        }
        Operand left(*this);
        DoSentence(cursor, kSetE, type == 'S' ? 'S' : 0, 0);
        if (left.type == '?' || m_cType == '?' || m_cType == 'X') return;
        m_dValue = strstr(m_strValue.c_str(), left.text.c_str()) ? 1.0 : 0.0;
        m_cType = 'N';
        return;
    }
    case '&':
    case '|':
        if (*cursor == op) {
            ++cursor;
            Operand left(*this);
            bool leftTrue = left.number != 0;
            if (left.type != '?' && (op == '&' ? !leftTrue : leftTrue)) {
                SkipExpression(cursor, '?');
                m_cType = 'N';
                m_dValue = op == '&' ? 0.0 : 1.0;
                return;
            }
            DoSentence(cursor, kSetG, 'N', 0);
            if (left.type == '?' || m_cType == '?' || m_cType == 'X') return;
            m_dValue = m_dValue != 0 ? 1.0 : 0.0;
            return;
        }
        [[fallthrough]];
    case '^': {
        Operand left(*this);
        DoSentence(cursor, kSetG, 'N', 0);
        if (left.type == '?' || m_cType == '?' || m_cType == 'X') return;
        int32_t a = ToInt32(left.number), b = ToInt32(m_dValue);
        m_dValue = (double)(op == '&' ? (a & b) : op == '|' ? (a | b) : (a ^ b));
        return;
    }
    case '?': ApplyConditional(cursor); return;
    default: return;
    }
}

void CQoLanguage::ApplyPercent(char*& cursor) {
    Operand left(*this);
    CString source;
    if (left.type == 'N') {
        DoSentence(cursor, kSetD, 0, 0);
    } else {
        source = GetValueString();
        DoSentence(cursor, kSetD, 'S', 0);
    }
    if (left.type == '?' || m_cType == '?' || m_cType == 'X') return;
    if (m_cType == 'N') {
        int32_t divisor = ToInt32(m_dValue);
        if (divisor == 0) {
            ReportError("被零整除", cursor);
            return;
        }
        int32_t dividend = ToInt32(left.number);
        m_dValue = divisor == -1 ? 0.0 : (double)(dividend % divisor);
        return;
    }
    if (m_cType != 'S') {
        ReportError("操作符%后面的操作数只能是N型（整除求余数）或者S型（类型转换）", cursor);
        return;
    }
    if (left.type == 'N') {
        char buf[32];
        source = CString(buf, qotool::platform::FormatNumber15(left.number, buf));
    }
    CString spec = m_strValue;
    if (spec.IsEmpty()) {
        m_cType = left.type;
        return;
    }
    switch (spec[0]) {
    case 'S':
        m_strValue = source;
        m_cType = 'S';
        break;
    case 'N':
        m_dValue = qotool::platform::ParseDouble(source.c_str());
        m_cType = 'N';
        break;
    case 'P':
        if (spec.GetLength() > 1 && spec[1] != '%') {
            ReportError("扩展类型必须用%打头", cursor);
            return;
        }
        m_pValue = qotool::platform::NarrowPointer(qotool::platform::ParseInt64(source.c_str()));
        m_strExtType = spec.Mid(1);
        m_cType = 'P';
        break;
    default: m_cType = spec[0]; break;
    }
}

void CQoLanguage::ApplyComparison(char*& cursor, char op) {
    if ((op == '<' || op == '>') && *cursor == op) {
        ++cursor;
        Operand left(*this);
        if (left.type == 'S' || left.type == 'P') {
            ReportError(left.type == 'S' ? "S型数据无<<和>>操作" : "P型数据无<<和>>操作", cursor);
            return;
        }
        DoSentence(cursor, kSetE, 'N', 0);
        if (left.type == '?' || m_cType == '?' || m_cType == 'X') return;
        int32_t count = ToInt32(m_dValue);
        if (count < 0 || count > 32) {
            ReportError("<<和>>操作的位数不能超出0～32", cursor);
            return;
        }
        int32_t value = ToInt32(left.number);
        count &= 31;
        m_dValue = op == '<' ? (double)(int32_t)((uint32_t)value << count) : (double)(value >> count);
        return;
    }
    char second = 0;
    if (*cursor == '<' || *cursor == '=' || *cursor == '>') second = *cursor++;
    if (op == '=' && second != '=') {
        ReportError("非变量不可赋值（若比较是否相等则需用两个等号）", cursor - (second ? 1 : 0));
        return;
    }
    bool noCase = false;
    if (second && *cursor == '$') {
        noCase = true;
        ++cursor;
    }
    Operand left(*this);
    int order;
    if (left.type == 'S') {
        DoSentence(cursor, kSetF, 'S', 0);
        if (m_cType == '?' || m_cType == 'X') return;
        order = noCase ? CompareNoCaseBytes(left.text.c_str(), m_strValue.c_str())
                       : strcmp(left.text.c_str(), m_strValue.c_str());
        order = order < 0 ? -1 : order > 0 ? 1 : 0;
    } else {
        DoSentence(cursor, kSetF, 0, 0);
        if (m_cType == 'X' || left.type == '?' || m_cType == '?') return;
        double right;
        switch (m_cType) {
        case 'N': right = m_dValue; break;
        case 'P': right = (double)m_pValue; break;
        case 'S': ReportError("S型串不能与非串进行比较", cursor); return;
        default: right = 0; break;
        }
        order = left.number < right ? -1 : left.number > right ? 1 : 0;
        if (left.number != left.number || right != right) order = 2;  // unordered
    }
    bool result;
    switch (op) {
    case '=': result = order == 0; break;
    case '!': result = order != 0; break;
    case '<':
        result = second == '=' ? (order == -1 || order == 0) : second == '>' ? order != 0 : order == -1;
        break;
    default: result = second == '=' ? (order == 1 || order == 0) : order == 1; break;
    }
    m_cType = 'N';
    m_dValue = result ? 1.0 : 0.0;
}

void CQoLanguage::ApplyMembership(char*& cursor) {
    const double number = m_dValue;
    bool member = false;
    SkipBlanks(cursor);
    while (*cursor == '(' || *cursor == '[' || *cursor == '{') {
        if (member) {
            SkipGroup(cursor);
            continue;
        }
        char open = *cursor;
        SkipOne(cursor);
        if (open == '{') {
            for (;;) {
                DoSentence(cursor, ",", 'N', 0);
                if (m_cType == 'N' && m_dValue == number) member = true;
                if (*cursor == ',') {
                    SkipOne(cursor);
                    continue;
                }
                if (*cursor == '}') SkipOne(cursor);
                break;
            }
            continue;
        }
        bool lowerOk = true, upperOk = true;
        if (*cursor == '*') {
            SkipOne(cursor);
        } else {
            DoSentence(cursor, ",", 'N', 0);
            double lower = m_dValue;
            lowerOk = open == '[' ? number >= lower : number > lower;
        }
        if (*cursor == ',') SkipOne(cursor);
        if (*cursor == '*') {
            SkipOne(cursor);
        } else {
            DoSentence(cursor, ")]", 'N', 0);
            double upper = m_dValue;
            upperOk = *cursor == ']' ? number <= upper : number < upper;
        }
        if (*cursor == ')' || *cursor == ']') SkipOne(cursor);
        if (lowerOk && upperOk) member = true;
    }
    m_cType = 'N';
    m_dValue = member ? 1.0 : 0.0;
}

void CQoLanguage::ApplyConditional(char*& cursor) {
    const bool unknown = m_cType == '?';
    const double condition = m_dValue;
    char* thenPart = cursor;
    char* elsePart = cursor;
    SkipExpression(elsePart, ':');
    cursor = (unknown || condition != 0) ? thenPart : elsePart;
    for (;;) {
        DoSentence(cursor, kSetG, 0, ':');
        if (*cursor != '?' || m_cType == 'X') break;
        ++cursor;
        if (m_cType != '?' && m_dValue == 0) SkipExpression(cursor, ':');
    }
    cursor = elsePart;
    SkipExpression(cursor, 0);
}

char CQoLanguage::Dereference(bool validateOnly) {
    if (m_cType != 'P' || strcmp(m_strExtType.c_str(), "%qol") != 0) return 0;
    QoLVarDefine* record = reinterpret_cast<QoLVarDefine*>(m_pValue);
    if (!IsLiveRecord(this, record)) return 0;
    char type = record->GetType();
    if (type != 'N' && type != 'S' && type != 'P' && type != 'Z') {
        ReportError("地址指针取变量值操作非法", nullptr);
        return 0;
    }
    if (validateOnly) return 'p';
    CString text = record->GetDef();
    m_strValue = text;
    m_dValue = qotool::platform::ParseDouble(text.c_str());
    if (type == 'P') PointerFromText(text.c_str());
    m_cType = type;
    return '*';
}
