#include "platform/file_io.h"


namespace qotool::platform {

FILE* OpenFile(const char* gbkName, const char* mode) {
    if (!gbkName) return nullptr;
    return fopen(FileSystemName(gbkName).c_str(), mode);
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
