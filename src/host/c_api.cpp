// The handle API of qotool.h: interpreter handles for C hosts, and the
// helpers that let extension modules written in C read arguments and set
// values. Every entry checks its handle against the registry before use and
// catches everything: no exception crosses into C.
#include <algorithm>
#include <cctype>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <unordered_set>
#include <vector>

#include "builtins/control.h"
#include "engine/error_site.h"
#include "engine/instance.h"
#include "engine/run_context.h"
#include "engine/syntax_check.h"
#include "engine/var_store.h"
#include "engine/host_words.h"
#include "host/interp_handle.h"
#include "platform/number_text.h"
#include "qotool/qolanguage.h"
#include "qotool/qotool.h"

using namespace qotool::engine;
using qotool::host::IsHandle;
using qotool::host::IsInterpreter;
using qotool::host::SavedValue;

namespace {
std::mutex g_handlesLock;

std::unordered_set<QoInterp*>& Handles() {
    static auto* handles = new std::unordered_set<QoInterp*>();
    return *handles;
}

QoInterp* g_shared = nullptr;
}  // namespace

bool qotool::host::IsHandle(QoInterp* interp) {
    if (!interp) return false;
    std::lock_guard<std::mutex> lock(g_handlesLock);
    return Handles().count(interp) != 0 && IsLiveInterpreter(interp->qo);
}

bool qotool::host::IsInterpreter(CQoLanguage* qo) { return qo && IsLiveInterpreter(qo) && qo->m_pRun; }

int qotool::host::StoreAnswer(QoInterp* interp, const std::string& error) {
    if (error.empty()) return QO_OK;
    interp->error = error;
    interp->errorOffset = -1;
    return QO_ERROR;
}

namespace {

// "QOL解析器实例句柄非法或不存在，可能是其已析构": the system's message for a
// handle that names no live interpreter.
const char kBadHandle[] = "QOL解析器实例句柄非法或不存在，可能是其已析构";
constexpr int kMaxDestinations = 16;

// The value's text as the result texts give it (an error: its message).
std::string ValueText(CQoLanguage* qo) {
    const CString text = qo->GetValueString();
    return std::string(text.view());
}

// Takes the run's value as the handle's result; an error's place is looked
// up in source, the text of the run (or, for a call, of the last run).
void TakeResult(QoInterp* interp, std::string_view source) {
    CQoLanguage* qo = interp->qo;
    interp->resultType = qo->m_cType;
    interp->result = ValueText(qo);
    if (interp->resultType != 'X') return;
    interp->error = interp->result;
    ErrorSite site;
    if (LastErrorSite(qo, site)) interp->errorOffset = SiteOffsetInSource(site, source);
}

// Runs source (which must outlive the run: a host function may run another
// text on the same handle meanwhile) as a text or as the file fileName.
void RunText(QoInterp* interp, const std::string& source, const char* fileName) {
    CQoLanguage* qo = interp->qo;
    if (fileName) {
        {
            CatchScope catchScope(qo->m_pRun);
            try {
                qo->RunFileText(fileName, source.data(), (int)source.size());
            } catch (const QolUnwind&) {
            }
        }
        if (qo->m_cType == 'X' && qo->m_pRun->level == 0) qo->ReportError(nullptr, nullptr, true);
    } else {
        qo->DoQol(source.c_str(), nullptr);
    }
}

// The first error line of a message: the text before its position part.
std::string MessageHead(std::string_view message) {
    const size_t at = message.find("\r\n【位于】");
    std::string head(message.substr(0, at));
    while (!head.empty() && (head.back() == '\n' || head.back() == '\r')) head.pop_back();
    return head;
}

bool IsNameByte(unsigned char c) { return c >= 0x80 || c == '_' || std::isalnum(c); }

// Where name is first used as a whole word at or after from in source
// (stepping over two-byte characters), or -1.
long FindName(std::string_view source, std::string_view name, long from) {
    if (name.empty() || from < 0) return -1;
    for (size_t i = (size_t)from; i + name.size() <= source.size();) {
        const unsigned char c = (unsigned char)source[i];
        if (source.compare(i, name.size(), name) == 0 &&
            (i + name.size() == source.size() || !IsNameByte((unsigned char)source[i + name.size()])))
            return (long)i;
        // Step over the rest of a word so that a name never matches inside one.
        if (IsNameByte(c)) {
            while (i < source.size() && IsNameByte((unsigned char)source[i]))
                i += ((unsigned char)source[i] >= 0x80 && i + 1 < source.size()) ? 2 : 1;
        } else {
            ++i;
        }
    }
    return -1;
}

// Texts of the C argument readers: kept until the next fresh argument list.
thread_local std::deque<CString>* t_argTexts = nullptr;
thread_local int t_readDepth = 0;

struct ArgEntry {
    char code = 0;
    int length = 0;
};

// The entries of a ReadPara format (as ReadPara reads them).
int ParseEntries(const char* format, ArgEntry* entries, int max) {
    int count = 0;
    for (const char* f = format; *f;) {
        while (*f && *f != '%' && *f != '?') ++f;
        if (!*f) break;
        ++f;
        ArgEntry e;
        e.code = *f;
        if (*f) ++f;
        while (*f >= '0' && *f <= '9') e.length = e.length * 10 + (*f++ - '0');
        if (count < max) entries[count] = e;
        ++count;
    }
    return count;
}

bool IsTextCode(const ArgEntry& e) {
    return e.length == 0 && (e.code == 's' || e.code == 'S' || e.code == 'v' || e.code == 'r');
}

}  // namespace

