// Interpreter control built-ins: BindTableBuffer, docmd, QolCreate,
// QolRelease, QolRun, QolHandle, ErrorCheck, get, report and set.
#include "builtins/args.h"
#include "builtins/control.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <strings.h>

#include "diag/platform_record.h"
#include "engine/executor.h"
#include "engine/instance.h"
#include "engine/run_context.h"
#include "engine/scanner.h"
#include "engine/syntax_check.h"
#include "engine/var_store.h"
#include "engine/var_tables.h"
#include "platform/encoding.h"
#include "platform/paths.h"
#include "platform/module_path.h"
#include "platform/number_text.h"
#include "qotool/paths.h"
#include "qotool/qolanguage.h"
#include "qotool/qotool.h"

namespace qotool::builtins {

namespace {

using engine::SkipBlanks;
using platform::FormatNumber15;


// The interpreters QolCreate made, process-wide: scripts on any thread may
// pass the handles around. g_createdMutex guards the list (never held while
// an interpreter runs or is destroyed).
std::mutex g_createdMutex;
std::vector<CQoLanguage*>& Created() {
    static std::vector<CQoLanguage*>* list = new std::vector<CQoLanguage*>();
    return *list;
}

// The interpreters QolCreate made (with their serials) during the check
// running on this thread; null while none runs here.
using MadeInCheck = std::vector<std::pair<CQoLanguage*, uint64_t>>;
thread_local MadeInCheck* t_madeInCheck = nullptr;

// Takes the interpreters of made that are still in the created list out of
// it and destroys them; one the check released (or whose address another
// interpreter took since) is no longer there under its serial.
void DestroyMadeInCheck(const MadeInCheck& made) {
    std::vector<CQoLanguage*> doomed;
    {
        std::lock_guard<std::mutex> lock(g_createdMutex);
        std::vector<CQoLanguage*>& list = Created();
        for (const auto& [created, serial] : made) {
            const auto at = std::find(list.begin(), list.end(), created);
            if (at == list.end() || !engine::IsLiveInterpreter(created, serial)) continue;
            // One that is running a text (on another thread) stays, as QolRelease leaves it.
            if (created->m_pRun && created->m_pRun->level > 0) continue;
            list.erase(at);
            doomed.push_back(created);
        }
    }
    for (CQoLanguage* created : doomed) delete created;
}

// The value as QOL source text that gives it back.
std::string ValueAsSource(CQoLanguage* qo) {
    switch (qo->m_cType) {
    case 'N': {
        char buf[32];
        return std::string(buf, (size_t)FormatNumber15(qo->m_dValue, buf));
    }
    case 'S': return std::string(ruqo_MakeQolString(qo->m_strValue, '"').view());
    case 'Z': return "NULL";
    case 'P': {
        char buf[48];
        snprintf(buf, sizeof buf, "%lld", (long long)platform::SignedPointer(qo->m_pValue));
        std::string text = buf;
        text += "%'P";
        text += qo->m_strExtType.c_str();  // up to a hidden value-change record
        text += "'";
        return text;
    }
    default: return std::string(qo->m_strValue.view());
    }
}

}  // namespace

// ---- interpreter handles ----

double HandleNumber(const CQoLanguage* qo) { return (double)(uintptr_t)qo; }

uintptr_t HandleFromNumber(double number) { return platform::NarrowPointer(platform::TruncToInt64(number)); }

const std::vector<CQoLanguage*>& CreatedInterpreters() { return Created(); }

CString RunCheck(CQoLanguage* qo, const CString& text, unsigned char mode) {
    struct Scope {
        MadeInCheck made;
        MadeInCheck* outer = t_madeInCheck;
        Scope() { t_madeInCheck = &made; }
        ~Scope() {
            t_madeInCheck = outer;
            DestroyMadeInCheck(made);
        }
        Scope(const Scope&) = delete;
        Scope& operator=(const Scope&) = delete;
    } scope;
    return engine::RunSyntaxCheck(qo, text, mode);
}

void DestroyCreatedInterpreters() {
    std::vector<CQoLanguage*> list;
    {
        std::lock_guard<std::mutex> lock(g_createdMutex);
        list.swap(Created());
    }
    while (!list.empty()) {
        CQoLanguage* qo = list.back();
        list.pop_back();
        if (engine::IsLiveInterpreter(qo)) delete qo;
    }
}

int EntryStackDepth() { return engine::EntryStackSize(); }

CQoLanguage* EntryStackInterpreter(int n) {
    if (n < 1 || n > EntryStackDepth()) return nullptr;
    QoLRunContext* run = engine::EntryStackAt(n - 1);
    return run ? run->owner : nullptr;
}

// ---- handlers ----

void BindTableBuffer(CQoLanguage* qo, char*& cursor, const char*) {
    qo->DoSentence(cursor, ")", 'S', 0);
    if (Undetermined(qo)) return;
    const CString name = qo->m_strValue;
    SetNumber(qo, qo->BindTableBuffer(name.c_str()));
}

void DoCmd(CQoLanguage* qo, char*& cursor, const char*) {
    qo->DoSentence(cursor, "),", 'S', 0);
    bool undetermined = Undetermined(qo);
    const CString kind = qo->m_strValue;
    CString text;
    bool hasText = false;
    if (*cursor == ',') {
        ++cursor;
        qo->DoSentence(cursor, ")", 'S', 0);
        undetermined = undetermined || Undetermined(qo);
        text = qo->m_strValue;
        hasText = true;
    }
    if (undetermined) {
        qo->m_cType = '?';
        return;
    }
    qo->Do(kind.c_str(), hasText ? text.c_str() : nullptr);
}

// During a syntax check nothing that outlives the check may change: an
// interpreter made in a check is a checking one (its runs are checks too),
// only checking interpreters are run into or released, and a temporary one
// checks its block.
void QolCreate(CQoLanguage* qo, char*& cursor, const char*) {
    qo->DoSentence(cursor, ")", 'N', ')');
    const bool checking = qo->m_bSyntaxCheck != 0;
    const unsigned flags = Undetermined(qo) ? 0u : (unsigned)(platform::TruncToInt64(qo->m_dValue) & 0xFF);
    CQoLanguage* created = new CQoLanguage();
    if (flags & 0x01) created->m_pPlatform = qo->m_pPlatform;
    if (flags & 0x02) created->m_pRun->traceFlags = qo->m_pRun->traceFlags;
    if ((flags & 0x04) || checking) created->m_bSyntaxCheck = qo->m_bSyntaxCheck;
    // The external-call bit only means something during a call in progress.
    if (flags & 0x08) created->m_modeFlags = (unsigned char)(qo->m_modeFlags & ~0x01);
    {
        std::lock_guard<std::mutex> lock(g_createdMutex);
        Created().push_back(created);
    }
    if (checking && t_madeInCheck) t_madeInCheck->emplace_back(created, engine::InterpreterSerial(created));
    SetNumber(qo, HandleNumber(created));
}

void QolRelease(CQoLanguage* qo, char*& cursor, const char*) {
    qo->DoSentence(cursor, ")", 'N', ')');
    if (Undetermined(qo)) return;
    const uintptr_t handle = HandleFromNumber(qo->m_dValue);
    if (handle == (uintptr_t)qo) {
        qo->ReportError("QolRelease()不能关闭当前解释器自身", cursor);
        return;
    }
    std::unique_lock<std::mutex> lock(g_createdMutex);
    std::vector<CQoLanguage*>& list = Created();
    int index = (int)list.size() - 1;
    while (index >= 0 && (uintptr_t)list[(size_t)index] != handle) --index;
    if (index < 0) {
        qo->ReportError("QolRelease()所关闭的不是QolCreate()创建的解释器句柄", cursor);
        return;
    }
    CQoLanguage* target = list[(size_t)index];
    const bool live = engine::IsLiveInterpreter(target);
    // An interpreter that is running a text (one that called into this one)
    // stays: destroying it would pull the text from under its run.
    if (live && target->m_pRun && target->m_pRun->level > 0) {
        qo->ReportError("QolRelease()不能关闭正在执行的解释器", cursor);
        return;
    }
    SetNumber(qo, HandleNumber(target));
    if (live && qo->m_bSyntaxCheck && !target->m_bSyntaxCheck) return;
    list.erase(list.begin() + index);
    lock.unlock();
    if (live) delete target;
}

void QolRun(CQoLanguage* qo, char*& cursor, const char*) {
    static const char kMissingEquals[] =
        "参变量传入值缺少等号。标准格式为：QolRun(QOL实例句柄;参变量1=表达式1,...,参变量n=表达式n){程序;};";
    qo->DoSentence(cursor, ";)", 'N', 0);
    const bool checking = qo->m_bSyntaxCheck != 0;
    bool undetermined = Undetermined(qo);
    const uintptr_t handle = undetermined ? 0 : HandleFromNumber(qo->m_dValue);

    std::string program;
    while (*cursor != ')') {
        if (*cursor) ++cursor;  // the ';' or ','
        SkipBlanks(cursor);
        char* equals = strchr(cursor, '=');
        if (!equals) {
            qo->ReportError(kMissingEquals, cursor);
            return;
        }
        char* value = equals + 1;
        qo->DoSentence(value, "),", 0, 0);
        program.append(cursor, (size_t)(equals + 1 - cursor));
        // A value a check could not determine is passed as nothing.
        program += Undetermined(qo) ? std::string("NULL") : ValueAsSource(qo);
        program += ";\r\n";
        cursor = value;
    }
    qo->FunctionBracketTrace(cursor, ')');

    char* blockStart = cursor;
    char* end = ruqo_SkipSentence(cursor, 1);
    if (*blockStart == '{') {
        program.append(blockStart + 1, end);
        cursor = *end == '}' ? end + 1 : end;
        SkipBlanks(cursor);
    } else {
        program.append(blockStart, end);
        cursor = end;
    }

    std::unique_ptr<CQoLanguage> temporary;
    CQoLanguage* target = nullptr;
    if (undetermined) {
        target = nullptr;
    } else if (handle == 0) {
        temporary = std::make_unique<CQoLanguage>();
        temporary->m_pPlatform = qo->m_pPlatform;
        temporary->m_bSyntaxCheck = qo->m_bSyntaxCheck;
        target = temporary.get();
    } else if (engine::IsLiveInterpreter(reinterpret_cast<CQoLanguage*>(handle))) {
        target = reinterpret_cast<CQoLanguage*>(handle);
    } else if (!checking) {
        // No interpreter lives at that address: nothing there is touched.
        ruqo_MessageLog(0, 1, "QOL解析器实例句柄非法或不存在，可能是其已析构", "", "");
        static const char kFailed[] = "QolUse()执行出错，可能是句柄非法";
        qo->m_strError = kFailed;
        qo->m_strValue = kFailed;
        qo->m_cType = 'S';
        return;
    }
    // A check runs nothing for real in another interpreter.
    if (!target || (checking && !target->m_bSyntaxCheck)) {
        qo->m_cType = '?';
        return;
    }

    bool escaped = false;
    {
        engine::CatchScope catcher(target->m_pRun);
        try {
            target->DoQol(program.c_str(), nullptr);
        } catch (const engine::QolUnwind&) {
            escaped = true;
        }
    }
    if (escaped) {
        CString message;
        message.Format("QolUse()执行出错%s", temporary ? "" : "，可能是句柄非法");
        target->ErrorString(message.c_str());
        target->m_cType = 'X';
    }
    if (target != qo) {
        qo->m_cType = target->m_cType;
        qo->m_dValue = target->m_dValue;
        qo->m_strValue = target->m_strValue;
        qo->m_pValue = target->m_pValue;
        qo->m_strExtType = target->m_strExtType;
        qo->m_strError = target->m_strError;
    }
    // The other interpreter's error comes back as a string.
    if (qo->m_cType == 'X') {
        qo->m_strValue = qo->m_strError;
        qo->m_cType = 'S';
    }
}

void QolHandle(CQoLanguage* qo, char*& cursor, const char*) {
    SkipBlanks(cursor);
    long long n = -1;
    if (*cursor != ')') {
        qo->DoSentence(cursor, ")", 'N', ')');
        if (Undetermined(qo)) return;
        n = engine::ToInt32(qo->m_dValue);
    }
    if (n == -1) return SetNumber(qo, HandleNumber(qo));
    const int depth = EntryStackDepth();
    if (n == 0) return SetNumber(qo, depth);
    if (n < -1) n += depth + 1;
    if (n < 1 || n > depth) return SetNumber(qo, 0);
    SetNumber(qo, HandleNumber(EntryStackInterpreter((int)n)));
}

void ErrorCheck(CQoLanguage* qo, char*& cursor, const char*) {
    uint8_t mode = 0;
    qo->ReadPara('N', cursor, "%1", &mode, nullptr);
    SkipBlanks(cursor);
    if (*cursor != '{') {
        qo->ReportError("语法检查函数ErrorCheck必须带{}", cursor);
        return;
    }
    char* end = ruqo_SkipSentence(cursor, 1);
    CString text(cursor, (int)(end - cursor));
    cursor = *end == '}' ? end + 1 : end;
    SkipBlanks(cursor);
    if (mode == 2) text += "report('PrivateBasicVariable');\r\n";
    text += "}";
    // A check inside a check is inert.
    if (qo->m_pRun->checkLevel != 0) return SetString(qo, CString());
    SetString(qo, RunCheck(qo, text, mode));
}

void Get(CQoLanguage* qo, char*& cursor, const char*) {
    const char savedType = qo->m_cType;
    const double savedNumber = qo->m_dValue;
    const CString savedString = qo->m_strValue;
    const uintptr_t savedPointer = qo->m_pValue;
    const CString savedExtType = qo->m_strExtType;
    const CString savedError = qo->m_strError;

    qo->DoSentence(cursor, "),", 'S', ',');
    if (Undetermined(qo)) {
        // Only the arguments' form can be looked at.
        if (!engine::CheckArgumentsToClose(qo, cursor)) return;
        qo->m_cType = '?';
        return;
    }
    const CString item = qo->m_strValue;
    const char* name = item.c_str();
    QoLRunContext* run = qo->m_pRun;
    if (Is(name, "LastValue")) {
        CString variable;
        qo->ReadPara('S', cursor, "%s", &variable, nullptr);
        if (variable.IsEmpty()) variable = "LastValue";
        qo->m_cType = savedType;
        qo->m_dValue = savedNumber;
        qo->m_strValue = savedString;
        qo->m_pValue = savedPointer;
        qo->m_strExtType = savedExtType;
        qo->m_strError = savedError;
        engine::DoVariable(qo, variable.c_str(), 'a', 'B');
        return;
    }
    if (Is(name, "LastError")) {
        qo->ReadPara('S', cursor, "", nullptr);
        return SetString(qo, qo->m_strError);
    }
    if (Is(name, "UnDefVariable")) {
        qo->ReadPara('S', cursor, "", nullptr);
        return SetString(qo, engine::UndefinedNameList(qo));
    }
    if (Is(name, "FileList")) {
        CString directory, patterns, options;
        qo->ReadPara('S', cursor, "%s%s%s", &directory, &patterns, &options, nullptr);
        if (qo->m_bSyntaxCheck) return SetString(qo, CString());  // a check lists nothing
        if (patterns.IsEmpty()) patterns = "*.*";
        return SetString(qo, ruqo_GetDirectoyFiles(directory, patterns, options));
    }
    if (Is(name, "QoVersion")) {
        qo->ReadPara('S', cursor, "", nullptr);
        // The platform record's version text: empty while there is no record.
        const diag::PlatformRecord* record = diag::ExistingPlatform();
        return SetString(qo, record ? CString(record->versionText.c_str()) : CString());
    }
    if (Is(name, "WorkDirectory")) {
        qo->ReadPara('S', cursor, "", nullptr);
        return SetString(qo, std::string_view(platform::WorkDirectory()));
    }
    if (Is(name, "QoDirectory")) {
        qo->ReadPara('S', cursor, "", nullptr);
        return SetString(qo, std::string_view(platform::SystemNameFromOs(platform::LibraryDirectory())));
    }
    if (Is(name, "Path")) {
        CString path;
        qo->ReadPara('S', cursor, "%s", &path, nullptr);
        if (path.IsEmpty()) path = CString(std::string_view(platform::WorkDirectory()));
        return SetString(qo, ruqo_ReplacePathMacro(path.c_str()));
    }
    if (Is(name, "CurrentQolFile")) {
        qo->ReadPara('S', cursor, "", nullptr);
        return SetString(qo, run->currentFile);
    }
    CString message = "函数 get(...) 不支持条目名称：";
    message += item;
    qo->ReportError(message.c_str(), cursor);
}

void Report(CQoLanguage* qo, char*& cursor, const char*) {
    qo->DoSentence(cursor, ")", 'S', ')');
    if (Undetermined(qo)) return;
    CString item = qo->m_strValue;
    item.MakeLower();
    if (item.Find("basicvar") < 0) {
        CString message =
            "信息函数report()不支持BasicVariable/PublicBasicVariable/PrivateBasicVariable之外的此报告项：";
        message += item;
        qo->ReportError(message.c_str(), cursor);
        return;
    }
    auto& variables = qo->m_pVars->variables;
    const int level = std::max(qo->m_nScopeLevel, 0);
    auto boundary = [&](int k) {
        if ((size_t)k >= qo->m_scopeTable.size()) return variables.size();
        return std::clamp(qo->m_scopeTable[(size_t)k].first, 0, variables.size());
    };
    int first = 0, end = boundary(level + 1);
    if (level > 0) {
        if (item.Find("pub") >= 0)
            end = std::min(end, boundary(1));
        else if (item.Find("pri") >= 0)
            first = boundary(level);
    }
    CString lines;
    for (int i = first; i < end; ++i) {
        const QoLVarDefine* record = variables[i];
        CString value;
        switch (record->m_cType) {
        case 'N': value = record->m_strDef; break;
        case 'S': value = ruqo_MakeQolString(record->m_strDef, '"'); break;
        case 'Z': value = "NULL"; break;
        case 'P': {
            // The pointer literal: 1234%"P%mem" (or 1234"P" without a type).
            std::string text(record->m_strDef.c_str());  // up to a hidden value-change record
            size_t percent = text.find('%');
            if (percent == std::string::npos) {
                text += "\"P\"";
            } else {
                if (percent > 0 && text[percent - 1] == '#') --percent;
                text.insert(percent, "%\"P");
                text += '"';
            }
            value = CString(std::string_view(text));
            break;
        }
        default: continue;
        }
        if (!lines.IsEmpty()) lines += "\r\n";
        lines += record->m_strName;
        lines += '=';
        lines += value;
        lines += ';';
    }
    SetString(qo, lines);
}

void Set(CQoLanguage* qo, char*& cursor, const char*) {
    qo->DoSentence(cursor, ")", 'S', 0);
    if (Undetermined(qo)) return;
    std::string option(qo->m_strValue.view());
    for (char& c : option)
        if ((unsigned char)c < 32) c = ' ';
    for (size_t at; (at = option.find("  ")) != std::string::npos;) option.erase(at, 1);
    CString text{std::string_view(option)};
    text.MakeLower();
    unsigned char flag;
    if (text.Find("error skip ") >= 0)
        flag = 0x02;
    else if (text.Find("error output ") >= 0)
        flag = 0x04;
    else if (text.Find("pause key ") >= 0)
        flag = 0x20;
    else {
        qo->ReportError("set() 变量值不合法", cursor);
        return;
    }
    if (text.Find(" on") >= 0)
        qo->m_modeFlags |= flag;
    else
        qo->m_modeFlags &= (unsigned char)~flag;
    SetString(qo, text);
}

}  // namespace qotool::builtins
