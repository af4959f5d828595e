// Module handles. A handle is any address inside a loaded module; null
// stands for the running program. Paths are file-system names (UTF-8).
#ifndef QOTOOL_PLATFORM_MODULE_HANDLE_H
#define QOTOOL_PLATFORM_MODULE_HANDLE_H

#include <string>

namespace qotool::platform {

// The host application's path: $QO_HOST_PATH when set, else the running
// program (/proc/self/exe).
std::string HostApplicationPath();
// The running program's file (/proc/self/exe), read once; empty when it
// cannot be read.
const std::string& RunningProgramFile();
// The path of the module that holds address (the host application's path
// for null or an address in no module).
std::string ModuleFileName(const void* address);
// One value per module: the module's load address (null for null, and the
// address itself when it lies in no module).
const void* ModuleIdentity(const void* address);
// The path of the loaded module whose file is named name (compared without
// regard to case; with or without its directory and extension); empty when
// none is loaded.
std::string LoadedModulePath(const std::string& name);

// The address of an exported function of a module that LoadModule
// (module_loader.h) loaded, or null.
void* ModuleFunction(void* module, const char* name);
// Unloads a module that LoadModule loaded (null does nothing).
void UnloadModule(void* module);

}  // namespace qotool::platform

#endif