extern "C" {

QO_API const char* ruqo_LibVersion(void) { return QO_VERSION; }

QO_API int ruqo_LibVersionNumber(void) { return QO_VERSION_NUMBER; }

QO_API QoInterp* ruqo_CreateInterp(void) {
    try {
        auto interp = std::make_unique<QoInterp>();
        interp->qo = new CQoLanguage();
        interp->owned = true;
        std::lock_guard<std::mutex> lock(g_handlesLock);
        Handles().insert(interp.get());
        return interp.release();
    } catch (...) {
        return nullptr;
    }
}

QO_API QoInterp* ruqo_SharedInterp(void) {
    try {
        CQoLanguage* qo = SharedInterpreter();
        if (!qo) return nullptr;
        std::lock_guard<std::mutex> lock(g_handlesLock);
        if (!g_shared || g_shared->qo != qo) {
            if (g_shared) Handles().erase(g_shared);
            g_shared = new QoInterp();
            g_shared->qo = qo;
            Handles().insert(g_shared);
        }
        return g_shared;
    } catch (...) {
        return nullptr;
    }
}

QO_API int ruqo_FreeInterp(QoInterp* interp) {
    if (!IsHandle(interp) || !interp->owned) return QO_MISUSE;
    {
        // A run on another thread may be in progress: only its atomic count
        // is read here, never the level it is changing.
        std::lock_guard<std::mutex> lock(g_handlesLock);
        if (interp->qo->m_pRun->outerRuns.load(std::memory_order_acquire) != 0) return QO_MISUSE;
        Handles().erase(interp);
    }
    try {
        delete interp->qo;
    } catch (...) {
    }
    delete interp;
    return QO_OK;
}

QO_API int ruqo_Eval(QoInterp* interp, const char* text, long length, const char* fileName) {
    if (!IsHandle(interp) || !text) return QO_MISUSE;
    try {
        std::string source(text, length < 0 ? strlen(text) : (size_t)length);
        interp->error.clear();
        interp->errorOffset = -1;
        ClearErrorSite(interp->qo);
        RunText(interp, source, fileName);
        TakeResult(interp, source);
        interp->source = std::move(source);
        interp->hasFileName = fileName != nullptr;
        interp->fileName = fileName ? fileName : "";
        return interp->resultType == 'X' ? QO_ERROR : QO_OK;
    } catch (const std::bad_alloc&) {
        return QO_NOMEM;
    } catch (...) {
        interp->resultType = 'X';
        return QO_ERROR;
    }
}

QO_API int ruqo_GetResult(QoInterp* interp, char* type, const char** text, size_t* length) {
    if (!IsHandle(interp)) return QO_MISUSE;
    if (type) *type = interp->resultType;
    if (text) *text = interp->result.c_str();
    if (length) *length = interp->result.size();
    return QO_OK;
}

QO_API int ruqo_GetVar(QoInterp* interp, const char* name, char* type, const char** text, size_t* length) {
    if (!IsHandle(interp) || !name) return QO_MISUSE;
    CQoLanguage* qo = interp->qo;
    try {
        SavedValue saved(qo);
        QoLVarDefine* record = DoVariable(qo, name, 0, 0);
        if (!record || !IsLiveRecord(qo, record)) return QO_NOTFOUND;
        const char recordType = record->GetType();
        std::string_view stored = record->GetDef().view();
        // A pointer's text may carry value-change records after a zero byte.
        if (recordType == 'P') stored = stored.substr(0, strnlen(stored.data(), stored.size()));
        interp->variable.assign(stored);
        if (type) *type = recordType;
        if (text) *text = interp->variable.c_str();
        if (length) *length = interp->variable.size();
        return QO_OK;
    } catch (const std::bad_alloc&) {
        return QO_NOMEM;
    } catch (...) {
        return QO_ERROR;
    }
}

QO_API int ruqo_SetVar(QoInterp* interp, const char* name, char type, const char* text, long length) {
    if (!IsHandle(interp) || !name || (type != 'S' && type != 'N' && type != 'Z') || (!text && type != 'Z'))
        return QO_MISUSE;
    CQoLanguage* qo = interp->qo;
    try {
        std::string error;
        {
            SavedValue saved(qo);
            qo->m_strError.Empty();
            if (type == 'S') {
                qo->SetValueString(text, length < 0 ? (int)strlen(text) : (int)length);
            } else if (type == 'N') {
                qo->m_dValue = qotool::platform::ParseDouble(text);
            }
            qo->m_cType = type;
            try {
                CatchScope catchScope(qo->m_pRun);
                DoVariable(qo, name, type, 'B');
            } catch (const QolUnwind&) {
            }
            if (qo->m_cType == 'X') error = std::string(qo->m_strError.view());
        }
        return qotool::host::StoreAnswer(interp, error);
    } catch (const std::bad_alloc&) {
        return QO_NOMEM;
    } catch (...) {
        return QO_ERROR;
    }
}

QO_API const char* ruqo_ErrorMessage(QoInterp* interp) {
    if (!IsHandle(interp)) return kBadHandle;
    return interp->error.c_str();
}

QO_API int ruqo_ErrorPosition(QoInterp* interp, int* line, int* column) {
    if (!IsHandle(interp)) return QO_MISUSE;
    if (interp->error.empty() || interp->errorOffset < 0) return QO_NOTFOUND;
    int l = 0, c = 0;
    LineAndColumn(interp->source, interp->errorOffset, l, c);
    if (line) *line = l;
    if (column) *column = c;
    return QO_OK;
}

QO_API int ruqo_CheckSyntax(QoInterp* interp, const char* text, long length, QoCheckReport report,
                            void* context) {
    if (!IsHandle(interp) || !text) return QO_MISUSE;
    CQoLanguage* qo = interp->qo;
    if (qo->m_pRun->checkLevel != 0) return QO_MISUSE;
    try {
        interp->source.assign(text, length < 0 ? strlen(text) : (size_t)length);
        interp->error.clear();
        interp->errorOffset = -1;
        const std::string_view source(interp->source.c_str());  // the check stops at a zero byte
        CString program = "{";
        program.Append(source.data(), (int)source.size());
        program += "\r\n}";
        UndefinedNameWatch watch;
        ClearErrorSite(qo);
        CString outcome;
        {
            SavedValue saved(qo);
            LevelGuard guard(qo, 'P', program.c_str());
            outcome = qotool::builtins::RunCheck(qo, program, 0);
        }
        struct Finding {
            int line = 0, column = 0;
            std::string message;
        };
        std::vector<Finding> findings;
        auto emit = [&](long offset, std::string message) {
            Finding finding;
            if (offset >= 0) LineAndColumn(source, offset, finding.line, finding.column);
            finding.message = std::move(message);
            findings.push_back(std::move(finding));
        };
        if (outcome.view().substr(0, 9) == "语法错误=") {
            const std::string message(outcome.view().substr(9));
            ErrorSite site;
            interp->error = message;
            if (LastErrorSite(qo, site)) interp->errorOffset = SiteOffsetInSource(site, source);
            emit(interp->errorOffset, MessageHead(message));
        }
        for (const UndefinedNameUse& use : watch.uses()) {
            const long statement = SiteOffsetInSource(use.statement, source);
            long at = FindName(source, use.name, statement < 0 ? 0 : statement);
            if (at < 0) at = statement;
            size_t after = at < 0 ? 0 : (size_t)at + use.name.size();
            while (after < source.size() && (source[after] == ' ' || source[after] == '\t')) ++after;
            const bool call = at >= 0 && after < source.size() && source[after] == '(';
            std::string message = call ? "执行不认识的函数：" + use.name : "'" + use.name + "' 变量未定义";
            emit(at, message);
        }
        std::stable_sort(findings.begin(), findings.end(), [](const Finding& a, const Finding& b) {
            return a.line != b.line ? a.line < b.line : a.column < b.column;
        });
        for (const Finding& finding : findings)
            if (report) report(context, finding.line, finding.column, finding.message.c_str());
        return findings.empty() ? QO_OK : QO_ERROR;
    } catch (const std::bad_alloc&) {
        return QO_NOMEM;
    } catch (...) {
        return QO_ERROR;
    }
}

QO_API CQoLanguage* ruqo_InterpObject(QoInterp* interp) { return IsHandle(interp) ? interp->qo : nullptr; }

QO_API int ruqo_ReadPara(CQoLanguage* qo, char resultType, char** cursor, const char* format, ...) {
    if (!IsInterpreter(qo) || !cursor || !*cursor || !format) return QO_MISUSE;
    ArgEntry entries[kMaxDestinations];
    void* destinations[kMaxDestinations + 1] = {};
    const int count = ParseEntries(format, entries, kMaxDestinations);
    if (count > kMaxDestinations) return QO_MISUSE;
    va_list args;
    va_start(args, format);
    int given = 0;
    while (given < count) {
        void* destination = va_arg(args, void*);
        if (!destination) break;
        destinations[given++] = destination;
    }
    va_end(args);

    const bool fresh = !((resultType >= 'a' && resultType <= 'z') || resultType == '(');
    try {
        if (!t_argTexts) t_argTexts = new std::deque<CString>();
        if (fresh && t_readDepth == 0) t_argTexts->clear();
        // Text entries read into strings of ours; the QoText gets them after.
        void* passed[kMaxDestinations + 1] = {};
        CString* texts[kMaxDestinations] = {};
        for (int i = 0; i < given; ++i) {
            if (IsTextCode(entries[i])) {
                t_argTexts->emplace_back();
                texts[i] = &t_argTexts->back();
                passed[i] = texts[i];
            } else {
                passed[i] = destinations[i];
            }
        }
        struct Depth {
            Depth() { ++t_readDepth; }
            ~Depth() { --t_readDepth; }
        } depth;
        bool failed = false;
        try {
            qo->ReadPara(resultType, *cursor, format, passed[0], passed[1], passed[2], passed[3], passed[4],
                         passed[5], passed[6], passed[7], passed[8], passed[9], passed[10], passed[11],
                         passed[12], passed[13], passed[14], passed[15], nullptr);
        } catch (const QolUnwind&) {
            failed = true;
        }
        // Inside a run a wrong argument unwinds; the unwind stops here (no
        // exception enters the module's C code) and the error value stays.
        if (failed || qo->m_cType == 'X') return QO_ERROR;
        // The signature: one letter per entry reached; '*' omitted, '-' skipped.
        const std::string_view signature = qo->m_strValue.view();
        for (int i = 0; i < given; ++i) {
            if (!texts[i] || (size_t)i >= signature.size()) continue;
            const char mark = signature[(size_t)i];
            if (mark == '*' || mark == '-' || mark == '?') continue;
            QoText* out = static_cast<QoText*>(destinations[i]);
            out->data = texts[i]->c_str();
            out->length = (size_t)texts[i]->GetLength();
        }
        return QO_OK;
    } catch (...) {
        return QO_ERROR;
    }
}

QO_API char ruqo_ValueType(CQoLanguage* qo) { return IsInterpreter(qo) ? qo->m_cType : 0; }

QO_API uintptr_t ruqo_ValuePointer(CQoLanguage* qo) {
    return IsInterpreter(qo) && qo->m_cType == 'P' ? qo->m_pValue : 0;
}

QO_API const char* ruqo_ValueExtType(CQoLanguage* qo) {
    if (!IsInterpreter(qo)) return "";
    return qo->m_strExtType.c_str();
}

QO_API int ruqo_SetValueNumber(CQoLanguage* qo, double number) {
    if (!IsInterpreter(qo)) return QO_MISUSE;
    qo->m_dValue = number;
    qo->m_cType = 'N';
    return QO_OK;
}

QO_API int ruqo_SetValueText(CQoLanguage* qo, const char* text, long length) {
    if (!IsInterpreter(qo) || !text) return QO_MISUSE;
    try {
        qo->SetValueString(text, length < 0 ? (int)strlen(text) : (int)length);
        qo->m_cType = 'S';
        return QO_OK;
    } catch (...) {
        return QO_NOMEM;
    }
}

QO_API int ruqo_SetValuePointer(CQoLanguage* qo, uintptr_t pointer, const char* extType) {
    if (!IsInterpreter(qo)) return QO_MISUSE;
    try {
        qo->m_pValue = pointer;
        qo->SetValueType('P', extType);
        return QO_OK;
    } catch (...) {
        return QO_NOMEM;
    }
}

QO_API int ruqo_SetValueError(CQoLanguage* qo, const char* message) {
    if (!IsInterpreter(qo) || !message || !*message) return QO_MISUSE;
    try {
        qo->ErrorString(message);
        qo->m_cType = 'X';
        return QO_OK;
    } catch (...) {
        return QO_NOMEM;
    }
}

QO_API int ruqo_Call(QoInterp* interp, const char* function, int argc, const QoValue* argv, QoValue* result) {
    if (result) *result = QoValue{'Z', 0, nullptr, 0, 0, nullptr};
    if (!IsHandle(interp) || !IsHostFunctionName(function) || argc < 0 || (argc > 0 && !argv)) return QO_MISUSE;
    for (int i = 0; i < argc; ++i)
        if (!IsValidHostValue(argv[i])) return QO_MISUSE;
    CQoLanguage* qo = interp->qo;
    struct Drop {
        ~Drop() { DropOuterValueTexts(); }
    } drop;
    try {
        std::string call = std::string(function) + "()";
        bool defined = false;
        {
            SavedValue saved(qo);
            QoLVarDefine* record = DoVariable(qo, call.c_str(), 0, 0);
            defined = record && IsLiveRecord(qo, record) && record->GetType() == 'F';
        }
        if (!defined) {
            interp->error = std::string("执行不认识的函数：") + function;
            interp->errorOffset = -1;
            return QO_NOTFOUND;
        }
        call.pop_back();
        for (int i = 0; i < argc; ++i) {
            call += i ? "," : "";
            call += kCallArgumentWord;
            call += "(" + std::to_string(i) + ")";
        }
        call += ")";
        interp->error.clear();
        interp->errorOffset = -1;
        ClearErrorSite(qo);
        {
            CallArgumentsScope arguments(argc, argv);
            RunText(interp, call, nullptr);
        }
        // An error's place is looked up in the text that defined the function.
        TakeResult(interp, interp->source);
        if (result) {
            result->type = interp->resultType;
            switch (interp->resultType) {
            case 'N': result->number = qo->m_dValue; break;
            case 'P':
                result->pointer = qo->m_pValue;
                interp->resultExtType = std::string(qo->m_strExtType.view());
                result->extType = interp->resultExtType.empty() ? nullptr : interp->resultExtType.c_str();
                break;
            case 'S':
            case 'X':
                result->text = interp->result.c_str();
                result->length = (long)interp->result.size();
                break;
            default: result->type = 'Z'; break;
            }
        }
        return interp->resultType == 'X' ? QO_ERROR : QO_OK;
    } catch (const std::bad_alloc&) {
        return QO_NOMEM;
    } catch (...) {
        interp->resultType = 'X';
        return QO_ERROR;
    }
}

QO_API int ruqo_ErrorInfo(QoInterp* interp, QoErrorInfo* info) {
    if (!IsHandle(interp) || !info) return QO_MISUSE;
    try {
        *info = QoErrorInfo{"", 0, 0, nullptr, ""};
        if (interp->error.empty()) return QO_NOTFOUND;
        interp->errorHead = MessageHead(interp->error);
        interp->errorLine.clear();
        info->message = interp->errorHead.c_str();
        info->fileName = interp->hasFileName ? interp->fileName.c_str() : nullptr;
        if (interp->errorOffset >= 0 && (size_t)interp->errorOffset <= interp->source.size()) {
            LineAndColumn(interp->source, interp->errorOffset, info->line, info->column);
            const std::string_view source = interp->source;
            const size_t offset = (size_t)interp->errorOffset;
            size_t begin = offset == 0 ? std::string_view::npos : source.rfind('\n', offset - 1);
            begin = begin == std::string_view::npos ? 0 : begin + 1;
            size_t end = source.find('\n', begin);
            if (end == std::string_view::npos) end = source.size();
            if (end > begin && source[end - 1] == '\r') --end;
            interp->errorLine.assign(source.substr(begin, end - begin));
        }
        info->sourceLine = interp->errorLine.c_str();
        return QO_OK;
    } catch (...) {
        return QO_NOMEM;
    }
}

}  // extern "C"
