#include "runner.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/encoding.h"
#include "qotool/qotool.h"

namespace qol {
namespace {

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

void WriteAll(FILE* stream, std::string_view text) {
    std::fwrite(text.data(), 1, text.size(), stream);
    std::fflush(stream);
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

std::string Runner::ToGbk(std::string_view source, bool stripBom) const {
    const bool convert = encoding_ == Encoding::kUtf8 ||
                         (encoding_ == Encoding::kAuto && qotool::platform::IsUtf8WithNonAscii(source));
    if (!convert) return std::string(source);
    if (stripBom && source.substr(0, kUtf8Bom.size()) == kUtf8Bom) source.remove_prefix(kUtf8Bom.size());
    return qotool::platform::Utf8ToGbk(source);
}

std::string Runner::ToOutput(std::string_view gbk) const {
    if (encoding_ == Encoding::kGbk) return std::string(gbk);
    return qotool::platform::GbkToUtf8(gbk, true);
}

void Runner::Finish(const char* result, bool printResult, bool reportError) {
    const std::string_view text = result != nullptr ? result : "";
    lastWasError_ = !text.empty() && text[0] == 'X';
    if (printResult) WriteAll(stdout, ToOutput(text) + "\n");
    if (reportError && lastWasError_) {
        const std::string_view message = text.size() >= 2 && text[1] == ':' ? text.substr(2) : text.substr(1);
        WriteAll(stderr, ToOutput(message) + "\n");
    }
}

void Runner::RunGbk(const std::string& gbk, bool printResult, bool reportError) {
    Finish(ruqo_ExecQol(gbk.c_str()), printResult, reportError);
}

void Runner::RunSource(std::string_view source, bool printResult, bool reportError) {
    RunGbk(ToGbk(source, true), printResult, reportError);
}

bool Runner::RunFile(const std::string& path, bool printResult) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    std::string content;
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
    if (error != 0) {
        std::fprintf(stderr, u8"qol: cannot read %s: %s\n", path.c_str(), std::strerror(error));
        return false;
    }
    const std::string source = ToGbk(content, true);
    const std::string name = ToGbk(path);
    Finish(ruqo_ExecQolFile(name.c_str(), source.data(), static_cast<int>(source.size())), printResult, true);
    return true;
}

}  // namespace qol
