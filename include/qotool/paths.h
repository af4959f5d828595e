// Path macros and file search. All texts are GBK byte strings. Paths use
// '\' or '/' between their components; a directory text ends with one of
// them (one is added where missing); "X:" in front names a drive (on Linux
// the folder $QO_DRIVE_X). None of these functions reports errors: a folder
// that cannot be listed contributes nothing, and a search without a hit
// gives the name it was asked for.
#ifndef QOTOOL_PATHS_H
#define QOTOOL_PATHS_H

#include "qotool/qo_api.h"

#ifdef __cplusplus
#include "qotool/cstring.h"

// text with its path macros replaced:
//   "%path%"       the work directory;
//   "%path-N%"     the work directory's ancestor N levels up (never above
//                  its root, such as C:\);
//   "%path*NAME"   (at the start) the file found by
//   "%path*SPEC%NAME"  ruqo_SearchFileByPath(NAME, SPEC).
// A text without "%path" comes back unchanged.
QO_API CString ruqo_ReplacePathMacro(const char* text);

// The full path of the first file found for file along the places of spec
// (one letter a place, tried in order; upper case: that directory and its
// subdirectories, lower case: the directory only). A: the work directory,
// L: the library's directory, C: the current directory, S: the system
// directory, W: the Windows directory, P: each directory listed (";" or ","
// between them) in the environment variable "ZIVavuDara". A null or empty
// spec means "AlCswP". A file with a directory part ("SUB\a.ini",
// "..\a.ini") is looked for below (or above) each place. An absolute file
// name (starting with a separator, or ':' second) comes back unchanged, as
// does a name that is found nowhere.
QO_API CString ruqo_SearchFileByPath(const char* file, const char* spec);

// The files of directory whose names match one of patterns (';' or ','
// between them; '*' and '?' wildcards, letter case aside; "*.*" every
// name), as directory + name, "\r\n" between them, upper-cased: for each
// pattern in turn the matches in name order; with option S then those of
// the subdirectories (in name order, recursively). Options (letters):
// S subdirectories too, F stop at the first file, R read-only files only,
// W writable files only (R and W together: no filter).
QO_API CString ruqo_GetDirectoyFiles(CString directory, CString patterns, CString options);
#endif

#endif
