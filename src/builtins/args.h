// Argument readers and result setters shared by every built-in group. A
// handler starts with the cursor just after the call's '(' (builtins.h);
// the readers evaluate one argument each through DoSentence, so errors
// unwind through the interpreter's one funnel as anywhere else.
//
// Readers that need a ',' and find none leave the value type 'f', which the
// dispatch turns into "函数缺参数".
#ifndef QOTOOL_BUILTINS_ARGS_H
#define QOTOOL_BUILTINS_ARGS_H

#include <strings.h>

#include <cstdint>
#include <string_view>

#include "engine/executor.h"
#include "qotool/cstring.h"
#include "qotool/qolanguage.h"

namespace qotool::builtins {

// Built-in names compare without regard to case.
inline bool Is(const char* word, const char* name) { return strcasecmp(word, name) == 0; }

// ---- results ----

inline void SetNumber(CQoLanguage* qo, double value) {
    qo->m_dValue = value;
    qo->m_cType = 'N';
}
inline void SetString(CQoLanguage* qo, const CString& text) {
    qo->m_strValue = text;
    qo->m_cType = 'S';
}
inline void SetString(CQoLanguage* qo, std::string_view text) {
    qo->m_strValue = CString(text.data(), (int)text.size());
    qo->m_cType = 'S';
}

// During a syntax check an argument may come back undetermined ('?'); its
// number or text means nothing then.
inline bool Undetermined(const CQoLanguage* qo) { return qo->m_bSyntaxCheck && qo->m_cType == '?'; }

// The current value as a string or number argument. A value of another type
// (only possible during a syntax check) counts as "" or 0.
inline CString StringValue(const CQoLanguage* qo) { return qo->m_cType == 'S' ? qo->m_strValue : CString(); }
inline int IntValue(const CQoLanguage* qo) { return qo->m_cType == 'N' ? engine::ToInt32(qo->m_dValue) : 0; }

// Integer part through 64 bits as the processor converts it: outside the
// 64-bit range, or NaN, the integer indefinite (INT64_MIN). Unlike
// platform::TruncToInt64, which saturates and maps NaN to 0.
inline int64_t Trunc64(double d) {
    if (!(d > -9223372036854775808.0 && d < 9223372036854775808.0)) return INT64_MIN;
    return (int64_t)d;
}

// ---- arguments ----

// One argument up to the next ',' or ')' (neither consumed); false after an
// error value.
inline bool Arg(CQoLanguage* qo, char*& cursor, char type) {
    qo->DoSentence(cursor, "),", type, 0);
    return qo->m_cType != 'X';
}

// The last (or only) argument: evaluated up to ')', which is consumed.
inline bool SoleArg(CQoLanguage* qo, char*& cursor, char type) {
    qo->DoSentence(cursor, ")", type, ')');
    return qo->m_cType != 'X';
}

// Consumes the ',' before a required argument; without one the value is
// marked 'f' (the function lacks arguments).
inline bool Comma(CQoLanguage* qo, char*& cursor) {
    if (*cursor != ',') {
        qo->m_cType = 'f';
        return false;
    }
    ++cursor;
    return true;
}

// An argument that a ',' must follow (consumed); false, with the marker
// 'f', when it is missing.
inline bool ArgThenComma(CQoLanguage* qo, char*& cursor, char type) {
    qo->DoSentence(cursor, ",)", type, 0);
    return Comma(qo, cursor);
}

}  // namespace qotool::builtins

#endif
