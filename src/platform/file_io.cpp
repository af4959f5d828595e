#include "platform/file_io.h"

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
    char buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0) content.append(buf, n);
    bool ok = !ferror(f);
    fclose(f);
    return ok;
}

}  // namespace qotool::platform
