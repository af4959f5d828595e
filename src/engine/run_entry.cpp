// The run entry points: DoQol, Do, DoSentenceReturnAllType and the C
// entry points that run text on the library's own interpreters.
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <new>
#include <stdexcept>
#include <string>

#include "engine/debugger_seam.h"
#include "engine/executor.h"
#include "engine/instance.h"
#include "engine/run_context.h"
#include "engine/scanner.h"
#include "engine/var_tables.h"
#include "platform/file_io.h"
#include "platform/module_path.h"
#include "platform/number_text.h"
#include "platform/ui.h"
#include "qotool/qotool.h"
#include "textutil/path_macro.h"

using namespace qotool::engine;
using qotool::diag::Trace;
using qotool::diag::g_debugSwitch;

CQoLanguage* CQoLanguage::DoQol(const char* text, void* hostData) {
    if (!IsLiveInterpreter(this)) {
        ruqo_MessageLog(0, 1, "QOL解析器实例句柄非法或不存在，可能是其已析构", "", "");
        return nullptr;
    }
    QoLRunContext* run = m_pRun;
    if ((g_debugSwitch & 1) && text && strcmp(text, "?") == 0) {
        qotool::diag::ShowDebuggerWindow(run);
        text = "";
    }
    if (!text || !*text) {
        m_cType = 'Z';
        return this;
    }
    m_cControl = 0;
    void* savedHostData = m_pHostData;
    LevelGuard guard(this, 'P', text);
    char* cursor = const_cast<char*>(text);
    SkipBlanks(cursor);

    const unsigned char savedDebug = g_debugSwitch & 1;
    const unsigned char savedOutput = m_modeFlags & 0x04;
    bool debugOff = false, holdError = false;
    for (;;) {
        if (strncmp(cursor, "???", 3) == 0) {
            g_debugSwitch &= (unsigned char)~1;
            debugOff = true;
        } else if (strncmp(cursor, "$$$", 3) == 0) {
            m_modeFlags &= (unsigned char)~0x04;
            holdError = true;
        } else {
            break;
        }
        cursor += 3;
        SkipBlanks(cursor);
    }

    ++run->catchDepth;
    if (hostData) m_pHostData = hostData;
    m_cType = 'Z';
    Trace(run, cursor, "S开始");
    try {
        for (;;) {
            SkipBlanks(cursor);
            char c = *cursor;
            if (!c) break;
            if (c == ',' || c == ';' || c == '}') {
                if (c == ';') Trace(run, cursor + 1, ";句子");
                ++cursor;
                continue;
            }
            if (m_cControl == 'r') break;
            if (m_cControl == 'g') {
                SearchGotoLabel(cursor);
                continue;
            }
            StatementStart(cursor);
            DoSentence(cursor, nullptr, 0, 0);
        }
        if (m_cControl == 'g' && !run->gotoLabel.IsEmpty() && run->gotoLabel[0] == '#') {
            char message[256];
            snprintf(message, sizeof message, "在goto语句之后的同层语句和上层语句找不到对应的目标“%s”",
                     run->gotoLabel.c_str());
            char* at = run->gotoCursor;
            run->gotoLabel.Empty();
            m_cControl = 0;
            ErrorString(message);
            ReportError(nullptr, at);
        }
    } catch (const QolUnwind&) {
        if (m_cType != 'X' || m_strError.IsEmpty()) ErrorString("DoQol()异常跳出");
    } catch (const std::bad_alloc&) {
        ErrorString(kOutOfMemory);
    } catch (const std::length_error&) {
        ErrorString(kOutOfMemory);
    }
    --run->catchDepth;
    run->statementStart = nullptr;
    if (!(m_cControl == 'g' && m_nScopeLevel > 0)) m_cControl = m_cControl == 'r' ? 1 : 0;
    m_pHostData = savedHostData;
    Trace(run, cursor, "E结束");
    if (debugOff) g_debugSwitch = (unsigned char)((g_debugSwitch & ~1) | savedDebug);
    if (holdError)
        m_modeFlags = (unsigned char)((m_modeFlags & ~0x04) | savedOutput);
    else if (m_cType == 'X')
        ReportError(nullptr, nullptr, true);
    return this;
}

void CQoLanguage::RunFileText(const char* path, const char* source, int length) {
    QoLRunContext* run = m_pRun;
    CString buffer;
    buffer.Format("〖%s〗\r\n", path);
    const int headerLength = buffer.GetLength();
    buffer.Append(source, length);
    CString savedFile = run->currentFile;
    run->currentFile = path;
    try {
        LevelGuard guard(this, 'F', buffer.c_str());
        // The text after the header may hold zero bytes; the run stops at the first.
        DoQol(buffer.c_str() + headerLength, nullptr);
    } catch (...) {
        run->currentFile = savedFile;
        throw;
    }
    run->currentFile = savedFile;
}

