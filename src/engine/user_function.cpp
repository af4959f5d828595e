// User functions written in QOL, object calls and the resolution of a call
// that no built-in took: native function variables, user functions, then
// the user executors and extension modules.
#include <cstdio>
#include <cstring>
#include <string>
#include <strings.h>

#include "engine/builtin_hook.h"
#include "engine/compiled_form.h"
#include "engine/debugger_seam.h"
#include "engine/executor.h"
#include "engine/run_context.h"
#include "engine/scanner.h"
#include "engine/unwind.h"
#include "engine/var_params.h"
#include "engine/var_store.h"
#include "engine/var_tables.h"
#include "qotool/qotool.h"

using namespace qotool::engine;

namespace {

// A by-reference argument name ends at none of these (tab and LF do not end it).
bool EndsReferenceName(char c) {
    return c == 0 || strchr(" \r'\"`-&$|?:<!=>+*%/~(),;{}[\\]^", c) != nullptr;
}

// Skips a default expression in a formal list to the next ',' or ')' at
// bracket depth 0.
void SkipDefault(const char*& p) {
    int depth = 0;
    while (*p) {
        char c = *p;
        if (c == '\'' || c == '"') {
            p = SkipString(const_cast<char*>(p) + 1, c);
            continue;
        }
        if (c == '(' || c == '[') ++depth;
        if (c == ')' || c == ']') {
            if (depth == 0) return;
            --depth;
        }
        if (c == ',' && depth == 0) return;
        ++p;
    }
}

// The live record DoVariable(qo, name, 0, 0) finds, or null.
QoLVarDefine* FindVariable(CQoLanguage* qo, const char* name) {
    bool decided = false;
    QoLVarDefine* record = FindPlainName(qo, name, &decided);
    if (decided) return record;
    record = DoVariable(qo, name, 0, 0);
    return record && IsLiveRecord(qo, record) ? record : nullptr;
}

// True when the formal list at p (just after a name and its default) has no
// further name: what the binding loop meets next is its end.
bool NoFurtherFormal(const char* p) {
    while (IsBlank(*p)) ++p;
    if (*p == ',') {
        ++p;
        while (IsBlank(*p)) ++p;
    }
    return !*p || *p == ')';
}

}  // namespace

void CQoLanguage::DefineFunction(char*& cursor, char* wordStart, const char* word) {
    char* end = ruqo_SkipSentence(cursor, 1);
    if (*end == '}') ++end;
    char* last = end;
    while (last > wordStart && IsBlank(last[-1])) --last;
    std::string name = std::string(word + 1) + "()";
    m_strValue = CString(wordStart, (int)(last - wordStart));
    DoVariable(this, name.c_str(), 'F', 'B');
    cursor = end;
    m_cType = 'Z';
}

void CQoLanguage::CallFunction(char*& cursor, const char* word) {
    // A variable holding a native function value calls that function; its
    // declaration is stored with '$' for '%'.
    if (QoLVarDefine* variable = FindVariable(this, word);
        variable && variable->GetType() == 'P') {
        const char* text = variable->GetDef().c_str();
        const char* ext = strchr(text, '%');
        if (ext && strncmp(ext, "%func", 5) == 0) {
            PointerFromText(text);
            std::string declaration(m_strExtType.GetLength() > 6 ? m_strExtType.c_str() + 6 : "");
            for (char& c : declaration)
                if (c == '$') c = '%';
            NoteCalledWord(this, word, false);
            CallNative(this, cursor, m_pValue, 0, declaration.c_str(), word);
            return;
        }
    }
    // The function is the variable "name()".
    char nameBuffer[kWordBufferSize + 80];
    std::string longName;
    const size_t length = strlen(word);
    const char* functionName = nameBuffer;
    if (length + 3 <= sizeof nameBuffer) {
        memcpy(nameBuffer, word, length);
        memcpy(nameBuffer + length, "()", 3);
    } else {
        longName = std::string(word) + "()";
        functionName = longName.c_str();
    }
    QoLVarDefine* definition = FindVariable(this, functionName);
    if (definition && definition->GetType() == 'F') {
        NoteCalledWord(this, word, true);
        CallUserFunction(cursor, definition);
        return;
    }
    NoteCalledWord(this, word, false);
    CallExternal(this, cursor, word);
}

