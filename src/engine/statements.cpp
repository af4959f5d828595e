// The statements: keywords (break, continue, return, goto, do, private,
// public, delete, remove, try, SkipError, AskExec, NULL) and the four
// statements written like calls (if, while, for, switch). Loops keep cursor
// positions and scan their text again on every pass.
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
#include "engine/var_store.h"
#include "platform/file_io.h"
#include "platform/number_text.h"
#include "platform/ui.h"
#include "qotool/qotool.h"
#include "textutil/path_macro.h"

using namespace qotool::engine;
using qotool::diag::Trace;

namespace {


inline bool Is(const char* word, const char* name) { return strcasecmp(word, name) == 0; }

// Characters that end a declared name (':' does not).
bool EndsDeclaredName(char c) {
    return c == 0 || strchr(" \t\r\n'\"`-&$|?<!=>+*%/~(),;{}[\\]^", c) != nullptr;
}

// One pass of a loop's body, and what the loop does next: go on, stop
// (break or an error), or leave at once (return or goto).
enum class PassEnd { Next, Break, Leave };
PassEnd RunPass(CQoLanguage* qo, char* body) {
    qo->m_cControl = 0;
    qo->ExecuteStatementAt(body);
    if (qo->m_cControl == 'r' || qo->m_cControl == 'g') return PassEnd::Leave;
    if (qo->m_cType == 'X' || qo->m_cControl == 'b') return PassEnd::Break;
    return PassEnd::Next;
}

}  // namespace

char* CQoLanguage::ExecuteStatementAt(char* start, char closer) {
    char* p = start;
    StatementStart(p);
    DoSentence(p, nullptr, 0, closer);
    return p;
}

Keyword qotool::engine::KeywordOf(const char* word) {
    switch (DispatchKey(word)) {
    case Key('b', 'r'): return Is(word, "break") ? Keyword::Break : Keyword::None;
    case Key('c', 'o'): return Is(word, "continue") ? Keyword::Continue : Keyword::None;
    case Key('d', 'e'): return Is(word, "delete") ? Keyword::Delete : Keyword::None;
    case Key('d', 'o'): return Is(word, "do") ? Keyword::Do : Keyword::None;
    case Key('g', 'o'): return Is(word, "goto") ? Keyword::Goto : Keyword::None;
    case Key('p', 'r'): return Is(word, "private") ? Keyword::Private : Keyword::None;
    case Key('p', 'u'): return Is(word, "public") ? Keyword::Public : Keyword::None;
    case Key('r', 'e'):
        return Is(word, "return") ? Keyword::Return : Is(word, "remove") ? Keyword::Remove : Keyword::None;
    case Key('s', 'k'): return Is(word, "SkipError") ? Keyword::SkipError : Keyword::None;
    case Key('t', 'r'): return Is(word, "try") ? Keyword::Try : Keyword::None;
    case Key('a', 's'): return Is(word, "AskExec") ? Keyword::AskExec : Keyword::None;
    default: return Keyword::None;
    }
}

bool CQoLanguage::KeywordStatement(char*& cursor, const char* word) {
    switch (KeywordOf(word)) {
    case Keyword::None: return false;
    case Keyword::Break:
        if (!m_bSyntaxCheck) m_cControl = 'b';
        return true;
    case Keyword::Continue:
        if (!m_bSyntaxCheck) m_cControl = 'c';
        return true;
    case Keyword::Delete: StatementRemove(cursor, 'd'); return true;
    case Keyword::Do: StatementDo(cursor); return true;
    case Keyword::Goto: StatementGoto(cursor); return true;
    case Keyword::Private: StatementDeclare(cursor, 'z'); return true;
    case Keyword::Public: StatementDeclare(cursor, 'g'); return true;
    case Keyword::Return: StatementReturn(cursor); return true;
    case Keyword::Remove: StatementRemove(cursor, 'r'); return true;
    case Keyword::SkipError: StatementSkipError(cursor); return true;
    case Keyword::Try: StatementTry(cursor); return true;
    case Keyword::AskExec: StatementAskExec(cursor); return true;
    }
    return false;
}