namespace {

// The failure path of Do: the error is reported once more with the
// end-of-run flag and no position.
void DoFailure(CQoLanguage* qo, const char* fallback) {
    if (qo->m_cType != 'X' || qo->m_strError.IsEmpty()) qo->ErrorString(fallback);
    qo->ReportError(nullptr, nullptr, true);
}

// The request word of Do, in any letter case. The comparison is the
// scanner's ASCII one, not the C library's: the interpreter's constructor
// makes the first request, and the library's comparison would read two more
// pages of locale tables at every start.
bool IsRequest(const char* kind, const char* word) {
    return kind && StartsWithNoCase(kind, word) && kind[strlen(word)] == '\0';
}

}  // namespace

CQoLanguage* CQoLanguage::Do(const char* kind, const char* text) {
    QoLRunContext* run = m_pRun;
    bool failed = false;
    {
        CatchScope catchScope(run);
        try {
            if (text && IsRequest(kind, "qol")) {
                LevelGuard guard(this, 'D', text);
                DoQol(text, nullptr);
                failed = m_cType == 'X';
            } else if (text && IsRequest(kind, "qolfile")) {
                std::string path = text;
                if (!qotool::platform::IsAbsolutePath(text)) {
                    if (strncmp(text, "%path", 5) == 0)
                        path = qotool::textutil::ReplacePathMacro(text);
                    else
                        path = qotool::platform::LibraryDirectory() + text;
                }
                if (m_bSyntaxCheck) return this;
                std::string content;
                if (!qotool::platform::ReadWholeFile(path.c_str(), content)) {
                    CString message = "不能开启qol文件：";
                    message += path.c_str();
                    ErrorString(message.c_str());
                    failed = true;
                } else {
                    RunFileText(path.c_str(), content.data(), (int)content.size());
                    failed = m_cType == 'X';
                }
            } else if (IsRequest(kind, "clear")) {
                if (!m_bSyntaxCheck) {
                    m_modeFlags = 0x04;
                    m_declList.RemoveAll();
                    m_pVars->Clear();
                    m_nScopeLevel = 0;
                    run->checkLevel = 0;
                    m_scopeTable.assign(2, {0, 0});
                    m_strError.Empty();
                    run->tableBufferName.Empty();
                }
                m_cType = 'Z';
                return this;
            } else {
                char message[512];
                snprintf(message, sizeof message,
                         "Do()和DoCmd()函数的第一个参数只能是qol,qolfile或clear，不能是：%s", kind ? kind : "");
                ErrorString(message);
                Unwind("Do()和DoCmd()函数参数错");
                return this;
            }
        } catch (const QolUnwind&) {
            failed = true;
        } catch (const std::bad_alloc&) {
            ErrorString(kOutOfMemory);
            failed = true;
        } catch (const std::length_error&) {
            ErrorString(kOutOfMemory);
            failed = true;
        }
    }
    if (failed) DoFailure(this, "Do()异常跳出");
    return this;
}

CQoLanguage* CQoLanguage::DoSentenceReturnAllType(char* text) {
    QoLRunContext* run = m_pRun;
    LevelGuard guard(this, 'S', text);
    m_cControl = 0;
    bool failed = false;
    {
        CatchScope catchScope(run);
        try {
            if (!text) {
                m_dValue = 0;
                m_strValue.Empty();
                ErrorString("不存在的QOL语句串");
                Unwind("DoSentenceReturnAllType()发现空QOL语句");
            }
            m_cType = 'Z';
            if (text && m_cControl != 'r') {
                char* cursor = text;
                StatementStart(cursor);
                DoSentence(cursor, nullptr, 0, 0);
                char buf[32];
                switch (m_cType) {
                case 'N':
                    m_pValue = qotool::platform::NarrowPointer(qotool::platform::TruncToInt64(m_dValue));
                    m_strValue = CString(buf, qotool::platform::FormatNumber15(m_dValue, buf));
                    break;
                case 'P':
                    m_dValue = (double)m_pValue;
                    snprintf(buf, sizeof buf, "%llu", (unsigned long long)m_pValue);
                    m_strValue = buf;
                    break;
                case 'S':
                    m_dValue = qotool::platform::ParseDouble(m_strValue.c_str());
                    m_pValue = qotool::platform::NarrowPointer(qotool::platform::TruncToInt64(m_dValue));
                    break;
                case 'X':
                    m_dValue = 0;
                    m_strValue.Empty();
                    m_pValue = 0;
                    m_strExtType.Empty();
                    Unwind("DoSentenceReturnAllType()出错");
                    break;
                default: break;
                }
            }
        } catch (const QolUnwind&) {
            failed = true;
        }
    }
    if (failed) {
        if (!(m_cType == 'X' && !m_strError.IsEmpty())) ErrorString("DoSentenceReturnAllType()异常跳出");
        m_cControl = 0;
        ReportError(nullptr, nullptr, true);
        return this;
    }
    m_cControl = 0;
    return this;
}

