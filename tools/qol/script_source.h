// Script sources as the runner hands them to the interpreter: the "#!" line
// of an executable script, the GBK characters that a UTF-8 source turns
// into a trap, what a text leaves open at its end, and the characters that
// GBK lacks.
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

// What a GBK text leaves open at its end, scanned as the interpreter reads
// it: string literals in either quote (a backslash escapes the next byte),
// comments, and brackets ( [ { outside them, a two-byte character stepped
// over whole. A closing bracket closes the innermost open one, of whatever
// kind; one with none open is passed over.
struct OpenAtEnd {
    char what = 0;      // ( [ { for a bracket, ' or " for a literal, * for a
                        // comment; 0 when nothing is open
    size_t offset = 0;  // where the innermost open thing starts
    int brackets = 0;   // brackets still open (also those inside what)
};

OpenAtEnd FindOpenAtEnd(std::string_view gbk);

// The runner's warning for it, in UTF-8, for a source whose GBK text is gbk:
// "NAME:LINE:COLUMN: warning: ..." and a newline (the column counts
// characters); empty when nothing is open.
std::string OpenAtEndWarning(const std::string& name, std::string_view gbk, const OpenAtEnd& open);

// The runner's warning for a UTF-8 source whose conversion to GBK (gbk)
// lost characters: each character GBK lacks, and each byte that is not
// UTF-8, became "?". Names the first of them and its place,
// "NAME:LINE:COLUMN: warning: ..." (firstLine is the source's first line;
// the column counts characters), and how many more there are; empty when
// the conversion lost nothing.
std::string LostCharacterWarning(const std::string& name, std::string_view utf8, std::string_view gbk,
                                 int firstLine = 1);

}  // namespace qol

#endif