void CQoLanguage::CallUserFunction(char*& cursor, QoLVarDefine* definitionRecord) {
    QoLRunContext* run = m_pRun;
    // The definition text stays alive for the call even if the function
    // redefines itself.
    const CString definition = definitionRecord->GetDef();
    const char* text = definition.c_str();
    const char* formal = strchr(text, '(');
    if (!formal) {
        ReportError("自定义函数参数列表缺右括号)", text);
        return;
    }
    if ((int)m_scopeTable.size() < m_nScopeLevel + 2) m_scopeTable.resize((size_t)m_nScopeLevel + 2);
    const std::pair<int, int> savedStart = m_scopeTable[(size_t)m_nScopeLevel];
    const std::pair<int, int> savedEnd = m_scopeTable[(size_t)m_nScopeLevel + 1];
    const int firstParameter = VariableCount(this);
    std::string formals;  // "a,b," for the error text
    bool failed = false;
    {
        try {
            LevelGuard guard(this, 'U', text);
            ++formal;
            for (;;) {
                std::string_view name;
                if (!NextFormalName(formal, &name)) break;
                if (name.empty() || IsDigitChar(name[0])) ReportError("自定义函数形参变量名非法", formal);
                const bool hasDefault = *formal == '=';
                bool defaultUsed = false;
                SkipBlanks(cursor);
                if (*cursor == '&') {
                    char* p = cursor + 1;
                    int n = 0;
                    while (n < 80 && !EndsReferenceName(p[n])) ++n;
                    if (n == 0 || IsDigitChar(*p)) ReportError("自定义函数传址形参只能是变量", cursor);
                    std::string target(p, (size_t)n);
                    cursor = p + n;
                    SkipBlanks(cursor);
                    if (*cursor == ',') SkipOne(cursor);
                    if (target != name) CreateReferenceParameter(this, std::string(name).c_str(), target.c_str());
                    if (hasDefault) {
                        ++formal;
                        SkipDefault(formal);
                    }
                } else {
                    if (*cursor != ')' && *cursor != ',') {
                        DoSentence(cursor, "),", 0, ',');
                    } else if (hasDefault) {
                        if (*cursor == ',') SkipOne(cursor);
                        char* value = const_cast<char*>(formal) + 1;
                        DoSentence(value, "),", 0, 0);
                        formal = value;
                        defaultUsed = true;
                    } else {
                        std::string message = "自定义函数的参数 " + std::string(name) + " 缺调用值且未定义缺省值";
                        ReportError(message.c_str(), cursor);
                    }
                    if (hasDefault && !defaultUsed) {
                        ++formal;
                        SkipDefault(formal);
                    }
                    CreateParameter(this, name, NoFurtherFormal(formal));
                }
                formals += name;
                formals += ',';
            }
            RevealParameters(this, firstParameter);
            if (*formal != ')') ReportError("自定义函数参数列表缺右括号)", text);
            const char* body = formal + 1;
            // Surplus arguments are passed over unevaluated.
            for (;;) {
                SkipBlanks(cursor);
                if (!*cursor || *cursor == ')') break;
                if (*cursor == '&') ReportError("自定义函数&引用的参数个数超过预定义", cursor);
                SkipExpression(cursor, 0);
                if (*cursor == ',') {
                    SkipOne(cursor);
                    continue;
                }
                if (*cursor != ')') break;
            }
            FunctionBracketTrace(cursor, ')');
            if (m_bSyntaxCheck) {
                m_cType = '?';
                m_cControl = 0;
            } else {
                m_cControl = 0;
                ExecuteStatementAt(const_cast<char*>(body));
                if (m_cControl == 'g' && !run->gotoLabel.IsEmpty() && run->gotoLabel[0] == '#') {
                    // The goto leaves the function: its label search goes on in
                    // the caller's text after the call.
                } else {
                    if (m_cControl != 'r' && m_cControl != 1) m_cType = 'Z';
                    m_cControl = 0;
                }
            }
        } catch (const QolUnwind&) {
            failed = true;
            if (!(m_cType == 'X' && !m_strError.IsEmpty())) ErrorString("自定义函数异常退出");
            if (!formals.empty() && strncmp(m_strError.c_str(), "当传入", strlen("当传入")) != 0) {
                CString message = "当传入自定义函数的参数为：\r\n";
                size_t start = 0;
                while (start < formals.size()) {
                    size_t comma = formals.find(',', start);
                    std::string name = formals.substr(start, comma - start);
                    start = comma + 1;
                    QoLVarDefine* record = DoVariable(this, name.c_str(), 0, 0);
                    if (!record || !IsLiveRecord(this, record)) continue;
                    message += "  ";
                    message += name.c_str();
                    message += " : ";
                    message += record->GetDef();
                    message += "\r\n";
                }
                message += m_strError;
                m_strError = message;
            }
            m_cType = 'X';
        }
    }
    // A public declaration inside the call may have inserted a variable into
    // an outer scope, moving this level's entries up by as many places.
    const std::pair<int, int> start = m_scopeTable[(size_t)m_nScopeLevel];
    const std::pair<int, int> end = {savedEnd.first + start.first - savedStart.first,
                                     savedEnd.second + start.second - savedStart.second};
    m_scopeTable[(size_t)m_nScopeLevel + 1] = end;
    m_pVars->CutBack(end.first, end.second);
    if (failed) ThrowUnwind(this, "自定义函数异常退出");
}

