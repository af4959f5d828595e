// Loading shared libraries by the names scripts give: a ".dll" name maps
// to "name.so" and "libname.so" (also in lower case), searched in the
// executable's directory, the library's directory, each folder of
// $QO_MODULE_PATH (separated by ':'), the install folder of extension
// modules (kModuleFolder under the library's directory), the current
// directory and then the system's search path.
#ifndef QOTOOL_PLATFORM_MODULE_LOADER_H
#define QOTOOL_PLATFORM_MODULE_LOADER_H

#include <string>
#include <vector>

namespace qotool::platform {

// The install folder of extension modules, relative to the library's
// directory (the build installs modules into lib/qotool/modules).
constexpr char kModuleFolder[] = "qotool/modules/";

// The folders searched, in order (each ends with '/').
std::vector<std::string> ModuleDirectories(const std::string& currentDirectory);

// dlopen(RTLD_NOW) of the first candidate that loads; null when none does
// (the loader's text is kept for LastSystemError).
void* LoadModule(const char* name);
// The file names tried for name, in order.
std::vector<std::string> ModuleCandidates(const char* name);

}  // namespace qotool::platform

#endif
