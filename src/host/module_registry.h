// The registry of platform modules: each module registers with its name,
// its version (read from its file) and the minimum versions it needs of
// other modules; shortfalls are logged as warnings and shown once per
// process. The first registration makes the platform record; the last
// unregistration logs the suite's end and destroys it.
//
// Versions are four decimal integers "a,b,c,d", compared by
// a*1000000 + b*10000 + c*100 + d.
#ifndef QOTOOL_HOST_MODULE_REGISTRY_H
#define QOTOOL_HOST_MODULE_REGISTRY_H

#include <string>

#include "qotool/cstring.h"

namespace qotool::host {

// "平台版本：P--文件版本：F" of the file at osPath, spaces removed; empty
// without version information.
CString VersionText(const std::string& osPath);
// The host application's path as the registry records it (upper case).
CString HostApplicationText();

// The registry text ("|NAME=VERSION?REQUIREMENTS?" per module).
CString RegistryText();
int RegisteredModuleCount();

// Test seam: forgets every registration, the platform record and the
// once-per-process flags.
void ResetModuleRegistryForTest();

}  // namespace qotool::host

#endif