void CQoLanguage::StatementReturn(char*& cursor) {
    m_cType = 'Z';
    SkipBlanks(cursor);
    if (*cursor != ';' && *cursor) DoSentence(cursor, nullptr, 0, 0);
    if (m_bSyntaxCheck) {
        if (*cursor) ++cursor;
        return;
    }
    Trace(m_pRun, cursor, "R跳出");
    cursor += strlen(cursor);
    m_pRun->gotoLabel.Empty();
    m_cControl = 'r';
}

void CQoLanguage::StatementGoto(char*& cursor) {
    QoLRunContext* run = m_pRun;
    char* at = cursor;
    while (IsBlank(*cursor)) ++cursor;
    char* target = cursor;
    while (*cursor && (unsigned char)*cursor > 32 && *cursor != ';' && *cursor != '(') ++cursor;
    std::string name(target, (size_t)(cursor - target));
    if (m_bSyntaxCheck) {
        m_cControl = 0;
        return;
    }
    m_cType = 'Z';
    char* p = cursor;
    SkipBlanks(p);
    if (*p == '(') {
        cursor = p;
        FunctionBracketTrace(cursor, '(');
        DoSentence(cursor, ")", 0, ')');
    }
    if (!name.empty() && (name[0] == '-' || IsDigitChar(name[0]))) {
        long n = (long)qotool::platform::ParseInt64(name.c_str());
        if (n < 0) {
            n = m_nScopeLevel + n;
            if (n < -1) n = -1;
        } else if (n >= m_nScopeLevel) {
            return;
        }
        run->gotoLabel = "&";
        run->gotoLevel = (short)n;
    } else {
        run->gotoLabel = "#";
        run->gotoLabel += name.c_str();
        run->gotoLabel += ':';
        run->gotoLevel = 0;
    }
    run->gotoCursor = at;
    m_cControl = 'g';
}

void CQoLanguage::CheckLevelGoto() {
    QoLRunContext* run = m_pRun;
    if (m_cControl != 'g' || run->gotoLabel.IsEmpty() || run->gotoLabel[0] != '&') return;
    if (run->gotoLevel < m_nScopeLevel) return;
    run->gotoLabel.Empty();
    m_cControl = m_cType != 'Z' ? 1 : 0;
}

char* qotool::engine::IfParts(char* thenPart, char** elsePart) {
    char* after = SkipSentenceMemo(thenPart, 0);
    *elsePart = nullptr;
    if (!StartsWithNoCase(after, "else")) return after;
    *elsePart = after + 4;
    return SkipSentenceMemo(*elsePart, 0);
}

void CQoLanguage::StatementIf(char*& cursor) {
    DoSentence(cursor, ")", 'N', ')');
    const bool yes = m_cType == 'N' && m_dValue != 0;
    char* thenPart = cursor;
    char* elsePart;
    char* end = IfParts(thenPart, &elsePart);
    if (m_bSyntaxCheck) {
        ExecuteStatementAt(thenPart);
        if (elsePart) ExecuteStatementAt(elsePart);
    } else if (yes) {
        ExecuteStatementAt(thenPart);
    } else if (elsePart) {
        ExecuteStatementAt(elsePart);
    }
    Trace(m_pRun, end, ";句子");
    cursor = end;
}

void CQoLanguage::StatementWhile(char*& cursor) {
    char* condition = cursor;
    DoSentence(cursor, ")", 'N', ')');
    char* body = cursor;
    if (m_bSyntaxCheck) {
        ExecuteStatementAt(body);
    } else if (m_cType == 'N' && m_dValue != 0) {
        SkipBlanks(body);
        // The compiled passes hand over at the body or the condition, and
        // take the loop back at the next body when they may.
        bool again = false;
        LoopPhase phase = RunCompiledWhile(this, cursor, condition, body, &again);
        while (phase != LoopPhase::Done) {
            if (phase == LoopPhase::Body) {
                const PassEnd pass = RunPass(this, body);
                if (pass == PassEnd::Leave) {
                    cursor = ruqo_SkipSentence(body, 0);
                    return;
                }
                if (pass == PassEnd::Break) break;
            }
            cursor = condition;
            FunctionBracketTrace(cursor, '+');
            DoSentence(cursor, ")", 'N', ')');
            if (!(m_cType == 'N' && m_dValue != 0)) break;
            phase = again ? RunCompiledWhile(this, cursor, condition, body, &again) : LoopPhase::Body;
        }
    }
    m_cControl = 0;
    cursor = ruqo_SkipSentence(body, 0);
    Trace(m_pRun, cursor, ";句子");
}