int CQoLanguage::ObjectAccess(char*& cursor, const char* name, int mode) {
    (void)mode;
    const char* dot = strchr(name, '.');
    if (!dot) return 0;
    if (m_bSyntaxCheck) {
        for (;;) {
            SkipBlanks(cursor);
            if (!*cursor || *cursor == ')') break;
            char* before = cursor;
            SkipExpression(cursor, 0);  // one argument; the ')' stays
            if (*cursor == ',')
                ++cursor;
            else if (cursor == before)
                break;  // a stray ']', '}' or ';' ends the arguments
        }
        FunctionBracketTrace(cursor, ')');
        return 1;
    }
    if (name[0] == '.') {
        std::string message = std::string("小数点使用不正确（只能用于数据或对象调用）：") + name;
        ErrorString(message.c_str());
        m_cType = 'X';
        return 1;
    }
    std::string object(name, (size_t)(dot - name));
    const char* memberText = dot;  // what the executor name is made of
    const char* lowered = object.c_str();
    const bool hostObject = strcasecmp(lowered, "this") == 0 || strcasecmp(lowered, "parent") == 0 ||
                            strcasecmp(lowered, "ancestor") == 0 || object == "thisquery";
    if (!hostObject) {
        if (!DoVariable(this, object.c_str(), 0, 'B')) {
            size_t bracket = object.find('[');
            bool found = false;
            if (bracket != std::string::npos) {
                std::string base = object.substr(0, bracket);
                found = DoVariable(this, base.c_str(), 0, 'B') != nullptr;
                if (found) memberText = name + bracket;
            }
            if (!found) {
                CString message;
                message.Format("对象访问 %s 的对象变量 %s 未定义", name, object.c_str());
                ReportError(message, cursor);
                return 1;
            }
        }
        if (!(m_cType == 'P' && (m_pValue != 0 || !m_strExtType.IsEmpty()))) {
            CString message;
            message.Format("对象访问 %s 的变量 %s 不是对象", name, object.c_str());
            ReportError(message, cursor);
            return 1;
        }
        if (strcmp(m_strExtType.c_str(), "%dll") == 0) {
            CallNative(this, cursor, 0, m_pValue, "", dot + 1);
            return 1;
        }
    }
    QoLRunContext* run = m_pRun;
    CString savedCallName = run->callName;
    int handled = hostObject ? 1 : 0;
    const char* ext = m_strExtType.c_str();
    if (ext[0] == '%' && strcmp(ext, "%ui") != 0) {
        std::string cls(ext + 1);
        if (size_t colon = cls.find(':'); colon != std::string::npos) cls.resize(colon);
        std::string executor = "ruqo_" + cls + "_" + memberText;
        if (CallUserExecutors(this, cursor, executor.c_str())) handled = 1;
        WritePara();
    }
    run->callName = savedCallName;
    return handled;
}
