#include "platform/last_error.h"

#include <cerrno>
#include <cstring>
#include <string>

#include "platform/per_thread.h"

namespace qotool::platform {

namespace {
struct LoaderError {
    std::string text;  // the loader's reason for the last failed load, until read
};
std::string& PendingLoaderError() { return PerThread<LoaderError>().text; }
}  // namespace

void SetLoaderError(const char* text) {
    PendingLoaderError() = text ? text : "";
    errno = text ? ENOENT : 0;
}

int LastSystemError(CString& text) {
    int code = errno;
    if (code == 0) {
        text.Empty();
        return 0;
    }
    std::string& pending = PendingLoaderError();
    if (!pending.empty()) {
        text = pending.c_str();
        pending.clear();
        return code;
    }
    char buf[256];
    const char* message = strerror_r(code, buf, sizeof buf);
    text = message ? message : "";
    return code;
}

}  // namespace qotool::platform
