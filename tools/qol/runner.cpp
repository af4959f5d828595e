#include "runner.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "error_location.h"
#include "platform/encoding.h"
#include "qotool/debug_view.h"
#include "qotool/qotool.h"
#include "script_source.h"

namespace qol {
namespace {

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

void WriteAll(FILE* stream, std::string_view text) {
    std::fflush(stream == stderr ? stdout : stderr);
    std::fwrite(text.data(), 1, text.size(), stream);
    std::fflush(stream);
}

// A text that names a numbered interpreter ("[3]...") runs through
// ruqo_ExecQol, which knows the prefix.
bool NamesNumberedInterpreter(const std::string& gbk) {
    return gbk.size() >= 3 && gbk[0] == '[' && gbk[1] != 0 && gbk[2] == ']';
}

}  // namespace

bool ReadAll(int fd, std::string& out) {
    char buffer[65536];
    for (;;) {
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n == 0) return true;
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        out.append(buffer, static_cast<size_t>(n));
    }
}

Runner::Runner(Encoding encoding) : encoding_(encoding), interp_(ruqo_SharedInterp()) {}

bool Runner::Converts(std::string_view source) const {
    return encoding_ == Encoding::kUtf8 ||
           (encoding_ == Encoding::kAuto && qotool::platform::IsUtf8WithNonAscii(source));
}

std::string Runner::ToGbk(std::string_view source, bool stripBom, const std::string* name, int firstLine) const {
    if (!Converts(source)) return std::string(source);
    if (stripBom && source.substr(0, kUtf8Bom.size()) == kUtf8Bom) source.remove_prefix(kUtf8Bom.size());
    std::string gbk = qotool::platform::Utf8ToGbk(source);
    if (name) {
        const std::string warning = LostCharacterWarning(*name, source, gbk, firstLine);
        if (!warning.empty()) WriteAll(stderr, warning);
    }
    return gbk;
}

std::string Runner::ToOutput(std::string_view gbk) const {
    if (encoding_ == Encoding::kGbk) return std::string(gbk);
    return qotool::platform::GbkToUtf8(gbk, true);
}

void Runner::PrintLine(FILE* stream, std::string_view gbk) const {
    constexpr size_t kSlice = (size_t)1 << 20;
    std::fflush(stream == stderr ? stdout : stderr);
    while (!gbk.empty()) {
        // A slice ends on a character boundary: a byte of 0x80 or above
        // starts a two-byte character.
        size_t end = 0;
        while (end < gbk.size() && end < kSlice) end += (unsigned char)gbk[end] >= 0x80 ? 2 : 1;
        if (end > gbk.size()) end = gbk.size();
        const std::string out = ToOutput(gbk.substr(0, end));
        std::fwrite(out.data(), 1, out.size(), stream);
        gbk.remove_prefix(end);
    }
    std::fputc('\n', stream);
    std::fflush(stream);
}

void Runner::RequestExit(int code) {
    int none = -1;
    if (exitCode_.compare_exchange_strong(none, code)) ruqo_InterruptRun(1);
}

void Runner::Finish(const std::string& name, bool printResult, bool reportError) {
    if (ExitRequested()) {
        // The run ended for exit(): its end is no result. A request that
        // no step of the run took any more is dropped.
        ruqo_InterruptRun(0);
        return;
    }
    char type = 'X';
    const char* text = "";
    size_t length = 0;
    ruqo_GetResult(interp_, &type, &text, &length);
    lastWasError_ = type == 'X';
    if (printResult) {
        std::fputc(type, stdout);
        std::fputc(':', stdout);
        PrintLine(stdout, std::string_view(text, length));
    }
    if (reportError && lastWasError_) {
        int line = 0, column = 0;
        if (ruqo_ErrorPosition(interp_, &line, &column) != QO_OK) line = column = 0;
        WriteAll(stderr, PlacePrefix(name, line, column) + ToOutput(MessageHead(std::string_view(text, length))) +
                             "\n");
    }
}

void Runner::RunGbk(const std::string& gbk, bool printResult, bool reportError, const std::string& name) {
    if (NamesNumberedInterpreter(gbk)) {
        const std::string_view result = ruqo_ExecQol(gbk.c_str());
        if (ExitRequested()) return Finish(name, false, false);
        lastWasError_ = !result.empty() && result[0] == 'X';
        if (printResult) PrintLine(stdout, result);
        if (reportError && lastWasError_)
            WriteAll(stderr, PlacePrefix(name, 0, 0) + ToOutput(MessageHead(result.substr(2))) + "\n");
        return;
    }
    ruqo_Eval(interp_, gbk.data(), static_cast<long>(gbk.size()), nullptr);
    Finish(name, printResult, reportError);
}

