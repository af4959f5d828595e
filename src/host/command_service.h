// The command service behind ruqo_Cmd: process-level services asked for by
// name (the standalone application object, the library directory, the
// glossary word list, the mail module, ODBC data sources, the version tag).
// Its state is process-wide and meant for one thread at a time.
#ifndef QOTOOL_HOST_COMMAND_SERVICE_H
#define QOTOOL_HOST_COMMAND_SERVICE_H

#include <string>

namespace qotool::host {

// Whether "VCWINAPP" "+" made the standalone application object (the host
// program has no application object of its own on this platform).
bool HasStandaloneApplication();
// The library directory in the file system's own letter case (the
// "SYSLIB_DIR" answer is its upper-case text).
std::string LibraryDirectoryForFiles();
// Test seam: forgets the library directory, the word list, the flags, and
// unloads the mail module.
void ResetCommandServiceForTest();

}  // namespace qotool::host

#endif