void CQoLanguage::StatementDo(char*& cursor) {
    char* body = cursor;
    char* tail = ruqo_SkipSentence(body, 0);
    if (!StartsWithNoCase(tail, "while")) {
        ReportError("do{...}while(...);不配对", tail);
        return;
    }
    char* condition = tail + 5;
    char* p;
    if (m_bSyntaxCheck) {
        ExecuteStatementAt(body);
        p = condition;
        DoSentence(p, ")", 'N', 0);
    } else {
        for (;;) {
            const PassEnd pass = RunPass(this, body);
            if (pass == PassEnd::Leave) {
                cursor = ruqo_SkipSentence(condition, 0);
                return;
            }
            if (pass == PassEnd::Break) break;
            p = condition;
            DoSentence(p, ")", 'N', 0);
            if (!(m_cType == 'N' && m_dValue != 0)) break;
        }
    }
    m_cControl = 0;
    cursor = ruqo_SkipSentence(condition, 0);
    Trace(m_pRun, cursor, ";句子");
}

void CQoLanguage::StatementFor(char*& cursor) {
    DoSentence(cursor, nullptr, 0, ';');
    char* condition = cursor;
    char* p = ruqo_SkipSentence(condition, 1);
    if (*p != ';') {
        ReportError("不满足 for(e1;e2;e3){...} 的语法", cursor);
        return;
    }
    char* step = p + 1;
    SkipBlanks(step);
    p = ruqo_SkipSentence(step, 1);
    if (*p != ')') {
        ReportError("不满足 for(e1;e2;e3){...} 的语法", cursor);
        return;
    }
    FunctionBracketTrace(p, ')');
    char* body = p;
    if (m_bSyntaxCheck) {
        p = condition;
        DoSentence(p, nullptr, 'N', 0);
        ExecuteStatementAt(body);
        p = step;
        DoSentence(p, nullptr, 0, 0);
    } else {
        // The compiled passes hand over at the condition, body or step, and
        // take the loop back at the step after a body the text ran when they
        // may.
        char* const compiledCondition = *condition != ';' ? condition : nullptr;
        char* const compiledStep = *step != ')' ? step : nullptr;
        bool again = false;
        LoopPhase phase = RunCompiledFor(this, compiledCondition, body, compiledStep, LoopPhase::Condition, &again);
        while (phase != LoopPhase::Done) {
            if (phase == LoopPhase::Condition && *condition != ';') {
                p = condition;
                DoSentence(p, nullptr, 'N', 0);
                if (!(m_cType == 'N' && m_dValue != 0)) break;
            }
            if (phase != LoopPhase::Step) {
                const PassEnd pass = RunPass(this, body);
                if (pass == PassEnd::Leave) {
                    cursor = ruqo_SkipSentence(body, 0);
                    return;
                }
                if (pass == PassEnd::Break) break;
                if (again) {
                    phase = RunCompiledFor(this, compiledCondition, body, compiledStep, LoopPhase::Step, &again);
                    continue;
                }
            }
            if (*step != ')') {
                p = step;
                DoSentence(p, nullptr, 0, 0);
            }
            phase = LoopPhase::Condition;
        }
    }
    m_cControl = 0;
    cursor = ruqo_SkipSentence(body, 0);
    Trace(m_pRun, cursor, ";句子");
}

