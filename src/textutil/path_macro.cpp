// Path macros: "%path%", "%path-N%" and "%path*...".
#include "textutil/path_macro.h"

#include <cstring>

#include "platform/module_path.h"
#include "platform/paths.h"
#include "qotool/paths.h"

namespace qotool::textutil {

using platform::IsSeparator;
using platform::LastSeparator;

std::string AncestorOf(const std::string& directory, long long levels) {
    // The root: up to and including the first separator from the third byte
    // on (C:\ of C:\P\Q\R\).
    size_t rootEnd = std::string::npos;
    for (size_t i = 0; i < directory.size(); ++i) {
        if ((unsigned char)directory[i] >= 0x80 && i + 1 < directory.size()) {
            ++i;
            continue;
        }
        if (i >= 2 && IsSeparator(directory[i])) {
            rootEnd = i + 1;
            break;
        }
    }
    if (rootEnd == std::string::npos) rootEnd = directory.size();
    const std::string root = directory.substr(0, rootEnd);
    std::string rest = directory.substr(rootEnd);
    if (platform::EndsWithSeparator(rest)) rest.pop_back();
    for (long long i = 0; i < levels && !rest.empty(); ++i) {
        const size_t last = LastSeparator(rest);
        rest.resize(last == std::string::npos ? 0 : last);
    }
    if (rest.empty()) return root;
    const char separator = platform::EndsWithSeparator(directory) ? directory.back() : '\\';
    return root + rest + separator;
}

std::string ReplacePathMacro(std::string_view text) {
    std::string out(text);
    if (out.find("%path") == std::string::npos) return out;
    const std::string work = platform::WorkDirectory();
    for (size_t at = out.find("%path%"); at != std::string::npos; at = out.find("%path%", at + work.size()))
        out.replace(at, 6, work);
    if (out.compare(0, 6, "%path*") == 0) {
        const std::string rest = out.substr(6);
        const size_t percent = rest.find('%');
        if (percent == std::string::npos) return SearchFileByPath(rest, std::string_view());
        return SearchFileByPath(std::string_view(rest).substr(percent + 1), std::string_view(rest).substr(0, percent));
    }
    for (size_t at = out.find("%path-"); at != std::string::npos; at = out.find("%path-", at)) {
        size_t digits = at + 6;
        long long levels = 0;
        while (digits < out.size() && out[digits] >= '0' && out[digits] <= '9') {
            if (levels < 100000) levels = levels * 10 + (out[digits] - '0');
            ++digits;
        }
        if (digits == at + 6 || digits >= out.size() || out[digits] != '%') {
            at += 6;
            continue;
        }
        const std::string ancestor = AncestorOf(work, levels);
        out.replace(at, digits + 1 - at, ancestor);
        at += ancestor.size();
    }
    return out;
}

}  // namespace qotool::textutil

CString ruqo_ReplacePathMacro(const char* text) {
    try {
        const std::string out = qotool::textutil::ReplacePathMacro(text);
        return CString(out.data(), (int)out.size());
    } catch (...) {
        return CString(text ? text : "");
    }
}
