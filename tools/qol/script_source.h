// Script sources as the runner hands them to the interpreter: the "#!" line
// of an executable script, and the GBK characters that a UTF-8 source turns
// into a trap.
#ifndef QOTOOL_TOOLS_QOL_SCRIPT_SOURCE_H
#define QOTOOL_TOOLS_QOL_SCRIPT_SOURCE_H

#include <string>
#include <string_view>
#include <vector>

namespace qol {

// A first line starting with "#!" becomes a comment of the same length
// ("//" in place of "#!"), so that every later line and column stays where
// it is in the file.
void CommentOutShebang(std::string& gbk);

// A two-byte GBK character whose second byte is 0x5C ('\'): inside a string
// literal that byte starts an escape and swallows what follows.
struct TrailBackslash {
    int line;                // 1-based
    unsigned char lead;      // the first byte; the second is 0x5C
};

// Every such character of a GBK text, in order.
std::vector<TrailBackslash> FindTrailBackslashes(std::string_view gbk);

// The runner's warning for one of them, in UTF-8:
// "NAME:LINE: warning: '乗' is GBK \x81\x5C ..." and a newline.
std::string TrailBackslashWarning(const std::string& name, const TrailBackslash& found);

}  // namespace qol

#endif
