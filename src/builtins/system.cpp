// System, file and process built-ins (system.h), and ruqo_ExecWithMsg.
#include "builtins/system.h"

#include <strings.h>

#include <cstdarg>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>

#include "builtins/args.h"
#include "engine/scanner.h"
#include "platform/clipboard.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/keys.h"
#include "platform/message_queue.h"
#include "platform/module_path.h"
#include "platform/processes.h"
#include "platform/registry.h"
#include "platform/sound.h"
#include "qotool/paths.h"
#include "qotool/qolanguage.h"
#include "qotool/qotool.h"

namespace qotool::builtins {

namespace {

using Handler = void (*)(CQoLanguage*, char*&);

// Wait flags of ExecWithMsg.
enum : unsigned {
    kWaitLoop = 0x01,       // wait, servicing the thread's messages
    kWaitInputIdle = 0x02,  // first wait until the process is idle for input
    kDispatchAll = 0x04,    // dispatch every message
    kKillAfter = 0x08,      // (kill mode) end the process when the wait did not see it end
};

constexpr unsigned kNoProcess = 0xFFFFFFFFu;
constexpr int kMessagesPerRound = 31;  // messages a wait takes off the queue each round

void Fail(CQoLanguage* qo, char*& cursor, const CString& subject, const char* text) {
    CString message = subject;
    message += text;
    qo->ReportError(message.c_str(), cursor);
}

enum class Mode { kProcess, kWindow, kKill };

// The wait of ruqo_ExecWithMsg on an opened process.
unsigned WaitOn(platform::ProcessWatch& watch, Mode mode, uintptr_t window, unsigned flags, int timeoutMs) {
    using platform::ProcessWatch;
    const int pid = watch.pid();
    const bool kill = mode == Mode::kKill;
    const int64_t deadline = timeoutMs > 0 ? platform::MonotonicMillis() + timeoutMs : -1;
    // kWaitInputIdle: a process here has no input state to wait for.
    ProcessWatch::Wait last = ProcessWatch::Wait::kTimedOut;
    if (flags & kWaitLoop) {
        for (;;) {
            if (kill) platform::AskProcessToClose(pid);
            int wait = -1;
            if (deadline >= 0) {
                const int64_t left = deadline - platform::MonotonicMillis();
                if (left < 1) break;
                wait = (int)left;
            }
            if (kill && wait >= 0 && wait < 100) wait = 100;
            last = watch.WaitFor(wait, true);
            // What arrived is taken off the queue; it runs only with
            // kDispatchAll (the queue holds neither paint messages nor
            // messages of a window), and never deeper than the queue's
            // nesting bound.
            if (last == ProcessWatch::Wait::kMessages)
                platform::TakeThreadMessages(kMessagesPerRound, (flags & kDispatchAll) != 0);
            if (mode == Mode::kWindow && !platform::WindowAlive(window)) {
                last = ProcessWatch::Wait::kEnded;
                break;
            }
            if (last != ProcessWatch::Wait::kMessages) break;
        }
    }
    if (kill && (flags & kKillAfter) && last != ProcessWatch::Wait::kEnded) {
        if (platform::TerminateProcess(pid)) watch.WaitFor(60000, false);
    }
    if (mode == Mode::kWindow) return last == ProcessWatch::Wait::kTimedOut ? (unsigned)window : 0;
    return watch.Running() ? (unsigned)pid : 0;
}

// ---- Beep, Clipboard, PlaySound, SpyKey ----

void Beep(CQoLanguage* qo, char*& cursor) {
    int32_t frequency = 0, duration = 0;
    qo->ReadPara('N', cursor, "%4%4", &frequency, &duration, nullptr);
    if (qo->m_bSyntaxCheck) return;
    SetNumber(qo, platform::Beep((unsigned)frequency, (unsigned)duration));
}

void Clipboard(CQoLanguage* qo, char*& cursor) {
    engine::SkipBlanks(cursor);
    if (*cursor == ')') {  // left for the executor to close
        if (qo->m_bSyntaxCheck) return SetString(qo, CString());
        std::string text;
        if (!platform::ReadClipboardText(text)) return qo->ReportError("剪贴板读失败", cursor);
        return SetString(qo, std::string_view(text));
    }
    if (!SoleArg(qo, cursor, 'S') || Undetermined(qo) || qo->m_bSyntaxCheck) return;
    const CString text = StringValue(qo);
    if (!platform::WriteClipboardText(text.view())) return qo->ReportError("剪贴板写失败", cursor);
    SetString(qo, text);
}

void PlaySound(CQoLanguage* qo, char*& cursor) {
    CString file;
    qo->ReadPara('N', cursor, "%s", &file, nullptr);
    if (qo->m_bSyntaxCheck) return;
    SetNumber(qo, platform::PlaySoundFile(file.c_str()) ? 1 : 0);
}

void SpyKey(CQoLanguage* qo, char*& cursor) {
    int32_t code = 0;
    CString name;
    qo->ReadPara('N', cursor, "?4%s", &code, &name, nullptr);
    if (qo->m_bSyntaxCheck) return;
    const bool byName = qo->m_strValue.GetLength() > 0 && qo->m_strValue[0] != 'N';
    if (byName) {
        name.MakeUpper();
        code = KeyCodeOfName(name.c_str());
        if (code < 0) return Fail(qo, cursor, "不认识的键名 ", name.c_str());
    }
    SetNumber(qo, platform::KeyIsDown(code) ? 1 : 0);
}

// ---- directories ----

template <bool (*Operation)(const char*)>
void DirOperation(CQoLanguage* qo, char*& cursor) {
    CString path;
    qo->ReadPara('N', cursor, "%s", &path, nullptr);
    if (qo->m_bSyntaxCheck) return;
    try {
        SetNumber(qo, Operation(path.c_str()) ? 1 : 0);
    } catch (...) {
        qo->ReportError("目录操作非法", cursor);
    }
}

void DirGet(CQoLanguage* qo, char*& cursor) {
    CString unused;
    qo->ReadPara('S', cursor, "%s", &unused, nullptr);
    if (qo->m_bSyntaxCheck) return;
    try {
        const std::string current = platform::CurrentDirectory();
        if (current.empty()) return qo->ReportError("目录操作非法", cursor);
        SetString(qo, std::string_view(current));
    } catch (...) {
        qo->ReportError("目录操作非法", cursor);
    }
}

void DirIllegal(CQoLanguage* qo, char*& cursor) { qo->ReportError("目录操作非法", cursor); }

// ---- processes ----

void Exec(CQoLanguage* qo, char*& cursor) {
    CString command;
    int32_t show = 1;
    qo->ReadPara('N', cursor, "%s%4", &command, &show, nullptr);
    if (qo->m_bSyntaxCheck) return;
    if (show == -1) {
        const int code = platform::RunCommandLine(command.c_str());
        SetNumber(qo, code);
        if (code != 0) qo->ReportError("执行DOS命令不正确", cursor);
        return;
    }
    int pid = 0;
    int result;
    switch (platform::StartProgram(command.c_str(), nullptr, pid)) {
    case platform::StartFailure::kNone: result = platform::kStartedValue; break;
    case platform::StartFailure::kNoMemory: result = 0; break;
    case platform::StartFailure::kFileNotFound: result = 2; break;
    case platform::StartFailure::kPathNotFound: result = 3; break;
    case platform::StartFailure::kBadFormat: result = 11; break;
    default: result = 5; break;  // access denied
    }
    SetNumber(qo, result);
    if (result == 0) return qo->ReportError("内存资源不足", cursor);
    if (result == 11) return Fail(qo, cursor, command, " 执行文件格式不对");
    if (result == 2)
        return Fail(qo, cursor, command, " 文件不存在\r\n（若执行DOS命令，典型写法：exec('del c:\\a.txt',-1);）");
    if (result == 3) return Fail(qo, cursor, command, " 路径不存在");
}

void ExecWait(CQoLanguage* qo, char*& cursor) {
    CString command, folder;
    uint8_t flags = kWaitLoop;
    int16_t show = 5;
    qo->ReadPara('N', cursor, "%s%s%1%2", &command, &folder, &flags, &show, nullptr);
    if (qo->m_bSyntaxCheck) return;
    int pid = 0;
    platform::ProcessWatch watch;
    if (platform::StartProgram(command.c_str(), folder.c_str(), pid, &watch) != platform::StartFailure::kNone)
        return Fail(qo, cursor, command, " 不能被执行");
    SetNumber(qo, (int32_t)WaitOn(watch, Mode::kProcess, 0, flags, 0));
}

template <const char* Mode>
void WaitFunction(CQoLanguage* qo, char*& cursor) {
    int32_t id = 0, timeout = -1;
    uint8_t flags = kWaitLoop;
    qo->ReadPara('N', cursor, "%4%1%4", &id, &flags, &timeout, nullptr);
    if (qo->m_bSyntaxCheck) return;
    SetNumber(qo, (int32_t)ExecWithMsg(Mode, (unsigned)id, flags, timeout));
}

constexpr char kProcessMode[] = "ExecWaitProcess";
constexpr char kWindowMode[] = "ExecWaitWindow";
constexpr char kKillMode[] = "ExecKill";

// ---- files ----

enum class FileCall { kRead, kWrite, kDelete, kRename, kReadonly, kAccess };

// Reports the failure of a File function with the first message that
// applies.
void FileFailure(CQoLanguage* qo, char*& cursor, FileCall call, const CString& name, const CString& newName) {
    using platform::FileState;
    const FileState state = platform::ProbeFile(name.c_str());
    const char* text = " 文件操作失败（可能是文件名不合法等）";
    if (call == FileCall::kWrite && state == FileState::kReadOnly)
        text = " 文件只读，不可改写";
    else if (call == FileCall::kAccess)
        ;
    else if (state == FileState::kMissing)
        text = " 文件不存在，不可操作";
    else if ((call == FileCall::kRename || call == FileCall::kDelete) && state == FileState::kReadOnly)
        text = " 文件只读，不可操作";
    else if (call == FileCall::kRename && platform::ProbeFile(newName.c_str()) != FileState::kMissing)
        text = " 文件已存在，不可改名";
    Fail(qo, cursor, name, text);
}

CString PathOf(const CString& name) { return ruqo_ReplacePathMacro(name.c_str()); }

void FileRead(CQoLanguage* qo, char*& cursor) {
    CString name;
    int32_t maximum = 1000000000;
    qo->ReadPara('S', cursor, "%s%4", &name, &maximum, nullptr);
    if (qo->m_bSyntaxCheck) return;
    name = PathOf(name);
    CString bytes;
    try {
        if (!platform::ReadFileBytes(name.c_str(), (uint32_t)maximum, bytes))
            return FileFailure(qo, cursor, FileCall::kRead, name, CString());
    } catch (const std::exception&) {  // more than memory or one text holds
        return qo->ReportError(engine::kOutOfMemory, cursor);
    }
    SetString(qo, bytes);
}

void FileWrite(CQoLanguage* qo, char*& cursor) {
    CString name, text;
    qo->ReadPara('N', cursor, "%s%s", &name, &text, nullptr);
    if (qo->m_bSyntaxCheck) return;
    name = PathOf(name);
    int64_t length = 0;
    if (!platform::WriteFileBytes(name.c_str(), text.view(), length))
        return FileFailure(qo, cursor, FileCall::kWrite, name, CString());
    SetNumber(qo, (double)length);
}

void FileDelete(CQoLanguage* qo, char*& cursor) {
    CString name;
    qo->ReadPara('Z', cursor, "%s", &name, nullptr);
    if (qo->m_bSyntaxCheck) return;
    name = PathOf(name);
    if (!platform::DeleteFileNamed(name.c_str())) return FileFailure(qo, cursor, FileCall::kDelete, name, CString());
    qo->m_cType = 'Z';
}

void FileRename(CQoLanguage* qo, char*& cursor) {
    CString name, newName;
    qo->ReadPara('Z', cursor, "%s%s", &name, &newName, nullptr);
    if (qo->m_bSyntaxCheck) return;
    name = PathOf(name);
    newName = PathOf(newName);
    if (!platform::RenameFileNamed(name.c_str(), newName.c_str()))
        return FileFailure(qo, cursor, FileCall::kRename, name, newName);
    qo->m_cType = 'Z';
}

void FileReadonly(CQoLanguage* qo, char*& cursor) {
    CString name;
    uint8_t flag = 1;
    qo->ReadPara('Z', cursor, "%s%1", &name, &flag, nullptr);
    if (qo->m_bSyntaxCheck) return;
    name = PathOf(name);
    if (!platform::SetFileReadOnly(name.c_str(), flag != 0))
        return FileFailure(qo, cursor, FileCall::kReadonly, name, CString());
    qo->m_cType = 'Z';
}

void FileAccess(CQoLanguage* qo, char*& cursor) {
    CString name;
    qo->ReadPara('N', cursor, "%s", &name, nullptr);
    if (qo->m_bSyntaxCheck) return;
    switch (platform::ProbeFile(PathOf(name).c_str())) {
    case platform::FileState::kMissing: return SetNumber(qo, -1);
    case platform::FileState::kWritable: return SetNumber(qo, 1);
    case platform::FileState::kReadOnly: return SetNumber(qo, 0);
    }
}

// ---- registry and file search ----

void RegRead(CQoLanguage* qo, char*& cursor) {
    CString key, name;
    int32_t root = 2, unused = 0;
    qo->ReadPara('S', cursor, "%s%s%4%4", &key, &name, &root, &unused, nullptr);
    if (qo->m_bSyntaxCheck) {
        qo->m_cType = '?';
        return;
    }
    platform::RegistryValue value;
    const uint32_t rootKey = 0x80000000u + (uint32_t)root;
    switch (platform::RegistryQueryValue(rootKey, key.view(), name.view(), value, platform::kRegistryValueBuffer)) {
    case platform::RegistryStatus::kOk: break;
    case platform::RegistryStatus::kNoKey: return Fail(qo, cursor, "不能打开注册键 ", key.c_str());
    default: {
        CString message = "不能读取注册键 ";
        message += key;
        message += " 的值：";
        message += name;
        return qo->ReportError(message.c_str(), cursor);
    }
    }
    const std::string& data = value.data;
    switch (value.type) {
    case platform::kRegSz:
    case platform::kRegExpandSz:
    case platform::kRegMultiSz:
        return SetString(qo, std::string_view(data).substr(0, data.empty() ? 0 : data.size() - 1));
    case platform::kRegDword: {
        uint32_t n = 0;
        for (size_t i = 0; i < 4 && i < data.size(); ++i) n |= (uint32_t)(unsigned char)data[i] << (8 * i);
        return SetNumber(qo, (int32_t)n);
    }
    default: return SetString(qo, std::string_view(data));
    }
}

void SearchFile(CQoLanguage* qo, char*& cursor) {
    CString file, spec;
    qo->ReadPara('S', cursor, "%s%s", &file, &spec, nullptr);
    if (qo->m_bSyntaxCheck) return;
    SetString(qo, ruqo_SearchFileByPath(file.c_str(), spec.c_str()));
}

// ---- the names ----

struct Name {
    const char* name;
    Handler handler;
};

Handler Find(const Name* names, size_t count, const char* word) {
    for (size_t i = 0; i < count; ++i)
        if (Is(word, names[i].name)) return names[i].handler;
    return nullptr;
}

Handler SystemHandler(const char* word) {
    static const Name kDir[] = {{"Add", DirOperation<platform::MakeDirectory>},
                                {"Del", DirOperation<platform::RemoveDirectory>},
                                {"Set", DirOperation<platform::ChangeDirectory>},
                                {"Get", DirGet}};
    static const Name kFile[] = {{"Read", FileRead},         {"Write", FileWrite},   {"Delete", FileDelete},
                                 {"Rename", FileRename},     {"Readonly", FileReadonly}, {"Access", FileAccess}};
    static const Name kExec[] = {{"exec", Exec},
                                 {"ExecWait", ExecWait},
                                 {"ExecWaitProcess", WaitFunction<kProcessMode>},
                                 {"ExecWaitWindow", WaitFunction<kWindowMode>},
                                 {"ExecKill", WaitFunction<kKillMode>},
                                 {"ExecWait2", WaitFunction<kProcessMode>}};
    static const Name kOthers[] = {{"Beep", Beep},       {"Clipboard", Clipboard},
                                   {"PlaySound", PlaySound}, {"RegRead", RegRead},
                                   {"SearchFileByPath", SearchFile}, {"SpyKey", SpyKey}};
    switch (engine::DispatchKey(word)) {
    case engine::Key('d', 'i'):
        // A word that passes the prefix is a directory operation: one that
        // is none of the four is illegal.
        if (strncasecmp(word, "Dir", 3) != 0) return nullptr;
        if (Handler handler = Find(kDir, 4, word + 3)) return handler;
        return DirIllegal;
    case engine::Key('f', 'i'):
        if (strncasecmp(word, "File", 4) != 0) return nullptr;
        return Find(kFile, 6, word + 4);
    case engine::Key('e', 'x'): return Find(kExec, 6, word);
    default: return Find(kOthers, 6, word);
    }
}

}  // namespace

int KeyCodeOfName(const char* name) {
    struct KeyName {
        const char* name;
        int code;
    };
    static const KeyName kKeys[] = {
        {"ALT", 0x12},   {"CTRL", 0x11}, {"SHIFT", 0x10},   {"PAUSE", 0x13}, {"ENTER", 0x0D},
        {"ESC", 0x1B},   {"TAB", 0x09},  {"LBUTTON", 0x01}, {"RBUTTON", 0x02}, {"SPACE", 0x20},
        {"PGUP", 0x21},  {"PGDN", 0x22}, {"END", 0x23},     {"HOME", 0x24},  {"LEFT", 0x25},
        {"UP", 0x26},    {"RIGHT", 0x27}, {"DOWN", 0x28},   {"INSERT", 0x2D}, {"DELETE", 0x2E},
        {"BACK", 0x08},
    };
    for (const KeyName& key : kKeys)
        if (strcmp(name, key.name) == 0) return key.code;
    if (name[0] == 'F' && name[1]) return 0x6F + atoi(name + 1);
    if (name[0] && !name[1] && ((name[0] >= '0' && name[0] <= '9') || (name[0] >= 'A' && name[0] <= 'Z')))
        return (unsigned char)name[0];
    return -1;
}

unsigned ExecWithMsg(const char* mode, unsigned id, unsigned flags, int timeoutMs) {
    const Mode kind = !mode                                   ? Mode::kProcess
                      : strcasecmp(mode, "ExecKill") == 0       ? Mode::kKill
                      : strcasecmp(mode, "ExecWaitWindow") == 0 ? Mode::kWindow
                                                                : Mode::kProcess;
    uintptr_t handle = 0;
    if (kind == Mode::kWindow) {
        handle = id ? id : platform::ForegroundWindow();
        int pid = 0;
        if (!platform::WindowProcess(handle, &pid)) return kNoProcess;
        id = (unsigned)pid;
    }
    platform::ProcessWatch watch;
    if (!watch.Open(id == 0 ? platform::CurrentProcessId() : (int)id)) return kNoProcess;
    return WaitOn(watch, kind, handle, flags, timeoutMs);
}

Dispatched System(CQoLanguage* qo, char*& cursor, const char* word) {
    Handler handler = SystemHandler(word);
    if (!handler) return Dispatched::None;
    handler(qo, cursor);
    return Dispatched::Value;
}

}  // namespace qotool::builtins

extern "C" QO_API unsigned ruqo_ExecWithMsg(const char* mode, ...) {
    va_list args;
    va_start(args, mode);
    const unsigned id = va_arg(args, unsigned);
    const unsigned flags = va_arg(args, unsigned) & 0xFF;
    const int timeout = va_arg(args, int);
    va_end(args);
    try {
        return qotool::builtins::ExecWithMsg(mode, id, flags, timeout);
    } catch (...) {
        return 0xFFFFFFFFu;
    }
}
