// The message log: categories, the rotating log file, message boxes and the
// diagnosis dialog with its 30-second silence.
#include "diag/message_log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <string>
#include <vector>

#include "diag/diagnosis_dialog.h"
#include "diag/platform_record.h"
#include "platform/clock.h"
#include "platform/file_io.h"
#include "platform/last_error.h"
#include "platform/ui.h"
#include "qotool/qotool.h"

namespace qotool::diag {

namespace {

const char* const kCategoryNames[16] = {
    "错误",      "警告",      "主要结果",         "中间结果",   "路线", "语句", "*信息存盘*",
    "*立即存盘*", "应用提示", "结果错",           "*启用信息选择框*",   "*关闭浏览器*",
    "*跳过慢速语句*",         "*出现错误和警告时存盘*", "",         "",
};
const char kErrorMarker[] = "■■■■■■";
const char kWarningMarker[] = "★★★★★★";
const char kBasePrefix[] = "RuQoLog_NoQo_";
const char kUnsupportedMode[] = "ruqo_MessageLog()的nMode参数不支持：%d";
const char kHeader[] = "启动时间：%s\r\n%s\r\n应用程序：%s\r\n进程标识：%d\r\n";
const char kRecord[] = "【%ld】%-16.16s[%ld(%d)%ld%s]\r\n%s\r\n";
const char kBoxBody[] = "%s\r\n\r\n【专职诊断人员请按<否>按钮】";
const char kNeverBoxed[] = "『故意";  // marks a message meant for the file only
const char kCutMark[] = ".......";

constexpr uint32_t kModeZero = 0x80000000u;
constexpr long kRecordsPerFile = 10000;
constexpr int64_t kQuietMillis = 30000;
constexpr size_t kBoxTextLimit = 3000;
constexpr int kBoxLineLimit = 40;
constexpr size_t kBoxBodyTextLimit = 2000;
constexpr unsigned kMbIconExclamation = 0x30;
constexpr unsigned kMbIconInformation = 0x40;
constexpr size_t kReplayLimit = 1000;

// One call kept for SetLogDirectory to do again.
struct Call {
    uint32_t mode;
    std::string title, text1, text2;
};

struct LogState {
    bool started = false;
    int64_t firstClock = 0, lastClock = 0;
    long counter = 0;
    std::string directory;  // the work directory the log started in
    std::string base;       // "RuQoLog_NoQo_" + application (+ "$" after a failed move)
    FILE* file = nullptr;   // the file the first record opened
    uint32_t maskBitsFromFile = 0;  // bits 6 and 7 that the existing file switched on
    uint32_t quiet = 0;             // categories whose boxes are held back
    int64_t quietUntil = 0;
    bool dialogOpen = false;
    bool replaying = false;
    bool repointed = false;
    std::vector<Call> early;  // calls before the first re-pointing
    std::string text, line;   // buffers reused by every record
};

// Made at first use and never destroyed: the library's start-up logs from
// the initialisers of other files, which may run before this file's, and its
// unload hook logs after static objects may be gone.
std::mutex g_mutex;  // constant-initialised
LogState& Log() {
    static LogState* const state = new LogState;
    return *state;
}

// ---- files (GBK names) ----

std::string Fs(const std::string& gbk) { return platform::FileSystemName(gbk.c_str()); }

bool Exists(const std::string& path) {
    bool missing;
    const std::string name = platform::FileSystemName(path, &missing);
    struct stat st;
    return !missing && stat(name.c_str(), &st) == 0;
}

void MakeWritable(const std::string& path) {
    struct stat st;
    const std::string name = Fs(path);
    if (stat(name.c_str(), &st) == 0 && !(st.st_mode & S_IWUSR)) chmod(name.c_str(), (st.st_mode | S_IWUSR) & 07777);
}

void Delete(const std::string& path) {
    MakeWritable(path);
    unlink(Fs(path).c_str());
}

// A rename that never replaces an existing file.
void Rename(const std::string& from, const std::string& to) {
    const std::string a = Fs(from), b = Fs(to);
    if (renameat2(AT_FDCWD, a.c_str(), AT_FDCWD, b.c_str(), RENAME_NOREPLACE) == 0) return;
    if (errno != EINVAL && errno != ENOSYS) return;
    struct stat st;
    if (stat(b.c_str(), &st) != 0) rename(a.c_str(), b.c_str());
}

// ---- texts ----

// printf into out (its buffer is reused).
void FormatInto(std::string& out, const char* format, ...) __attribute__((format(printf, 2, 3)));
void FormatInto(std::string& out, const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    if (out.capacity() < 256) out.reserve(256);
    out.resize(out.capacity());
    const int n = vsnprintf(&out[0], out.size() + 1, format, copy);
    va_end(copy);
    if (n < 0) {
        out.clear();
    } else if ((size_t)n <= out.size()) {
        out.resize((size_t)n);
    } else {
        out.resize((size_t)n);
        vsnprintf(&out[0], out.size() + 1, format, args);
    }
    va_end(args);
}

std::string Formatted(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Formatted(const char* format, ...) {
    va_list args;
    va_start(args, format);
    char small[512];
    va_list copy;
    va_copy(copy, args);
    const int n = vsnprintf(small, sizeof small, format, copy);
    va_end(copy);
    std::string out;
    if (n < 0) {
        out.clear();
    } else if ((size_t)n < sizeof small) {
        out.assign(small, (size_t)n);
    } else {
        out.resize((size_t)n + 1);
        vsnprintf(&out[0], out.size(), format, args);
        out.resize((size_t)n);
    }
    va_end(args);
    return out;
}

// The host's file name, upper case, its extension cut at the last point.
std::string ApplicationName(const std::string& hostPath) {
    size_t start = 0;
    for (size_t i = 0; i < hostPath.size(); ++i) {
        const unsigned char c = (unsigned char)hostPath[i];
        if (c >= 0x80 && i + 1 < hostPath.size()) {
            ++i;
        } else if (c == '/' || c == '\\') {
            start = i + 1;
        }
    }
    std::string name = hostPath.substr(start);
    size_t point = std::string::npos;
    for (size_t i = 0; i < name.size(); ++i) {
        const unsigned char c = (unsigned char)name[i];
        if (c >= 0x80 && i + 1 < name.size()) {
            ++i;
        } else if (c >= 'a' && c <= 'z') {
            name[i] = (char)(c - 'a' + 'A');
        } else if (c == '.') {
            point = i;
        }
    }
    if (point != std::string::npos) name.resize(point);
    return name;
}

// Joins a piece to the text: a ";" on either side of the seam joins them
// directly (both dropped), otherwise a non-empty text gets a line break.
void Join(std::string& text, const char* piece) {
    std::string_view p = piece ? piece : "";
    const bool leading = !p.empty() && p.front() == ';';
    const bool trailing = !text.empty() && text.back() == ';';
    if (leading || trailing) {
        if (leading) p.remove_prefix(1);
        if (trailing) text.pop_back();
    } else if (!text.empty()) {
        text += "\r\n";
    }
    text += p;
}

// Every "\r\n\r\n" becomes "\r\n", scanning left to right once.
void CollapseBlankLines(std::string& text) {
    size_t at = text.find("\r\n\r\n");
    if (at == std::string::npos) return;
    std::string out;
    out.reserve(text.size());
    size_t from = 0;
    for (; at != std::string::npos; at = text.find("\r\n\r\n", from)) {
        out.append(text, from, at - from);
        out += "\r\n";
        from = at + 4;
    }
    out.append(text, from, std::string::npos);
    text.swap(out);
}

std::string BoxText(std::string text) {
    if (text.size() > kBoxTextLimit) {
        text.resize(kBoxTextLimit);
        text += kCutMark;
    }
    size_t at = 0;
    for (int line = 0; line < kBoxLineLimit; ++line) {
        at = text.find("\r\n", at);
        if (at == std::string::npos) break;
        at += 2;
        if (line == kBoxLineLimit - 1 && at < text.size()) {
            text.resize(at);
            text += kCutMark;
        }
    }
    if (text.size() > kBoxBodyTextLimit) {
        text.resize(kBoxBodyTextLimit);
        text += kCutMark;
    }
    return Formatted(kBoxBody, text.c_str());
}

// ---- the log state (g_mutex held) ----

std::string PathOf(const char* suffix) { return Log().directory + Log().base + suffix; }

void Start(PlatformRecord& record) {
    Log().started = true;
    Log().firstClock = Log().lastClock = platform::MonotonicMillis();
    Log().counter = 0;
    Log().directory = record.workDirectory;
    Log().base = kBasePrefix + ApplicationName(record.hostPath);
    if (Exists(PathOf(".Txt"))) {
        Log().maskBitsFromFile = (kLogToFile | kLogFlushEach) & ~record.logMask;
        record.logMask |= kLogToFile | kLogFlushEach;
    }
}

// Moves the generations along and opens a fresh file for the process.
void RotateAndOpen() {
    Delete(PathOf("_2.txt"));
    if (Exists(PathOf("$.Txt"))) {
        Delete(PathOf("_1.txt"));
        Rename(PathOf("$.Txt"), PathOf("_1.txt"));
    }
    Rename(PathOf("_1.txt"), PathOf("_2.txt"));
    Rename(PathOf(".Txt"), PathOf("_1.txt"));
    if (Exists(PathOf(".Txt"))) {
        Log().base += "$";
        MakeWritable(PathOf(".Txt"));
    }
    Log().file = platform::OpenFile(PathOf(".Txt").c_str(), "wb");
}

std::string Header(const PlatformRecord& record) {
    char when[64];
    const time_t now = time(nullptr);
    struct tm local;
    localtime_r(&now, &local);
    strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S", &local);
    return Formatted(kHeader, when, record.versionText.c_str(), record.hostPath.c_str(), (int)getpid());
}

// Writes one record; false when no file could be opened for it.
bool WriteRecord(const PlatformRecord& record, int category, const char* name, const std::string& text) {
    if (Log().counter == 0) RotateAndOpen();
    FILE* file = Log().file;
    const bool ownFile = file == nullptr;
    if (ownFile) {
        file = platform::OpenFile(PathOf(".Txt").c_str(), "ab");
        if (!file) return false;
    }
    if (Log().counter == 0) {
        const std::string header = Header(record);
        fwrite(header.data(), 1, header.size(), file);
    }
    const int64_t now = platform::MonotonicMillis();
    const long delta = (long)(now - Log().lastClock);
    Log().lastClock = now;
    ++Log().counter;
    // The name and its marker; the record format cuts them to 16 bytes.
    char column[17];
    size_t used = 0;
    for (const char* part : {name, category == 0 ? kErrorMarker : category == 1 ? kWarningMarker : ""})
        for (; *part && used < 16; ++part) column[used++] = *part;
    column[used] = 0;
    std::string& line = Log().line;
    FormatInto(line, kRecord, Log().counter, column, (long)(now - Log().firstClock),
               (int)(delta / 500), delta, "", text.c_str());
    CollapseBlankLines(line);
    CollapseBlankLines(line);
    if (Log().counter % kRecordsPerFile == 0) {
        fclose(file);
        Delete(PathOf("_0.txt"));
        Rename(PathOf(".Txt"), PathOf("_0.txt"));
        file = platform::OpenFile(PathOf(".Txt").c_str(), "wb");
        if (!ownFile) Log().file = file;
        if (!file) return true;
    }
    fwrite(line.data(), 1, line.size(), file);
    NoteLogRecordWritten();
    if (ownFile) {
        fclose(file);
    } else if ((record.logMask & kLogFlushEach) || category <= 1) {
        fflush(file);
    }
    return true;
}

// What a call leaves to do outside the lock.
struct Outcome {
    int result = 0;
    bool openLog = false;
    std::string logPath;
    bool unsupported = false;
    bool box = false;
    std::string boxText, caption;
    unsigned boxType = 0;
    uint32_t categoryBit = 0;
};

Outcome LogLocked(uint32_t mode, const char* title, const char* text1, const char* text2) {
    Outcome outcome;
    PlatformRecord* record = Platform();
    if (!record) return outcome;
    if (mode == 0) mode = kModeZero;
    if (!Log().started) Start(*record);
    if (!Log().repointed && !Log().replaying && Log().early.size() < kReplayLimit)
        Log().early.push_back({mode, title ? title : "", text1 ? text1 : "", text2 ? text2 : ""});

    bool quiet = false;
    if (mode & Log().quiet) {
        if (platform::MonotonicMillis() >= Log().quietUntil)
            Log().quiet &= ~mode;
        else
            quiet = true;
    }
    outcome.result = (int)mode;
    if (mode & kLogToFile) {
        outcome.openLog = !Log().replaying;
        outcome.logPath = PathOf(".Txt");
        return outcome;
    }
    const bool show = !quiet && !Log().replaying && record->showFlag && (record->logMask & mode);
    if (!show && !(mode & kLogError) && !(record->logMask & kLogToFile)) return outcome;
    if (!(mode & kLogMessageModes)) {
        outcome.result = 0;
        outcome.unsupported = true;
        return outcome;
    }

    const int category = __builtin_ctz(mode);
    const uint32_t bit = 1u << category;
    const char* name = category == 14 ? (title ? title : "") : CategoryName(category);
    std::string& text = Log().text;
    text.assign(category == 14 ? "" : (title ? title : ""));
    Join(text, text1);
    Join(text, text2);

    if ((record->logMask & kLogToFile) || (category <= 1 && (record->logMask & kLogErrorsToFile))) {
        if (!WriteRecord(*record, category, name, text)) {
            outcome.result = 0;
            return outcome;
        }
    }
    outcome.result = (int)bit;
    if (show && text.find(kNeverBoxed) == std::string::npos && !Log().dialogOpen) {
        outcome.box = true;
        outcome.boxText = BoxText(text);
        outcome.caption = name;
        outcome.boxType = platform::kMbYesNo | platform::kMbTaskModal | platform::kMbTopmost |
                          (category == 0 ? kMbIconExclamation : category == 1 ? kMbIconInformation : 0u);
        outcome.categoryBit = bit;
    }
    return outcome;
}

// The box of a message and, when the person answers No, the dialog.
void ShowBox(const Outcome& outcome, int savedErrno) {
    if (platform::ShowMessageBox(outcome.boxText.c_str(), outcome.caption.c_str(), outcome.boxType) != platform::kIdNo)
        return;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        if (Log().dialogOpen) return;
        Log().dialogOpen = true;
    }
    errno = savedErrno;
    CString errorText;
    const int errorCode = platform::LastSystemError(errorText);
    DiagnosisDialog dialog(std::string(errorText.view()), errorCode);
    int result = 0;
    try {
        result = platform::Ui().DiagnosisDialog(dialog);
    } catch (...) {
    }
    std::lock_guard<std::mutex> lock(g_mutex);
    Log().dialogOpen = false;
    if (result & kDiagnosisQuiet) {
        Log().quiet |= outcome.categoryBit;
        Log().quietUntil = platform::MonotonicMillis() + kQuietMillis;
    }
}

int LogMessage(uint32_t mode, const char* title, const char* text1, const char* text2) {
    const int savedErrno = errno;
    Outcome outcome;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        outcome = LogLocked(mode, title, text1, text2);
    }
    if (outcome.openLog) {
        platform::Ui().OpenTextFile(outcome.logPath.c_str());
    } else if (outcome.unsupported) {
        const std::string warning = Formatted(kUnsupportedMode, (int)(mode ? mode : kModeZero));
        LogMessage(kLogWarning, warning.c_str(), "", "");
    } else if (outcome.box) {
        ShowBox(outcome, savedErrno);
    }
    errno = savedErrno;
    return outcome.result;
}

void CloseFileLocked() {
    if (Log().file) fclose(Log().file);
    Log().file = nullptr;
}

}  // namespace

