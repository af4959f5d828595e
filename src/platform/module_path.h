// Where the library and the host live, and the directories the system
// names: work, current, system and Windows directory.
#ifndef QOTOOL_PLATFORM_MODULE_PATH_H
#define QOTOOL_PLATFORM_MODULE_PATH_H

#include <string>

namespace qotool::platform {

// Directory of the loaded library (or of the executable that holds these
// objects), ending with '/' (a file-system path).
const std::string& LibraryDirectory();
// The shared library's file that a program holding these objects names
// (qol: qotool_library_file_candidates), resolved; "" when the program
// names none or none of them exists.
const std::string& NamedLibraryFile();

// The host application's path as the system records it (GBK, upper-cased,
// at most 259 bytes): $QO_HOST_PATH, else the running executable.
std::string HostPath();
// The work directory (GBK, ending with a separator): $QO_WORK_DIR as given,
// else the host path's directory with one trailing build-output folder
// removed when it ends in "\DEBUG\", "\DEBUG2\", "\RELEASE\" or
// "\RELEASE2\" (each tested on the result of the one before; '/' counts as
// '\'). Never the current directory.
std::string WorkDirectory();
// The same rule on any host path.
std::string WorkDirectoryOfHost(const std::string& hostPath);

// The current directory (GBK, ending with '/'); empty when it has none (it
// was removed).
std::string CurrentDirectory();
// $QO_SYSTEM_DIR (default /usr/lib/) and $QO_WINDOWS_DIR (default /etc/),
// as GBK texts that may name drives.
std::string SystemDirectory();
std::string WindowsDirectory();

// A path is absolute when it starts with a separator or has ':' second.
bool IsAbsolutePath(const char* path);

}  // namespace qotool::platform

#endif
