#include "platform/file_io.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <new>

namespace qotool::platform {

FILE* OpenFile(const char* gbkName, const char* mode) {
    if (!gbkName) return nullptr;
    const std::string name = FileSystemName(gbkName);
    if (mode[0] != 'r' || strchr(mode, '+')) return fopen(name.c_str(), mode);
    // Reading does not wait in open() for a named pipe's writer: without
    // one the file reads as empty.
    const int fd = open(name.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return nullptr;
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    FILE* f = fdopen(fd, mode);
    if (!f) close(fd);
    return f;
}

bool ReadWholeFile(const char* gbkName, std::string& content) {
    FILE* f = OpenFile(gbkName, "rb");
    if (!f) return false;
    content.clear();
    bool ok = true;
    try {
        char buf[65536];
        size_t n;
        while (ok && (n = fread(buf, 1, sizeof buf, f)) > 0) {
            ok = content.size() + n <= kMaxWholeFile;
            if (ok) content.append(buf, n);
        }
    } catch (const std::bad_alloc&) {
        ok = false;
    }
    ok = ok && !ferror(f);
    fclose(f);
    if (!ok) std::string().swap(content);
    return ok;
}

}  // namespace qotool::platform
