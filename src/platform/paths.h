// Paths as the system writes them, and their names in the file system.
//
// A system path is a GBK text. Both '/' and a '\' that is not the trail byte
// of a two-byte character separate its components. "X:" in front names a
// drive: it stands for the folder $QO_DRIVE_X (X upper-cased; "/" when the
// variable is unset), so "C:\P\a.ini" with QO_DRIVE_C=/srv/c is
// /srv/c/P/a.ini. Names reach the file system as UTF-8, or unchanged when
// $QO_FS_ENCODING names GBK ("gbk", "cp936", "gb2312", "gb18030"); a name
// that is not valid GBK goes unchanged too. The system upper-cases paths
// (work directory, search lists), so a component that does not exist as
// written is looked up in its folder without regard to letter case.
#ifndef QOTOOL_PLATFORM_PATHS_H
#define QOTOOL_PLATFORM_PATHS_H

#include <cstddef>
#include <string>
#include <string_view>

namespace qotool::platform {

// The file-system form of a system path (see above). A missing component
// and everything after it stay as written (a file about to be created); then
// *missing, when given, is set (else cleared), sparing the caller a look of
// its own at a name that is known not to be there.
std::string FileSystemName(std::string_view path, bool* missing = nullptr);
inline std::string FileSystemName(const char* path) { return FileSystemName(std::string_view(path ? path : "")); }

// A name that came from the file system (or the environment) as GBK.
std::string SystemNameFromOs(std::string_view name);

// True for '/' and '\' at i, given that i starts a character.
inline bool IsSeparator(char c) { return c == '/' || c == '\\'; }
// Position of the last separator that starts a character, or npos.
size_t LastSeparator(std::string_view path);
// True when the text ends with a separator that starts a character.
bool EndsWithSeparator(std::string_view path);
// The text with one separator at its end: an existing one is kept; else '\'
// when the text is written with backslashes or a drive, '/' otherwise. An
// empty text stays empty.
std::string WithSeparator(std::string path);

// GBK upper case: ASCII letters only, trail bytes untouched.
std::string UpperGbk(std::string_view text);

}  // namespace qotool::platform

#endif
