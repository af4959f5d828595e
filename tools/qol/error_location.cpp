#include "error_location.h"

namespace qol {

std::string MessageHead(std::string_view gbkMessage) {
    // The start of the position text (a GBK literal, as every narrow one).
    static const char kPosition[] = "\r\n【位于】";
    const std::string_view head = gbkMessage.substr(0, gbkMessage.find(kPosition));
    std::string out;
    out.reserve(head.size());
    for (size_t i = 0; i < head.size(); ++i) {
        if (head[i] == '\r' && i + 1 < head.size() && head[i + 1] == '\n') continue;
        out += head[i];
    }
    while (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
}

std::string PlacePrefix(const std::string& name, int line, int column) {
    if (line <= 0) return name + ": ";
    return name + ":" + std::to_string(line) + ":" + std::to_string(column) + ": ";
}

}  // namespace qol
