#include "diag/platform_record.h"

#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <memory>
#include <mutex>

#include "platform/encoding.h"

namespace qotool::diag {

namespace {

std::mutex g_mutex;
std::unique_ptr<PlatformRecord> g_record;
bool g_everCreated = false;

std::string FromEnvironment(const char* value) {
    std::string text = value;
    return platform::IsUtf8WithNonAscii(text) ? platform::Utf8ToGbk(text) : text;
}

std::string WithSlash(std::string dir) {
    if (dir.empty() || dir.back() != '/') dir += '/';
    return dir;
}

bool EndsWithNoCase(const std::string& text, const char* tail) {
    const size_t n = std::char_traits<char>::length(tail);
    if (text.size() < n) return false;
    for (size_t i = 0; i < n; ++i) {
        char c = text[text.size() - n + i];
        if (c >= 'a' && c <= 'z') c = (char)(c - 'a' + 'A');
        if (c != tail[i]) return false;
    }
    return true;
}

PlatformRecord* NewRecord() {
    g_record = std::make_unique<PlatformRecord>();
    g_record->hostPath = HostApplicationPath();
    g_record->workDirectory = DefaultWorkDirectory();
    g_everCreated = true;
    return g_record.get();
}

}  // namespace

PlatformRecord* Platform() {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (!g_record && !g_everCreated) return NewRecord();
    return g_record.get();
}

PlatformRecord& CreatePlatform() {
    std::lock_guard<std::mutex> lock(g_mutex);
    return *NewRecord();
}

void DestroyPlatform() {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_record.reset();
    g_everCreated = true;
}

std::string HostApplicationPath() {
    if (const char* env = getenv("QO_HOST_PATH"); env && *env) return FromEnvironment(env);
    char exe[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n <= 0) return std::string();
    return FromEnvironment(std::string(exe, (size_t)n).c_str());
}

std::string WorkDirectoryOfHost(const std::string& hostPath) {
    // Separators are '/' or a '\\' that is not the trail byte of a
    // character; the directory keeps '/' for either.
    std::string path = hostPath;
    size_t cut = std::string::npos;
    for (size_t i = 0; i < path.size(); ++i) {
        const unsigned char c = (unsigned char)path[i];
        if (c >= 0x80 && i + 1 < path.size()) {
            ++i;
            continue;
        }
        if (c == '\\') path[i] = '/';
        if (path[i] == '/') cut = i;
    }
    std::string dir = cut == std::string::npos ? std::string("./") : path.substr(0, cut + 1);
    for (const char* tail : {"/DEBUG/", "/DEBUG2/", "/RELEASE/", "/RELEASE2/"}) {
        if (EndsWithNoCase(dir, tail)) dir.resize(dir.size() - std::char_traits<char>::length(tail) + 1);
    }
    return dir;
}

std::string DefaultWorkDirectory() {
    if (const char* env = getenv("QO_WORK_DIR"); env && *env) return WithSlash(FromEnvironment(env));
    return WorkDirectoryOfHost(HostApplicationPath());
}

}  // namespace qotool::diag
