// Version information of a module file. A module carries its versions in
// the ELF section ".qo_version" as "ProductVersion=...\0FileVersion=...\0"
// (cmake/QoVersion.cmake writes it); a file without that section may have
// a sidecar "<file>.version" holding the same "Key=value" entries, one a
// line.
#ifndef QOTOOL_PLATFORM_VERSION_INFO_H
#define QOTOOL_PLATFORM_VERSION_INFO_H

#include <string>

namespace qotool::platform {

struct VersionInfo {
    std::string productVersion;
    std::string fileVersion;
};

// Reads the versions of the file at osPath (a file-system name). False when
// the file carries neither the section nor a readable sidecar.
bool ReadVersionInfo(const std::string& osPath, VersionInfo& info);

// The versions linked into the module that holds this code (the library,
// or a program built from its objects), read from memory; false when that
// module was built without them. ownAddress gets an address inside that
// module.
bool OwnVersionInfo(VersionInfo& info, const void*& ownAddress);

}  // namespace qotool::platform

#endif
