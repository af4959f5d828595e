// Files the system reads as data: names are GBK, converted to the file
// system's UTF-8 at this boundary; contents stay byte-exact.
#ifndef QOTOOL_PLATFORM_FILE_IO_H
#define QOTOOL_PLATFORM_FILE_IO_H

#include <cstdio>
#include <string>

#include "platform/paths.h"

namespace qotool::platform {

// fopen of a GBK name (its file-system name, paths.h). Opening for reading
// does not wait for the writer of a named pipe.
FILE* OpenFile(const char* gbkName, const char* mode);
// Reads a whole file in binary mode; false when it cannot be read, when it
// is longer than kMaxWholeFile (a device such as /dev/zero never ends), or
// when memory runs out (content is then left empty).
bool ReadWholeFile(const char* gbkName, std::string& content);
constexpr size_t kMaxWholeFile = (size_t)1 << 26;  // 64 MiB

}  // namespace qotool::platform

#endif