void CQoLanguage::StatementSwitch(char*& cursor) {
    DoSentence(cursor, ")", 0, ')');
    const char type = m_cType;
    const double number = m_dValue;
    const CString text = m_strValue;
    const uintptr_t pointer = m_pValue;
    SkipBlanks(cursor);
    if (*cursor != '{') {
        ReportError("switch语句后必须为{}体", cursor);
        return;
    }
    char* end = SkipSentenceMemo(cursor, 0);
    bool matched = false;
    SkipOne(cursor);
    auto stepPastLabel = [&]() {
        char* colon = strchr(cursor, ':');
        cursor = colon ? colon + 1 : cursor + strlen(cursor);
        SkipBlanks(cursor);
    };
    for (;;) {
        // Label scan.
        if (*cursor == '}' || !*cursor || cursor >= end) break;
        if (StartsWithNoCase(cursor, "default")) {
            stepPastLabel();
            matched = true;
        } else {
            if (!StartsWithNoCase(cursor, "case")) {
                ReportError("switch语句的开关项只能为关键字case和default", cursor);
                return;
            }
            cursor += 4;
            DoSentence(cursor, ":", type, ':');
            if (!m_bSyntaxCheck) {
                if (m_cType != type) {
                    ReportError("switch语句的参量与case量类型不配", cursor);
                    return;
                }
                switch (type) {
                case 'N': matched = m_dValue == number; break;
                case 'S': matched = m_strValue == text; break;
                case 'P': matched = m_pValue == pointer; break;
                default: matched = false; break;
                }
            }
            SkipBlanks(cursor);
            if (StartsWithNoCase(cursor, "case")) {
                if (!matched) continue;
                while (StartsWithNoCase(cursor, "case")) stepPastLabel();
            }
        }
        if (!matched && !m_bSyntaxCheck) {
            // Pass statements over until the next label.
            for (;;) {
                SkipBlanks(cursor);
                if (*cursor == '}' || !*cursor || cursor >= end || StartsWithNoCase(cursor, "case") ||
                    StartsWithNoCase(cursor, "default"))
                    break;
                cursor = SkipSentenceMovingOn(cursor);
            }
            continue;
        }
        // Execution from the matched label on (falling through later labels).
        m_cControl = 0;
        for (;;) {
            SkipBlanks(cursor);
            if (*cursor == '}' || !*cursor || cursor >= end) break;
            if (StartsWithNoCase(cursor, "case") || StartsWithNoCase(cursor, "default")) {
                stepPastLabel();
                continue;
            }
            cursor = ExecuteStatementAt(cursor, ';');
            if (m_cType == 'X' || m_cControl == 'b') break;
            if (m_cControl == 'r' || m_cControl == 'g') {
                cursor = end;
                return;
            }
            SkipBlanks(cursor);
            if (StartsWithNoCase(cursor, "break")) break;
        }
        if (!m_bSyntaxCheck) break;
        // The syntax check examines every branch.
        if (StartsWithNoCase(cursor, "break")) cursor = ruqo_SkipSentence(cursor, 0);
    }
    m_cControl = 0;
    Trace(m_pRun, end, ";句子");
    cursor = end;
}

