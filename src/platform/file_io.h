// Files the system reads as data: names are GBK, converted to the file
// system's UTF-8 at this boundary; contents stay byte-exact.
#ifndef QOTOOL_PLATFORM_FILE_IO_H
#define QOTOOL_PLATFORM_FILE_IO_H

#include <cstdio>
#include <string>

#include "platform/paths.h"

namespace qotool::platform {

// fopen of a GBK name (its file-system name, paths.h).
FILE* OpenFile(const char* gbkName, const char* mode);
// Reads a whole file in binary mode; false when it cannot be read.
bool ReadWholeFile(const char* gbkName, std::string& content);

}  // namespace qotool::platform

#endif
