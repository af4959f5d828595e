#include "textutil/path_macro.h"

#include <cstring>

#include "platform/module_path.h"

namespace qotool::textutil {

std::string ReplacePathMacro(const char* text) {
    std::string out = text ? text : "";
    if (out.find("%path") == std::string::npos) return out;
    const std::string work = qotool::platform::WorkDirectory();
    for (size_t at = out.find("%path%"); at != std::string::npos; at = out.find("%path%", at + work.size()))
        out.replace(at, 6, work);
    return out;
}

}  // namespace qotool::textutil