// ---- C entry points ----

namespace {

// The result text a C entry point returns: one per thread, so a host
// thread's text stays valid until that thread's next call.
thread_local CString t_resultText;

// The shared interpreter, or null (with the box while the library starts).
CQoLanguage* TakeShared(const char* text) {
    CQoLanguage* qo = SharedInterpreter();
    if (!qo) {
        std::string message = "QOTOOL.DLL环境正在构造中，不能执行QOL语句 ";
        message += text ? text : "";
        qotool::platform::ShowMessageBox(message.c_str(), "QOL", 0);
        return nullptr;
    }
    if (!qo->m_pRun || qo->m_pRun->owner != qo) return nullptr;
    return qo;
}

const char* ResultText(CQoLanguage* qo) {
    if (!qo) {
        t_resultText = "X:";
        return t_resultText.c_str();
    }
    CString value = qo->GetValueString();
    CString out(qo->m_cType);
    out += ':';
    out += value;
    t_resultText = out;
    return t_resultText.c_str();
}

}  // namespace

extern "C" QO_API const char* ruqo_ExecQol(const char* text) {
    CQoLanguage* qo = TakeShared(text);
    if (text && text[0] == '[' && text[1] && text[2] == ']') {
        int slot = atoi(text + 1);
        qo = NumberedInterpreter(slot);
        text += 3;
    }
    if (!qo) return ResultText(nullptr);
    return ResultText(qo->DoQol(text, nullptr));
}

extern "C" QO_API const char* pf_ExecQol(const char* text) { return ruqo_ExecQol(text); }

extern "C" QO_API const char* ruqo_ExecQolEx(const char* text, ...) {
    CQoLanguage* qo = TakeShared(text);
    if (!qo) return ResultText(nullptr);
    int open = 0;
    va_list args;
    va_start(args, text);
    for (const char* item = text; item; item = va_arg(args, const char*)) {
        if (strcmp(item, "{") == 0) {
            if (open >= 10) continue;
            size_t end = (size_t)qo->m_nScopeLevel + 1;
            if (qo->m_scopeTable.size() < end + 2) qo->m_scopeTable.resize(end + 2);
            ++open;
            ++qo->m_nScopeLevel;
            qo->m_scopeTable[end + 1] = qo->m_scopeTable[end];
        } else if (strcmp(item, "}") == 0) {
            if (open == 0) continue;
            // The scope's start entry (which the store moves along with any
            // public declaration inserted below it) becomes the end again.
            --open;
            std::pair<int, int> start = qo->m_scopeTable[(size_t)qo->m_nScopeLevel];
            --qo->m_nScopeLevel;
            qo->m_pVars->CutBack(start.first, start.second);
        } else {
            qo->DoQol(item, nullptr);
        }
    }
    va_end(args);
    return ResultText(qo);
}

extern "C" QO_API const char* ruqo_ExecQolFile(const char* path, const char* source, int length) {
    CQoLanguage* qo = TakeShared(path);
    if (!qo) return ResultText(nullptr);
    if (!path) {
        qo->ErrorString("不能开启qol文件：");
        return ResultText(qo);
    }
    if (!source) return ResultText(qo->Do("qolfile", path));
    if (length < 0) length = (int)strlen(source);
    {
        CatchScope catchScope(qo->m_pRun);
        try {
            qo->RunFileText(path, source, length);
        } catch (const QolUnwind&) {
        } catch (const std::bad_alloc&) {
            qo->ErrorString(kOutOfMemory);
        } catch (const std::length_error&) {
            qo->ErrorString(kOutOfMemory);
        }
    }
    if (qo->m_cType == 'X' && qo->m_pRun->level == 0) qo->ReportError(nullptr, nullptr, true);
    return ResultText(qo);
}

extern "C" QO_API CQoLanguage* ruqo_GetSharedQol(void) { return SharedInterpreter(); }
