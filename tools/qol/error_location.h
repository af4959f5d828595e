// The runner's one-line error report: "NAME:LINE:COLUMN: message", the way
// compilers and other script runners name a place, beside the result text
// that the system defines.
#ifndef QOTOOL_TOOLS_QOL_ERROR_LOCATION_H
#define QOTOOL_TOOLS_QOL_ERROR_LOCATION_H

#include <string>
#include <string_view>

namespace qol {

// The message of an error text without its position text and source
// excerpt (what follows "\r\n【位于】"), with "\r\n" as "\n". GBK in, GBK out.
std::string MessageHead(std::string_view gbkMessage);

// "name:line:column: " when line > 0, else "name: ".
std::string PlacePrefix(const std::string& name, int line, int column);

}  // namespace qol

#endif
