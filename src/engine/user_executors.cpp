// The process-wide table of user executors that hosts and extension
// modules register, and the calls into them.
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <strings.h>

#include "engine/debugger_seam.h"

#include "engine/executor.h"
#include "engine/host_words.h"
#include "engine/run_context.h"
#include "engine/scanner.h"
#include "engine/var_store.h"
#include "platform/last_error.h"
#include "platform/module_loader.h"
#include "qotool/qotool.h"

namespace qotool::engine {

namespace {

struct ExecutorEntry {
    char name[32];
    QoUserExecutor function;
};

// The table is process-wide: g_executorMutex guards it. It is never held
// while an executor runs, since an executor may run QOL text that calls
// executors, or register one.
std::mutex g_executorMutex;
ExecutorEntry g_executors[15];
unsigned char g_executorCount = 0;

// Entry index of the table as it is now, copied under the lock; false when
// the table has shrunk below it meanwhile.
bool EntryAt(int index, ExecutorEntry* entry) {
    std::lock_guard<std::mutex> lock(g_executorMutex);
    if (index < 0 || index >= g_executorCount) return false;
    *entry = g_executors[index];
    return true;
}

int ExecutorCount() {
    std::lock_guard<std::mutex> lock(g_executorMutex);
    return g_executorCount;
}

// text in a name field, cut to its size (snprintf's "%s" without the C
// library's formatter, which a start would otherwise page in for this).
void CopyName(char (&field)[32], const char* text) {
    size_t n = 0;
    while (n + 1 < sizeof field && text[n]) ++n;
    memcpy(field, text, n);
    field[n] = '\0';
}

bool SameKey(const char* a, const char* b) {
    for (;; ++a, ++b) {
        char x = (*a >= 'A' && *a <= 'Z') ? (char)(*a + 32) : *a;
        char y = (*b >= 'A' && *b <= 'Z') ? (char)(*b + 32) : *b;
        if (x != y) return false;
        if (!x) return true;
    }
}

void RemoveEntry(int index) {
    for (int i = index; i + 1 < g_executorCount; ++i) g_executors[i] = g_executors[i + 1];
    --g_executorCount;
}

}  // namespace

bool CallUserExecutors(CQoLanguage* qo, char*& cursor, const char* word) {
    for (int i = ExecutorCount() - 1; i >= 0; --i) {
        ExecutorEntry entry;
        if (!EntryAt(i, &entry)) continue;
        try {
            if (entry.function(&cursor, word, qo)) return true;
            continue;
        } catch (...) {
        }
        if (qo->m_cType == 'X' || qo->m_cType == '?') return true;
        try {
            char* again = cursor;
            entry.function(&again, "", qo);
            std::string message = entry.name;
            message += "用户QOL执行器解释函数异常跳出";
            qo->ErrorString(message.c_str());
            return true;
        } catch (...) {
            std::string message = entry.name;
            message += "用户QOL执行器无效，被移去";
            ruqo_MessageLog(0, 2, message.c_str(), "", "");
            std::lock_guard<std::mutex> lock(g_executorMutex);
            for (int k = (int)g_executorCount - 1; k >= 0; --k)
                if (g_executors[k].function == entry.function && SameKey(g_executors[k].name, entry.name)) {
                    RemoveEntry(k);
                    break;
                }
        }
    }
    return false;
}

// "ruqo_" + X + "_Create" (affixes in any case): the module that serves X.
static bool CreateWordModule(const char* word, std::string* module) {
    size_t n = strlen(word);
    if (n <= 12 || strncasecmp(word, "ruqo_", 5) != 0 || strcasecmp(word + n - 7, "_Create") != 0) return false;
    *module = std::string("qol_") + std::string(word + 5, n - 12) + "_NoQO.DLL";
    return true;
}

void CallExternal(CQoLanguage* qo, char*& cursor, const char* word) {
    QoLRunContext* run = qo->m_pRun;
    // The host's own functions of this interpreter come before the
    // process-wide executors; their errors reach the script as they are.
    if (CallHostFunction(qo, cursor, word)) return;
    qo->m_modeFlags |= 0x01;
    qo->m_cType = 'Z';
    CString savedCallName = run->callName;
    bool handled = CallUserExecutors(qo, cursor, word);
    std::string module;
    if (!handled && CreateWordModule(word, &module)) {
        if (qotool::platform::LoadModule(module.c_str())) {
            handled = CallUserExecutors(qo, cursor, word);
        } else {
            std::string message = "不能加载QOL对象解析器的：" + module;
            // The loader's own reason (an undefined symbol, a missing file)
            // goes to the message log; the error keeps the script's name.
            CString reason;
            qotool::platform::LastSystemError(reason);
            ruqo_MessageLog(0, 2, message.c_str(), "：", reason.c_str());
            qo->ErrorString(message.c_str());
            qo->m_cType = 'X';
            handled = true;
        }
    }
    try {
        qo->WritePara();
    } catch (...) {
        if (qo->m_cType != '?') qo->m_cType = 'X';
    }
    run->callName = savedCallName;
    qotool::diag::Trace(run, cursor, "=变元");
    qo->m_modeFlags &= (unsigned char)~0x01;
    if (qo->m_cType == 'X') {
        std::string message = "外部扩展函数";
        message += word;
        message += "执行错误\r\n";
        message += qo->m_strError.c_str();
        qo->ReportError(message.c_str(), cursor);
        return;
    }
    if (handled) return;
    if (qo->m_bSyntaxCheck) {
        RecordUndefinedName(qo, word);
        if (!CheckArgumentsToClose(qo, cursor)) return;
        qo->FunctionBracketTrace(cursor, ')');
        qo->m_cType = '?';
        return;
    }
    std::string message = "执行不认识的函数：";
    message += word;
    qo->ReportError(message.c_str(), cursor);
}

}  // namespace qotool::engine

extern "C" QO_API intptr_t ruqo_UserQolExecutor(const char* name, char op, intptr_t function) {
    using namespace qotool::engine;
    if (!name) name = "";
    if (strlen(name) >= 31) {
        ruqo_MessageLog(0, 1, "用户QOL执行器名称超过所允许的长度30：;", name, "");
        return 0;
    }
    char key[32];
    if (*name)
        CopyName(key, name);
    else
        snprintf(key, sizeof key, "&%lx", (unsigned long)function);
    std::unique_lock<std::mutex> lock(g_executorMutex);
    for (int i = (int)g_executorCount - 1; i >= 0; --i) {
        if (!SameKey(g_executors[i].name, key)) continue;
        intptr_t found = (intptr_t)g_executors[i].function;
        if (op == '+') {
            if (!function) return 0;
            CopyName(g_executors[i].name, key);
            g_executors[i].function = (QoUserExecutor)function;
            return function;
        }
        if (op == '-') RemoveEntry(i);
        return found;
    }
    if (op != '+') return 0;
    if (!function) return 0;  // a null function is never stored: calling it would jump to address 0
    if (g_executorCount >= 15) {
        lock.unlock();  // the log may show a box and call back
        ruqo_MessageLog(0, 1, "用户QOL执行器个数不能超过15个，不能添加;", name, "");
        return 0;
    }
    ExecutorEntry& entry = g_executors[g_executorCount++];
    CopyName(entry.name, key);
    entry.function = (QoUserExecutor)function;
    return function;
}