const char* CategoryName(int category) { return category >= 0 && category < 16 ? kCategoryNames[category] : ""; }

std::string LogFilePath() {
    std::lock_guard<std::mutex> lock(g_mutex);
    return Log().started ? PathOf(".Txt") : std::string();
}

void SetLogDirectory(const char* directory) {
    if (!directory || !*directory) return;
    std::vector<Call> calls;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        PlatformRecord* record = Platform();
        if (!record) return;
        record->workDirectory = directory;
        if (record->workDirectory.back() != '/') record->workDirectory += '/';
        const bool wasRepointed = Log().repointed;
        Log().repointed = true;
        if (!Log().started) return;
        // Start over in the new directory and do again what the log did.
        CloseFileLocked();
        record->logMask &= ~Log().maskBitsFromFile;
        Log().maskBitsFromFile = 0;
        Log().started = false;
        if (wasRepointed) return;
        calls.swap(Log().early);
        Log().replaying = true;
    }
    for (const Call& call : calls) LogMessage(call.mode, call.title.c_str(), call.text1.c_str(), call.text2.c_str());
    std::lock_guard<std::mutex> lock(g_mutex);
    Log().replaying = false;
}

void FlushMessageLog() {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (Log().file) fflush(Log().file);
}

void CloseMessageLog() {
    std::lock_guard<std::mutex> lock(g_mutex);
    CloseFileLocked();
}

void ResetMessageLogForTest() {
    std::lock_guard<std::mutex> lock(g_mutex);
    CloseFileLocked();
    Log() = LogState();
}

}  // namespace qotool::diag

extern "C" QO_API int ruqo_MessageLog(intptr_t, int mode, const char* title, const char* text1, const char* text2) {
    try {
        return qotool::diag::LogMessage((uint32_t)mode, title, text1, text2);
    } catch (...) {
        return 0;
    }
}

extern "C" QO_API void ruqo_SetLogDirectory(const char* directory) {
    try {
        qotool::diag::SetLogDirectory(directory);
    } catch (...) {
    }
}
