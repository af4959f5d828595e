// Files and directories with their Windows meaning. Names are GBK system
// paths (paths.h). A file is read-only when its owner write bit is clear,
// whoever runs the process (root included): writing or deleting a read-only
// file fails, renaming never replaces an existing file. Each function
// answers success or failure; callers probe the state (FileState) to tell
// why.
#ifndef QOTOOL_PLATFORM_FILES_H
#define QOTOOL_PLATFORM_FILES_H

#include <cstdint>
#include <string_view>

#include "qotool/cstring.h"

namespace qotool::platform {

enum class FileState { kMissing, kWritable, kReadOnly };

// Whether the file (or directory) exists and can be written.
FileState ProbeFile(const char* name);

// The file's first bytes, at most maxLength (all of them when the file is
// shorter); zero bytes included.
bool ReadFileBytes(const char* name, uint64_t maxLength, CString& bytes);
// Creates or truncates the file and writes bytes; length receives the
// file's length afterwards.
bool WriteFileBytes(const char* name, std::string_view bytes, int64_t& length);
bool DeleteFileNamed(const char* name);
bool RenameFileNamed(const char* from, const char* to);
// Clears (readOnly) or sets the owner write bit.
bool SetFileReadOnly(const char* name, bool readOnly);

bool MakeDirectory(const char* name);
// Removes an empty directory.
bool RemoveDirectory(const char* name);
bool ChangeDirectory(const char* name);

}  // namespace qotool::platform

#endif
