// Words met by the executor: labels, subscripts, function calls and the
// variable references (addresses, #include, ++/--, assignments, constants
// and reads).
#include <cmath>
#include <cstdio>
#include <cstring>
#include <strings.h>

#include "engine/builtin_hook.h"
#include "engine/compiled_form.h"
#include "engine/executor.h"
#include "engine/run_context.h"
#include "engine/scanner.h"
#include "engine/table_hook.h"
#include "engine/var_store.h"
#include "platform/number_text.h"
#include "qotool/qotool.h"

using namespace qotool::engine;

namespace {

void UndefinedVariable(CQoLanguage* qo, const char* word, const char* suffix, char* cursor) {
    CString message;
    message.Format("'%s' 变量未定义%s", word, suffix);
    qo->ReportError(message, cursor);
}

// Whether the right side of an assignment to word starts with word itself
// and a '+' (blanks and comments between): only then is an assignment
// watched for a sum that grows the variable in place (expression.cpp), so
// that other assignments pay nothing for it, not even on an error unwind.
bool SameNameThenPlus(char* right, const char* word) {
    size_t n = 0;
    while (word[n] && right[n] == word[n]) ++n;
    if (word[n] || IsWordChar(right[n])) return false;
    char* p = right + n;
    SkipBlanks(p);
    return *p == '+';
}

// Stores the value of an assignment's right side into word (a string given
// to TableBufferName binds the table buffer instead); an error value stores
// nothing. True when a variable was stored.
inline __attribute__((always_inline)) bool StoreAssigned(CQoLanguage* qo, const char* word) {
    if (qo->m_cType == 'X') return false;
    if (qo->m_cType == 'S' && (word[0] | 0x20) == 't' && strcasecmp(word, "TableBufferName") == 0) {
        qo->BindTableBuffer(qo->m_strValue.c_str());
        return false;
    }
    return DoVariable(qo, word, qo->m_cType, 'B') != nullptr;
}

}  // namespace

bool qotool::engine::PlainSubscript(const char* p, long* value, const char** end) {
    while (IsBlank(*p)) ++p;
    const char* digits = p;
    if (*p == '-' || *p == '+') ++p;
    if (!IsDigitChar(*p)) return false;
    while (IsDigitChar(*p)) ++p;
    while (IsBlank(*p)) ++p;
    if (*p != ']' && *p != ',') return false;
    *value = (long)qotool::platform::ParseInt64(digits);
    *end = p;
    return true;
}

void CQoLanguage::AppendSubscripts(char*& cursor, char* word) {
    if (*cursor != '[') return;
    size_t length = strlen(word);
    int count = 0;
    while (*cursor == '[' && count < 2) {
        ++cursor;
        for (;;) {
            char* p = cursor;
            while (IsBlank(*p)) ++p;
            if (*p == ']' && count == 0) {
                memcpy(word + length, "[]", 3);
                length += 2;
                cursor = p + 1;
                count = 2;  // the whole array takes no second subscript
                break;
            }
            long value = 0;
            const char* end = nullptr;
            if (PlainSubscript(cursor, &value, &end)) {
                cursor = const_cast<char*>(end);
            } else {
                DoSentence(cursor, ",]", 'N', 0);
                value = m_cType == 'N' ? (long)ToInt32(m_dValue) : 0;
            }
            length += (size_t)snprintf(word + length, 24, "[%ld]", value);
            ++count;
            if (*cursor == ',' && count < 2) {
                ++cursor;
                continue;
            }
            if (*cursor == ']') ++cursor;
            break;
        }
    }
    if (*cursor == '.' && IsWordChar(cursor[1])) {
        word[length++] = '.';
        int n = ScanWordChars(cursor + 1, word + length);
        cursor += 1 + n;
    }
}

