#include "platform/last_error.h"

#include <cerrno>
#include <cstring>
#include <string>

namespace qotool::platform {

namespace {
thread_local std::string t_loaderError;
}

void SetLoaderError(const char* text) {
    t_loaderError = text ? text : "";
    errno = text ? ENOENT : 0;
}

int LastSystemError(CString& text) {
    int code = errno;
    if (code == 0) {
        text.Empty();
        return 0;
    }
    if (!t_loaderError.empty()) {
        text = t_loaderError.c_str();
        t_loaderError.clear();
        return code;
    }
    char buf[256];
    const char* message = strerror_r(code, buf, sizeof buf);
    text = message ? message : "";
    return code;
}

}  // namespace qotool::platform
