// Where the library and the host live.
#ifndef QOTOOL_PLATFORM_MODULE_PATH_H
#define QOTOOL_PLATFORM_MODULE_PATH_H

#include <string>

namespace qotool::platform {

// Directory of the loaded library (or of the executable that holds these
// objects), ending with '/'.
const std::string& LibraryDirectory();
// The work directory: $QO_WORK_DIR, else the one the module registry
// derived from the host application's path, else the current directory;
// ends with '/'.
std::string WorkDirectory();
// Set by the module registry at the first registration.
void SetDerivedWorkDirectory(const std::string& directory);
// A path is absolute when it starts with a separator or has ':' second.
bool IsAbsolutePath(const char* path);

}  // namespace qotool::platform

#endif
