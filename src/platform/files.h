// Files and directories with their Windows meaning. Names are GBK system
// paths (paths.h). A file is read-only when its owner write bit is clear,
// whoever runs the process (root included): writing or deleting a read-only
// file fails, renaming never replaces an existing file. Each function
// answers success or failure; callers probe the state (FileState) to tell
// why.
#ifndef QOTOOL_PLATFORM_FILES_H
#define QOTOOL_PLATFORM_FILES_H

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/cstring.h"

namespace qotool::platform {

enum class FileState { kMissing, kWritable, kReadOnly };

// Whether the file (or directory) exists and can be written.
FileState ProbeFile(const char* name);

// The file's first bytes, at most maxLength and at most the length the file
// system gives (nothing from a pipe or a device); zero bytes included.
// Throws std::length_error when that is more than one text holds, and
// std::bad_alloc when memory runs out.
bool ReadFileBytes(const char* name, uint64_t maxLength, CString& bytes);
// Creates or truncates the file and writes bytes; length receives the
// file's length afterwards. Fails rather than waits on a pipe that has no
// reader or no room.
bool WriteFileBytes(const char* name, std::string_view bytes, int64_t& length);
bool DeleteFileNamed(const char* name);
bool RenameFileNamed(const char* from, const char* to);
// Clears (readOnly) or sets the owner write bit.
bool SetFileReadOnly(const char* name, bool readOnly);

// One entry of a directory: its name (GBK), whether it is a directory (a
// link counts as what it points to) and read-only, and its identity (device
// and inode, so that a walk can notice links that loop).
struct DirectoryEntry {
    std::string name;
    bool directory = false;
    bool readOnly = false;
    uint64_t device = 0, inode = 0;
};
// The entries of a directory except "." and "..", in the order the file
// system gives them; false when it cannot be listed. readOnly and the
// identity are filled for directories always, for files only with
// fileAttributes.
bool ListDirectoryEntries(const char* directory, bool fileAttributes, std::vector<DirectoryEntry>& entries);
// The identity of a directory; false when it does not exist.
bool DirectoryIdentity(const char* directory, uint64_t& device, uint64_t& inode);

bool MakeDirectory(const char* name);
// Removes an empty directory.
bool RemoveDirectory(const char* name);
bool ChangeDirectory(const char* name);

}  // namespace qotool::platform

#endif
