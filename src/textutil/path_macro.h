// Path macros in file names, for the engine's file loading (the exports are
// in include/qotool/paths.h).
#ifndef QOTOOL_TEXTUTIL_PATH_MACRO_H
#define QOTOOL_TEXTUTIL_PATH_MACRO_H

#include <string>
#include <string_view>

namespace qotool::textutil {

// ruqo_ReplacePathMacro on a text.
std::string ReplacePathMacro(std::string_view text);
inline std::string ReplacePathMacro(const char* text) { return ReplacePathMacro(std::string_view(text ? text : "")); }

// The work directory's ancestor `levels` up (see ruqo_ReplacePathMacro).
std::string AncestorOf(const std::string& directory, long long levels);

// ruqo_SearchFileByPath and ruqo_GetDirectoyFiles on plain texts.
std::string SearchFileByPath(std::string_view file, std::string_view spec);
std::string DirectoryFiles(std::string_view directory, std::string_view patterns, std::string_view options);

// Windows wildcard match of a GBK name: '*' any run, '?' one character,
// ASCII letters without regard to case; "*.*" and a final ".*" also match a
// name without a dot.
bool WildcardMatch(std::string_view pattern, std::string_view name);

}  // namespace qotool::textutil

#endif