void CQoLanguage::StatementDeclare(char*& cursor, char scope) {
    for (;;) {
        SkipBlanks(cursor);
        char* nameStart = cursor;
        char name[kWordBufferSize + 64];
        int n = 0;
        while (n < 80 && !EndsDeclaredName(cursor[n])) {
            name[n] = cursor[n];
            ++n;
        }
        name[n] = 0;
        cursor += n;
        SkipBlanks(cursor);
        if (name[0] == '#' && *cursor == '(') {
            char* start = nameStart;
            std::string function = std::string(name + 1) + "()";
            DoVariable(this, function.c_str(), scope, 'B');
            char* p = ruqo_SkipSentence(cursor, 1);
            if (*p == '}') {
                ++p;
                m_strValue = CString(start, (int)(p - start));
                DoVariable(this, function.c_str(), 'F', 'B');
            }
            cursor = p;
            SkipBlanks(cursor);
        } else if (*cursor == '[') {
            AppendSubscripts(cursor, name);
            DoVariable(this, name, scope, 'B');
            SkipBlanks(cursor);
            if (*cursor == '=' && cursor[1] != '=') {
                SkipOne(cursor);
                const char* first = strchr(name, '[');
                const char* last = strrchr(name, '[');
                long rows = (long)qotool::platform::ParseInt64(first + 1) + 1;
                long columns = first == last ? 1 : (long)qotool::platform::ParseInt64(last + 1) + 1;
                std::string base(name, (size_t)(first - name));
                auto cellName = [&](long r, long c) {
                    char buf[48];
                    if (first == last)
                        snprintf(buf, sizeof buf, "[%ld]", r);
                    else
                        snprintf(buf, sizeof buf, "[%ld][%ld]", r, c);
                    return base + buf;
                };
                if (rows > 0 && columns > 0) {
                    if (*cursor == '{') {
                        SkipOne(cursor);
                        for (long r = 0, c = 0; r < rows && *cursor != '}' && *cursor;) {
                            DoSentence(cursor, ",;", 0, 0);
                            if (m_cType != 'X') DoVariable(this, cellName(r, c).c_str(), m_cType, 'B');
                            if (++c == columns) {
                                c = 0;
                                ++r;
                            }
                            SkipBlanks(cursor);
                            if (*cursor == ',') SkipOne(cursor);
                        }
                        if (*cursor == '}') SkipOne(cursor);
                    } else {
                        DoSentence(cursor, ",;", 0, 0);
                        if (m_cType != 'X')
                            for (long r = 0; r < rows; ++r)
                                for (long c = 0; c < columns; ++c)
                                    DoVariable(this, cellName(r, c).c_str(), m_cType, 'B');
                    }
                }
            }
        } else {
            if (!name[0]) return;
            DoVariable(this, name, scope, 'B');
            if (*cursor == '=' && cursor[1] != '=') {
                SkipOne(cursor);
                DoSentence(cursor, ",;", 0, 0);
                if (m_cType != 'X') DoVariable(this, name, m_cType, 'B');
            }
        }
        SkipBlanks(cursor);
        if (*cursor != ',') return;
        SkipOne(cursor);
    }
}

void CQoLanguage::StatementRemove(char*& cursor, char op) {
    for (;;) {
        while (IsBlank(*cursor)) ++cursor;
        char name[81];
        int n = 0;
        while (n < 80 && cursor[n] && cursor[n] != ',' && cursor[n] != ';') {
            name[n] = cursor[n];
            ++n;
        }
        name[n] = 0;
        cursor += n;
        if (n > 0) DoVariable(this, name, op, 'B');
        if (*cursor != ',') return;
        ++cursor;
    }
}

void CQoLanguage::StatementTry(char*& cursor) {
    QoLRunContext* run = m_pRun;
    const unsigned char savedTrace = run->traceFlags & 8;
    const unsigned char savedOutput = m_modeFlags & 0x04;
    run->traceFlags |= 8;
    m_modeFlags &= (unsigned char)~0x04;
    char* after = SkipSentenceMemo(cursor, 0);
    {
        CatchScope catcher(run);
        try {
            char* p = cursor;
            StatementStart(p);
            // The body's sentence: its compiled form may hand an error back
            // as the value (the catch below would make it so).
            struct Quiet {
                QoLRunContext* run;
                short saved;
                ~Quiet() { run->quietCatchDepth = saved; }
            } quiet{run, run->quietCatchDepth};
            run->quietCatchDepth = run->catchDepth;
            DoSentence(p, nullptr, 0, 0);
        } catch (const QolUnwind&) {
            if (m_cType != 'X') ErrorString(m_strError.IsEmpty() ? "段异常跳出" : m_strError.c_str());
            m_cType = 'X';
        }
    }
    m_modeFlags = (unsigned char)((m_modeFlags & ~0x04) | savedOutput);
    run->traceFlags = (unsigned char)((run->traceFlags & ~8) | savedTrace);
    cursor = after;
    if (StartsWithNoCase(cursor, "catch")) {
        char* clauseEnd = SkipSentenceMemo(cursor, 0);
        if (m_cType == 'X') {
            char* p = cursor + 5;
            while (IsBlank(*p)) ++p;
            if (*p == '(') {
                ++p;
                SkipBlanks(p);
                char name[kWordBufferSize];
                ScanWordChars(p, name);
                char* close = strchr(p, ')');
                if (!close) {
                    cursor = clauseEnd;
                    ReportError("catch(v) 语句)", p);
                    return;
                }
                p = close + 1;
                m_strValue = m_strError;
                m_cType = 'S';
                if (name[0]) DoVariable(this, name, 'S', 'B');
            }
            ExecuteStatementAt(p);
        }
        cursor = clauseEnd;
    } else if (m_cType == 'X') {
        m_cType = 'Z';
    }
    Trace(run, cursor, ";句子");
}

