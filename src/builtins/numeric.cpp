// Numeric and conversion built-ins: the mathematical functions, int, sign,
// max, min, limit, rand, clock, RGB, decimal, convert, str, str0, val, val0,
// val2, Type, range and is.
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <strings.h>

#include "builtins/args.h"
#include "builtins/builtins.h"
#include "engine/executor.h"
#include "engine/run_context.h"
#include "engine/scanner.h"
#include "engine/var_store.h"
#include "platform/clock.h"
#include "platform/number_text.h"
#include "platform/random.h"
#include "qotool/qolanguage.h"
#include "qotool/qotool.h"

namespace qotool::builtins {

namespace {

using engine::DispatchKey;
using engine::Key;
using engine::SkipBlanks;
using engine::SkipExpression;
using engine::SkipOne;
using engine::ToInt32;
using platform::FormatNumber15;
using platform::ParseDouble;
using platform::ParseInt64;

constexpr char kDigits[] = "0123456789abcdefghijklmnopqrstuvwxyz";



// A function defined on part of the numbers: the message when x lies
// outside (not during a syntax check, which only looks at the form).
inline void Partial(CQoLanguage* qo, char*& cursor, double (*fn)(double), bool inside, const char* message) {
    const double x = qo->m_dValue;
    SetNumber(qo, inside ? fn(x) : x);
    if (!inside && !qo->m_bSyntaxCheck) qo->ReportError(message, cursor);
}

// One of the functions of a single number argument.
Dispatched Unary(CQoLanguage* qo, char*& cursor, double (*fn)(double)) {
    SoleArg(qo, cursor, 'N');
    SetNumber(qo, fn(qo->m_dValue));
    return Dispatched::Value;
}

double Sign(double x) { return x == 0 ? 0.0 : x < 0 ? -1.0 : 1.0; }
double IntPart(double x) { return (double)ToInt32(x); }
double Exp(double x) { return std::exp(x); }
double Cos(double x) { return std::cos(x); }
double Sin(double x) { return std::sin(x); }
double Tan(double x) { return std::tan(x); }
double Atan(double x) { return std::atan(x); }
double Abs(double x) { return std::fabs(x); }
double Acos(double x) { return std::acos(x); }
double Asin(double x) { return std::asin(x); }
double Log(double x) { return std::log(x); }
double Log10(double x) { return std::log10(x); }
double Sqrt(double x) { return std::sqrt(x); }

Dispatched MaxMin(CQoLanguage* qo, char*& cursor, bool isMax) {
    qo->DoSentence(cursor, ",)", 'N', 0);
    double best = qo->m_dValue;
    while (*cursor == ',') {
        ++cursor;
        qo->DoSentence(cursor, ",)", 'N', 0);
        const double v = qo->m_dValue;
        if (isMax ? v > best : v < best) best = v;  // on ties the first stays
    }
    SetNumber(qo, best);
    return Dispatched::Value;
}

Dispatched Limit(CQoLanguage* qo, char*& cursor) {
    if (!ArgThenComma(qo, cursor, 'N')) return Dispatched::Value;
    const double x = qo->m_dValue;
    if (!ArgThenComma(qo, cursor, 'N')) return Dispatched::Value;
    const double lo = qo->m_dValue;
    if (x < lo) {
        SkipExpression(cursor, 0);  // the upper bound is not evaluated
        SetNumber(qo, lo);
        return Dispatched::Value;
    }
    qo->DoSentence(cursor, ",)", 'N', 0);
    const double hi = qo->m_dValue;
    SetNumber(qo, x > hi ? hi : x);
    return Dispatched::Value;
}

Dispatched Rgb(CQoLanguage* qo, char*& cursor) {
    int8_t r = 0, g = 0, b = 0;
    qo->ReadPara('N', cursor, "%1%1%1", &r, &g, &b);
    SetNumber(qo, (double)(uint8_t)r + 256.0 * (uint8_t)g + 65536.0 * (uint8_t)b);
    return Dispatched::Value;
}

Dispatched Decimal(CQoLanguage* qo, char*& cursor) {
    if (!ArgThenComma(qo, cursor, 'N')) return Dispatched::Value;
    const double x = qo->m_dValue;
    SoleArg(qo, cursor, 0);
    int digits;
    bool asText;
    if (qo->m_cType == 'S') {
        digits = (int32_t)ParseInt64(qo->m_strValue.c_str());
        asText = true;
    } else if (qo->m_cType == 'N') {
        digits = ToInt32(qo->m_dValue);
        asText = false;
    } else {
        SetNumber(qo, x);
        if (!Undetermined(qo)) qo->ReportError("精度圆整的类型只能是N/S型的", cursor);
        return Dispatched::Value;
    }
    const double p = std::pow(10.0, digits);
    double a = std::fabs(x) * p;
    const double fraction = std::fmod(a, 1.0);
    a -= fraction;
    if (fraction >= 0.5) a += 1;  // half away from zero
    double result = a / p;
    // Beyond the double range nothing is left to round: a p of infinity
    // (more than 308 decimals) or an a that overflowed keeps x, a p of zero
    // rounds everything to 0.
    if (!std::isfinite(a)) result = std::fabs(x);
    if (x < 0) result = -result;
    if (p == 0) result = 0;
    if (!asText) {
        SetNumber(qo, result);
        return Dispatched::Value;
    }
    // A finite result has at most 309 digits before the point and none but
    // zeros after the 1074th decimal: those are appended, as printf would.
    constexpr int kExactDecimals = 1074;
    char buf[309 + 2 + kExactDecimals + 8];
    int n;
    const int written = digits > kExactDecimals ? kExactDecimals : digits;
    if (digits > 0 && std::isfinite(result)) {
        auto done = std::to_chars(buf, buf + sizeof buf, result, std::chars_format::fixed, written);
        n = (int)(done.ptr - buf);
    } else {
        n = FormatNumber15(result, buf);
    }
    qo->m_strValue = CString(buf, n);
    if (digits > written && std::isfinite(result)) qo->m_strValue += CString('0', digits - written);
    qo->m_cType = 'S';
    return Dispatched::Value;
}

Dispatched Convert(CQoLanguage* qo, char*& cursor) {
    qo->DoSentence(cursor, ",)", 0, 0);
    CString text = qo->GetValueString();
    if (qo->m_cType == 'X') {  // an infinite number has no text
        qo->ReportError(nullptr, cursor);
        return Dispatched::Value;
    }
    if (*cursor != ',') {
        qo->m_cType = 'f';
        return Dispatched::Value;
    }
    ++cursor;
    qo->DoSentence(cursor, ",)", 'S', 0);
    const char type = qo->m_cType == 'S' ? qo->m_strValue.c_str()[0] : qo->m_cType;
    if (*cursor == ')') {
        qo->FunctionBracketTrace(cursor, ')');
        qo->m_strExtType.Empty();
    } else {
        if (*cursor) ++cursor;
        SoleArg(qo, cursor, 'S');
        CString ext = qo->m_strValue;
        qo->m_strExtType = ext;
    }
    qo->m_cType = type;
    switch (type) {
    case 'S': qo->m_strValue = text; break;
    case 'N': qo->m_dValue = ParseDouble(text.c_str()); break;
    case 'P': qo->m_pValue = platform::NarrowPointer(ParseInt64(text.c_str())); break;
    default: break;
    }
    return Dispatched::Value;
}

// A base argument after ',' (2 to 36), or 10 without one; 0 after an error.
int ReadBase(CQoLanguage* qo, char*& cursor, const char* message) {
    if (*cursor != ',') return 10;
    ++cursor;
    SoleArg(qo, cursor, 'N');
    if (Undetermined(qo)) return 10;
    const int32_t base = ToInt32(qo->m_dValue);
    if (base < 2 || base > 36) {
        qo->ReportError(message, cursor);
        return 0;
    }
    return base;
}

Dispatched Str(CQoLanguage* qo, char*& cursor) {
    qo->DoSentence(cursor, ",)", 'N', 0);
    const double x = qo->m_dValue;
    const int base = ReadBase(qo, cursor, "str()第二个参数只能是2至36进制");
    if (!base) return Dispatched::Value;
    char buf[72];
    int n;
    if (base == 10) {
        n = FormatNumber15(x, buf);
    } else {
        uint64_t u = (uint64_t)Trunc64(x);
        char* end = buf + sizeof buf;
        char* p = end;
        do {
            *--p = kDigits[u % (unsigned)base];
            u /= (unsigned)base;
        } while (u);
        n = (int)(end - p);
        memmove(buf, p, (size_t)n);
    }
    qo->m_strValue = CString(buf, n);
    qo->m_cType = 'S';
    return Dispatched::Value;
}

Dispatched Str0(CQoLanguage* qo, char*& cursor) {
    SoleArg(qo, cursor, 0);
    CString text = qo->GetValueString();
    if (qo->m_cType == 'X') {
        qo->ReportError(nullptr, cursor);
        return Dispatched::Value;
    }
    qo->m_strValue = text;
    qo->m_cType = 'S';
    return Dispatched::Value;
}

Dispatched Val(CQoLanguage* qo, char*& cursor) {
    qo->DoSentence(cursor, ",)", 'S', 0);
    CString text = qo->m_strValue;
    const int base = ReadBase(qo, cursor, "val()第二个参数只能是2至36进制");
    if (!base) return Dispatched::Value;
    if (base == 10) {
        SetNumber(qo, ParseDouble(text.c_str()));
        return Dispatched::Value;
    }
    uint32_t value = 0;
    for (const char* p = text.c_str(); *p; ++p) {
        unsigned char c = (unsigned char)*p;
        if (c >= 'A' && c <= 'Z') c = (unsigned char)(c + 32);
        const char* at = (const char*)memchr(kDigits, c, 36);
        if (!at || at - kDigits >= base) {
            SetNumber(qo, (double)(int32_t)value);
            char message[200];
            snprintf(message, sizeof message,
                     "val()函数第一个参数串超出%d进制所认识的字符集‘%.*s’且不支持小数和负数的非十进制转换", base,
                     base, kDigits);
            qo->ReportError(message, cursor);
            return Dispatched::Value;
        }
        value = value * (uint32_t)base + (uint32_t)(at - kDigits);  // 32-bit, wrapping
    }
    SetNumber(qo, (double)(int32_t)value);
    return Dispatched::Value;
}

Dispatched Val0(CQoLanguage* qo, char*& cursor) {
    SoleArg(qo, cursor, 0);
    double v = 0;
    switch (qo->m_cType) {
    case 'N': v = qo->m_dValue; break;
    case 'S': v = ParseDouble(qo->m_strValue.c_str()); break;
    case 'P': v = (double)qo->m_pValue; break;
    default: break;
    }
    SetNumber(qo, v);
    return Dispatched::Value;
}

Dispatched Val2(CQoLanguage* qo, char*& cursor) {
    qo->DoSentence(cursor, ",)", 'S', 0);
    CString text = qo->m_strValue;
    double radix = 60;
    if (*cursor == ',') {
        ++cursor;
        SoleArg(qo, cursor, 'N');
        radix = qo->m_dValue;
    }
    const char* t = text.c_str();
    double result = ParseDouble(t), divisor = 1;
    while ((t = strchr(t, ':')) != nullptr) {
        ++t;
        divisor *= radix;
        result += ParseDouble(t) / divisor;
    }
    SetNumber(qo, result);
    return Dispatched::Value;
}

Dispatched Type(CQoLanguage* qo, char*& cursor) {
    char* start = cursor;
    SkipExpression(cursor, 0);  // the ')' stays for the executor
    char type = '?';
    if (!qo->m_bSyntaxCheck) {
        QoLRunContext* run = qo->m_pRun;
        const unsigned char savedTrace = run->traceFlags;
        run->traceFlags |= 8;  // an error here gets no position text
        try {
            engine::CatchScope scope(run);
            char* p = start;
            qo->DoSentence(p, ")", 0, 0);
            type = qo->m_cType;
        } catch (const engine::QolUnwind&) {
            type = 'X';
        }
        run->traceFlags = savedTrace;
        if (type == 'X') qo->ErrorString("");
    }
    qo->m_strValue = CString(type, 1);
    qo->m_cType = 'S';
    return Dispatched::Value;
}

// range(x){value: intervals; ...}
Dispatched Range(CQoLanguage* qo, char*& cursor) {
    SoleArg(qo, cursor, 'N');
    const double x = qo->m_dValue;
    if (*cursor != '{') {
        qo->ReportError("缺{}体，不符合函数格式“range(x){区间:返回值;...}”", cursor);
        return Dispatched::Statement;
    }
    char* const end = ruqo_SkipSentence(cursor, 0);
    char* p = cursor + 1;
    char* found = nullptr;
    while (!found) {
        SkipBlanks(p);
        if (!*p || *p == '}') break;
        if (*p == ';') {
            ++p;
            continue;
        }
        char* value = p;
        SkipExpression(p, ':');
        for (;;) {
            SkipBlanks(p);
            const char open = *p;
            if (!open || open == ';' || open == '}') break;
            if (open != '(' && open != '[') {
                qo->ReportError("range区间左边界符只能是(和[", p);
                return Dispatched::Statement;
            }
            SkipOne(p);
            bool holds = true, bounded = false;
            double lo = 0;
            if (*p == '*') {
                SkipOne(p);
            } else {
                qo->DoSentence(p, ",)]", 'N', 0);
                lo = qo->m_dValue;
                bounded = true;
                holds = open == '[' ? x >= lo : x > lo;
            }
            if (!holds) {
                // The rest of the interval is passed over unevaluated.
                SkipExpression(p, ']');
                if (*p == ')') SkipOne(p);
                continue;
            }
            double hi = lo;
            if (*p == ',') {
                SkipOne(p);
                if (*p == '*') {
                    SkipOne(p);
                    bounded = false;
                } else {
                    qo->DoSentence(p, ")]", 'N', 0);
                    hi = qo->m_dValue;
                    bounded = true;
                }
            }
            const char close = *p;
            if (close == ')' || close == ']') SkipOne(p);
            if (bounded) holds = close == ']' ? x <= hi : x < hi;
            if (holds) {
                found = value;
                break;
            }
        }
    }
    if (found) {
        qo->DoSentence(found, ":", 0, 0);
    } else {
        qo->m_cType = 'Z';
    }
    cursor = end;
    return Dispatched::Statement;
}

// The name of the k-th item variable of is(): v, v2, v3, ...
void ItemName(char* name, int k) {
    if (k == 1)
        memcpy(name, "v", 2);
    else
        snprintf(name, 16, "v%d", k);
}

// is(C; A1; A2; ...)
Dispatched IsCall(CQoLanguage* qo, char*& cursor) {
    char* const condition = cursor;
    SkipExpression(cursor, 0);
    int index = 0, found = 0, created = 0;
    char name[16];
    while (*cursor == ';' && !found) {
        ++cursor;
        ++index;
        bool holds = true;
        for (;;) {
            SkipBlanks(cursor);
            if (*cursor == '=') {
                ++cursor;
                qo->DoSentence(cursor, ",;)", 'N', 0);
                holds = qo->m_dValue != 0;
            } else {
                bool negate = false;
                if (*cursor == '!') {
                    negate = true;
                    ++cursor;
                }
                for (int k = 1;; ++k) {
                    qo->DoSentence(cursor, ":,;)", 0, 0);
                    const char type = qo->m_cType;
                    if (type == 'N' || type == 'S' || type == 'P' || type == 'Z') {
                        ItemName(name, k);
                        if (k > created) {
                            engine::DoVariable(qo, name, 'z', 'B');
                            created = k;
                        }
                        engine::DoVariable(qo, name, type, 'B');
                    }
                    if (cursor[0] == ':' && cursor[1] != ':') {
                        ++cursor;
                        continue;
                    }
                    break;
                }
                char* c = condition;
                qo->DoSentence(c, ";", 'N', 0);
                holds = (qo->m_dValue != 0) != negate;
            }
            if (!holds) {
                while (*cursor == ',') {
                    ++cursor;
                    SkipExpression(cursor, 0);
                }
                break;
            }
            if (*cursor != ',') break;
            ++cursor;
        }
        if (holds) found = index;
    }
    while (*cursor == ';' || *cursor == ',') {
        ++cursor;
        SkipExpression(cursor, 0);
    }
    for (int k = created; k >= 1; --k) {
        ItemName(name, k);
        engine::DoVariable(qo, name, 'r', 'B');
    }
    SetNumber(qo, found);
    return Dispatched::Value;
}

}  // namespace

Dispatched Numeric(CQoLanguage* qo, char*& cursor, const char* word) {
    switch (DispatchKey(word)) {
    case Key('a', 'b'):
        if (Is(word, "abs")) return Unary(qo, cursor, Abs);
        break;
    case Key('a', 'c'):
        if (Is(word, "acos")) {
            SoleArg(qo, cursor, 'N');
            Partial(qo, cursor, Acos, std::fabs(qo->m_dValue) <= 1, "acos() 自变量超出 -1,1 范围");
            return Dispatched::Value;
        }
        break;
    case Key('a', 's'):
        if (Is(word, "asin")) {
            SoleArg(qo, cursor, 'N');
            Partial(qo, cursor, Asin, std::fabs(qo->m_dValue) <= 1, "asin() 自变量超出 -1,1 范围");
            return Dispatched::Value;
        }
        break;
    case Key('a', 't'):
        if (Is(word, "atan")) return Unary(qo, cursor, Atan);
        if (Is(word, "atan2")) {
            if (!ArgThenComma(qo, cursor, 'N')) return Dispatched::Value;
            const double y = qo->m_dValue;
            SoleArg(qo, cursor, 'N');
            SetNumber(qo, std::atan2(y, qo->m_dValue));
            return Dispatched::Value;
        }
        break;
    case Key('c', 'l'):
        if (Is(word, "clock")) {
            SetNumber(qo, (double)platform::MonotonicMillis());
            return Dispatched::Value;
        }
        break;
    case Key('c', 'o'):
        if (Is(word, "cos")) return Unary(qo, cursor, Cos);
        if (Is(word, "convert")) return Convert(qo, cursor);
        break;
    case Key('d', 'e'):
        if (Is(word, "decimal")) return Decimal(qo, cursor);
        break;
    case Key('e', 'x'):
        if (Is(word, "exp")) return Unary(qo, cursor, Exp);
        break;
    case Key('i', 'n'):
        if (Is(word, "int")) return Unary(qo, cursor, IntPart);
        break;
    case Key('i', 's'):
        if (Is(word, "is")) return IsCall(qo, cursor);
        break;
    case Key('l', 'i'):
        if (Is(word, "limit")) return Limit(qo, cursor);
        break;
    case Key('l', 'o'):
        if (Is(word, "log")) {
            SoleArg(qo, cursor, 'N');
            Partial(qo, cursor, Log, qo->m_dValue > 0, "log() 自变量超出正数范围");
            return Dispatched::Value;
        }
        if (Is(word, "log10")) {
            SoleArg(qo, cursor, 'N');
            Partial(qo, cursor, Log10, qo->m_dValue > 0, "log10() 自变量超出正数范围");
            return Dispatched::Value;
        }
        break;
    case Key('m', 'a'):
        if (Is(word, "max")) return MaxMin(qo, cursor, true);
        break;
    case Key('m', 'i'):
        if (Is(word, "min")) return MaxMin(qo, cursor, false);
        break;
    case Key('r', 'a'):
        if (Is(word, "rand")) {
            // Reseeded from the clock on every call: two calls within one
            // millisecond give the same number.
            platform::SeedRandom((uint32_t)platform::MonotonicMillis());
            SetNumber(qo, platform::NextRandom());
            return Dispatched::Value;
        }
        if (Is(word, "range")) return Range(qo, cursor);
        break;
    case Key('r', 'g'):
        if (Is(word, "RGB")) return Rgb(qo, cursor);
        break;
    case Key('s', 'i'):
        if (Is(word, "sign")) return Unary(qo, cursor, Sign);
        if (Is(word, "sin")) return Unary(qo, cursor, Sin);
        break;
    case Key('s', 'q'):
        if (Is(word, "sqrt")) {
            SoleArg(qo, cursor, 'N');
            Partial(qo, cursor, Sqrt, qo->m_dValue >= 0, "sqrt() 自变量为负");
            return Dispatched::Value;
        }
        break;
    case Key('s', 't'):
        if (Is(word, "str")) return Str(qo, cursor);
        if (Is(word, "str0")) return Str0(qo, cursor);
        break;
    case Key('t', 'a'):
        if (Is(word, "tan")) return Unary(qo, cursor, Tan);
        break;
    case Key('t', 'y'):
        if (Is(word, "Type")) return Type(qo, cursor);
        break;
    case Key('v', 'a'):
        if (Is(word, "val")) return Val(qo, cursor);
        if (Is(word, "val0")) return Val0(qo, cursor);
        if (Is(word, "val2")) return Val2(qo, cursor);
        break;
    default: break;
    }
    return Dispatched::None;
}

}  // namespace qotool::builtins
