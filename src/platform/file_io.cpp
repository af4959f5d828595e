#include "platform/file_io.h"

#include <new>

namespace qotool::platform {

FILE* OpenFile(const char* gbkName, const char* mode) {
    if (!gbkName) return nullptr;
    return fopen(FileSystemName(gbkName).c_str(), mode);
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