void CQoLanguage::StatementSkipError(char*& cursor) {
    const unsigned char savedModes = m_modeFlags;
    m_modeFlags |= 0x02;
    char* after = SkipSentenceMemo(cursor, 0);
    {
        CatchScope catcher(m_pRun);
        try {
            ExecuteStatementAt(cursor);
        } catch (const QolUnwind&) {
            m_cType = 'Z';
        }
    }
    if (m_cType == 'X') m_cType = 'Z';
    m_modeFlags = savedModes;
    cursor = after;
}

void CQoLanguage::StatementAskExec(char*& cursor) {
    while (IsBlank(*cursor)) ++cursor;
    CString text, fileName;
    if (*cursor == '(') {
        FunctionBracketTrace(cursor, '(');
        DoSentence(cursor, ")", 'S', ')');
        if (m_cType == 'X') return;
        fileName = m_strValue.IsEmpty() ? CString("%path%AskExec.QOL") : m_strValue;
        fileName = CString(qotool::textutil::ReplacePathMacro(fileName.c_str()).c_str());
        if (!m_bSyntaxCheck) {
            std::string content;
            FILE* probe = qotool::platform::OpenFile(fileName.c_str(), "rb");
            if (probe) {
                fclose(probe);
                if (!qotool::platform::ReadWholeFile(fileName.c_str(), content)) {
                    ReportError("文件打开失败", cursor);
                    return;
                }
                text = CString(content.data(), (int)content.size());
            }
        }
        if (text.Find('\n') < 0) text += "\r\n";
    } else {
        char* start = *cursor ? cursor + 1 : cursor;  // AskExec at the very end has no text
        while (IsBlank(*start)) ++start;
        char* stop = ruqo_SkipSentence(cursor, 1);
        if (stop < start) stop = start;
        text = CString(start, (int)(stop - start));
        cursor = *stop ? stop + 1 : stop;
        while (IsBlank(*cursor)) ++cursor;
    }
    CString prefix;
    CString edit = text;
    for (;;) {
        if (!m_bSyntaxCheck) {
            CString title = prefix;
            title += "可修改语句，确定执行或取消执行 ";
            title += fileName;
            if (qotool::platform::Ui().EditText(edit, title.c_str()) != qotool::platform::kIdOk) break;
        }
        bool failed = false;
        {
            CatchScope catcher(m_pRun);
            try {
                LevelGuard guard(this, 'A', edit.c_str());
                m_cControl = 0;
                CString run = edit;  // the editor may change edit while it runs
                char* p = const_cast<char*>(run.c_str());
                StatementStart(p);
                DoSentence(p, nullptr, 0, 0);
                failed = m_cType == 'X';
            } catch (const QolUnwind&) {
                failed = true;
            }
        }
        if (!failed) {
            prefix = "再次";
            if (!fileName.IsEmpty() && edit != text) {
                int answer = qotool::platform::ShowMessageBox(fileName.c_str(), "需要将改写内容回存至来源文件：",
                                                              0x1 | 0x40000 | 0x2000);
                if (answer == qotool::platform::kIdOk) {
                    std::string backup = qotool::platform::FileSystemName(fileName.c_str()) + ".BAK";
                    std::string original = qotool::platform::FileSystemName(fileName.c_str());
                    remove(backup.c_str());
                    rename(original.c_str(), backup.c_str());
                    FILE* out = fopen(original.c_str(), "wb");
                    if (!out) {
                        ReportError("文件打开失败", cursor);
                        return;
                    }
                    fwrite(edit.c_str(), 1, (size_t)edit.GetLength(), out);
                    fclose(out);
                }
                text = edit;
            }
        } else {
            qotool::platform::ShowMessageBox(m_strError.c_str(), "QOL", 0);
            prefix = "改正错误，";
            m_cType = 'Z';
        }
        if (m_bSyntaxCheck) break;
    }
    m_strValue = edit;
    m_cType = 'S';
}