bool CQoLanguage::ReadWordOperand(char*& cursor, bool address) {
    char word[kWordBufferSize + 64];
    char* wordStart = cursor;
    if (!m_pRun->ReadWord(cursor, word)) return false;
    if (cursor[0] == ':' && cursor[1] == ':' && !address) {
        // A "::"-qualified word: its segments join it, and the table
        // handler may take it.
        size_t length = strlen(word);
        while (cursor[0] == ':' && cursor[1] == ':' && length + 2 + 81 < sizeof word) {
            memcpy(word + length, "::", 2);
            length += 2;
            cursor += 2;
            const int n = ScanWordChars(cursor, word + length);
            cursor += n;
            length += (size_t)n;
        }
        Dispatched done = OfferQualifiedWord(this, cursor, word);
        if (done != Dispatched::None) return done == Dispatched::Statement;
    }
    if (!address) {
        if (word[0] == '#' && cursor[0] == ':' && cursor[1] != ':') {
            // A label: passed over in normal execution.
            ++cursor;
            m_cType = 'Z';
            return true;
        }
        if (KeywordStatement(cursor, word)) return true;
        if ((word[0] | 0x20) == 'n' && strcasecmp(word, "NULL") == 0) {
            m_cType = 'Z';
            return false;
        }
    }
    AppendSubscripts(cursor, word);
    SkipBlanks(cursor);
    if (*cursor == '(' && !address) {
        if (word[0] == '#') {
            DefineFunction(cursor, wordStart, word);
            return true;
        }
        FunctionBracketTrace(cursor, '(');
        if (strchr(word, '.')) {
            if (!ObjectAccess(cursor, word, 1)) {
                CString message;
                message.Format("执行非法功能：%s", word);
                ReportError(message, cursor);
            } else if (m_cType == 'X') {
                ReportError(m_strError.IsEmpty() ? "对象访问函数执行异常" : nullptr, cursor);
            }
            return false;
        }
        Dispatched done = DispatchBuiltin(this, cursor, word);
        if (done != Dispatched::None) NoteCalledWord(this, word, false);
        if (done == Dispatched::Statement) return true;
        if (done == Dispatched::Value) return false;
        CallFunction(cursor, word);
        return false;
    }
    return VariableReference(cursor, word, address);
}

bool CQoLanguage::VariableReference(char*& cursor, char* word, bool address) {
    if (address) {
        QoLVarDefine* record = DoVariable(this, word, 0, 0);
        if (record) {
            m_cType = 'P';
            m_pValue = (uintptr_t)record;
            m_strExtType = "%qol";
        } else if (m_bSyntaxCheck) {
            m_cType = '?';
            RecordUndefinedName(this, word);
        } else {
            UndefinedVariable(this, word, "", cursor);
        }
        return false;
    }
    if (word[0] == '#' && strcasecmp(word, "#include") == 0) {
        DoSentence(cursor, nullptr, 'S', 0);
        CString name = m_strValue;
        Do("QolFile", name.c_str());
        if (m_cType == 'X') {
            if (m_strError.IsEmpty()) ErrorString("Do('QolFile',...)执行错误");
            ReportError(nullptr, cursor);
        }
        return false;
    }
    if ((cursor[0] == '+' && cursor[1] == '+') || (cursor[0] == '-' && cursor[1] == '-')) {
        char op = cursor[0];
        if (!DoVariable(this, word, op, 'B')) {
            if (m_bSyntaxCheck)
                m_cType = '?';
            else
                UndefinedVariable(this, word, "，++/--操作", cursor);
        }
        cursor += 2;
        return false;
    }
    if (cursor[0] == '=' && cursor[1] != '=') {
        char* right = cursor + 1;
        SkipBlanks(right);
        if (!*right) {
            CString message;
            message.Format("%s=' 后缺少定义式", word);
            ReportError(message, right);
            return true;
        }
        if (word[0] == '#') {
            char* end = ruqo_SkipSentence(right, 1);
            CString text(right, (int)(end - right));
            m_strValue = word;
            m_strValue += '=';
            m_strValue += text;
            DoVariable(this, word + 1, text[0] == '#' ? '&' : '#', 'B');
            cursor = end;
            return true;
        }
        ++cursor;
        if (!SameNameThenPlus(right, word)) {
            DoSentence(cursor, nullptr, 0, 0);
            StoreAssigned(this, word);
            return true;
        }
        // `name = name + ...`: the sum may grow the variable's own string.
        PendingAssignment pending(this, cursor, word);
        DoSentence(cursor, nullptr, 0, 0);
        if (pending.grown && m_cType == 'S' && m_strValue.c_str() == pending.grownText &&
            pending.grown->m_strDef.c_str() == pending.grownText) {
            // The variable's own string has grown into the value: storing
            // it would find that variable and change nothing.
            pending.Stored();
        } else if (StoreAssigned(this, word)) {
            pending.Stored();
        }
        return true;
    }
    const char first = (char)(word[0] | 0x20);
    if ((first == 'p' && strcasecmp(word, "PI") == 0) || (first == 't' && strcasecmp(word, "true") == 0) ||
        (first == 'f' && strcasecmp(word, "false") == 0)) {
        m_cType = 'N';
        m_dValue = (word[0] | 0x20) == 'p' ? std::acos(-1.0) : (word[0] | 0x20) == 't' ? 1.0 : 0.0;
        return false;
    }
    if (!DoVariable(this, word, 0, 'B')) {
        if (m_bSyntaxCheck) {
            m_cType = '?';
            RecordUndefinedName(this, word);
        } else {
            UndefinedVariable(this, word, "", cursor);
        }
    }
    return false;
}
