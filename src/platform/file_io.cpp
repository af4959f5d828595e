#include "platform/file_io.h"

#include <new>

#include "platform/encoding.h"

namespace qotool::platform {

static bool HasHighBytes(const char* s) {
    for (; *s; ++s)
        if ((unsigned char)*s >= 0x80) return true;
    return false;
}

std::string FileSystemName(const char* gbkName) {
    if (!gbkName) return std::string();
    if (!HasHighBytes(gbkName)) return gbkName;
    return GbkToUtf8(gbkName, false);
}

FILE* OpenFile(const char* gbkName, const char* mode) {
    if (!gbkName) return nullptr;
    FILE* f = fopen(FileSystemName(gbkName).c_str(), mode);
    if (!f && HasHighBytes(gbkName)) f = fopen(gbkName, mode);
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
