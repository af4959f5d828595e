// Loading shared libraries by the names scripts give.
//
// Name mapping: a ".dll" name, or a bare name without any '.', stands for
// the stem S and maps to "S.so" and "libS.so" (then both in lower case),
// searched in the executable's directory, the library's directory, each
// folder of $QO_MODULE_PATH (separated by ':'), the install folder of
// extension modules (kModuleFolder under the library's directory), the
// current directory and then the system's search path. Any other name
// (with ".so", or another extension) is used as given, in the same folders.
// When no candidate loads (none is there, or what is there is no loadable
// object, as the linker script libc.so of the C development files), the
// highest versioned soname in the system library folders: "libS.so.N",
// also "S.so.N" for a stem that starts with "lib", and "X.so.N" for a name
// "X.so" (so "c", "libc", "libc.so" and "msvcrt"-style names find
// libc.so.6). A name with a folder is looked for in that
// folder only. The library's own name ("qoTool_NoQO", with ".dll" or a
// "lib" prefix, any case) always means the loaded library itself, as the
// system loader answers with a module that is already loaded.
//
// Failures keep the loader's own reason (dlerror) for LastSystemError and
// set errno to ENOENT when the module or one it needs was not found,
// ENOEXEC otherwise. Thread-safe.
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

// dlopen(RTLD_NOW) of the first candidate that loads; null when none does.
// Successful names are remembered, so the search runs once per name.
void* LoadModule(const char* name);
// The file names tried for name, in order (without the versioned sonames,
// which are looked up only when these fail).
std::vector<std::string> ModuleCandidates(const char* name);
// The highest "libS.so.N" for the stem S in the system library folders;
// empty when there is none.
std::string HighestVersionedLibrary(const std::string& stem);

// The address of the symbol name in module; null when it has none, and
// for any module value that is not a handle this loader gave out and
// still holds (a forged or closed handle is never handed to the loader).
void* FindSymbol(void* module, const char* name);
// Whether address lies in an executable segment of a loaded module.
bool IsCodeAddress(const void* address);

// Modules the scripts opened themselves (LoadLibrary): only these may be
// closed again. OpenModule is LoadModule that counts the handle as the
// script's; CloseModule closes one such reference and answers true, or
// answers false and closes nothing for any other value.
void* OpenModule(const char* name);
bool CloseModule(void* module);
// The handle of a module that is already loaded, found by the same name
// mapping without loading anything; null when it is not loaded.
void* LoadedModuleHandle(const char* name);

// Whether a failure code of LoadModule says that a module was not found.
bool IsModuleNotFound(int code);
// The system's text for an error code (strerror).
std::string SystemErrorText(int code);

}  // namespace qotool::platform

#endif
