// Path macros in file names: "%path%" stands for the work directory.
#ifndef QOTOOL_TEXTUTIL_PATH_MACRO_H
#define QOTOOL_TEXTUTIL_PATH_MACRO_H

#include <string>

namespace qotool::textutil {

std::string ReplacePathMacro(const char* text);

}  // namespace qotool::textutil

#endif