void Runner::RunSource(std::string_view source, bool printResult, bool reportError, const std::string& name,
                       bool script) {
    std::string gbk = ToGbk(source, true, &name);
    if (script) CommentOutShebang(gbk);
    if (script && Converts(source)) {
        for (const TrailBackslash& found : FindTrailBackslashes(gbk))
            WriteAll(stderr, TrailBackslashWarning(name, found));
    }
    // The interpreter ends what the text leaves open; the runner says so.
    const std::string open = OpenAtEndWarning(name, gbk, FindOpenAtEnd(gbk));
    if (!open.empty()) WriteAll(stderr, open);
    if (!script) return RunGbk(gbk, printResult, reportError, name);
    const std::string fileName = ToGbk(name);
    ruqo_Eval(interp_, gbk.data(), static_cast<long>(gbk.size()), fileName.c_str());
    Finish(name, printResult, reportError);
}

bool Runner::ReadScript(const std::string& path, std::string& content) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    int error = 0;
    if (fd < 0) {
        error = errno;
    } else {
        struct stat info;
        if (fstat(fd, &info) == 0 && S_ISDIR(info.st_mode)) {
            error = EISDIR;
        } else if (!ReadAll(fd, content)) {
            error = errno;
        } else if (content.size() > static_cast<size_t>(INT_MAX)) {
            error = EFBIG;
        }
        close(fd);
    }
    if (error == 0) return true;
    std::fprintf(stderr, u8"qol: cannot read %s: %s\n", path.c_str(), std::strerror(error));
    return false;
}

bool Runner::RunFile(const std::string& path, bool printResult) {
    std::string content;
    if (!ReadScript(path, content)) return false;
    RunSource(content, printResult, true, path, true);
    return true;
}

namespace {

struct CheckReport {
    const Runner* runner;
    const std::string* name;
    int* findings;
};

// The names the runner gives a script when it runs (argv, argc) are not
// undefined for its check.
bool IsRunnerName(std::string_view message) {
    const std::string_view undefined = "' 变量未定义";
    if (message.size() < undefined.size() ||
        message.substr(message.size() - undefined.size()) != undefined)
        return false;
    const std::string_view name = message.substr(1, message.size() - undefined.size() - 1);
    return name == "argc" || name.substr(0, 5) == "argv[";
}

void ReportFinding(void* context, int line, int column, const char* message) {
    if (IsRunnerName(message)) return;
    const auto* report = static_cast<const CheckReport*>(context);
    ++*report->findings;
    const std::string text = PlacePrefix(*report->name, line, column) +
                             report->runner->ToOutput(MessageHead(message)) + "\n";
    std::fwrite(text.data(), 1, text.size(), stderr);
}

}  // namespace

int Runner::CheckFile(const std::string& path) {
    std::string content;
    if (!ReadScript(path, content)) return kUsageError;
    std::string gbk = ToGbk(content, true);
    CommentOutShebang(gbk);
    int findings = 0;
    CheckReport report{this, &path, &findings};
    ruqo_CheckSyntax(interp_, gbk.data(), static_cast<long>(gbk.size()), ReportFinding, &report);
    std::fflush(stderr);
    return findings == 0 ? 0 : 1;
}

void Runner::Pump(int ms) {
    constexpr int kSliceMs = 20;
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const long long end = now.tv_sec * 1000LL + now.tv_nsec / 1000000 + ms;
    for (long long left = ms; left > 0 && !ExitRequested();) {
        ruqo_PumpMessages(static_cast<int>(left < kSliceMs ? left : kSliceMs));
        clock_gettime(CLOCK_MONOTONIC, &now);
        left = end - (now.tv_sec * 1000LL + now.tv_nsec / 1000000);
    }
}

void Runner::SetScriptArguments(const std::vector<std::string>& arguments) {
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string name = "argv[" + std::to_string(i) + "]";
        const std::string value = ToGbk(arguments[i], false, &name);
        ruqo_SetVar(interp_, name.c_str(), 'S', value.data(), static_cast<long>(value.size()));
    }
    const std::string count = std::to_string(arguments.size());
    ruqo_SetVar(interp_, "argc", 'N', count.c_str(), -1);
}

}  // namespace qol
