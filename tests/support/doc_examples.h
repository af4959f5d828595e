// The marked examples of the Markdown documentation (docs/*.md), which the
// conformance test runs through the library and the qol tests through qol:
//  - a fenced block whose info string is "qol", followed (after blank lines)
//    by "Result: `T:value`" (or "Result: `X~message`" for a prefix): a text
//    and the result text it gives;
//  - a fenced block "qol script", followed by lines "Output: `line`" (one
//    per line the script prints on standard output, in order) and at most
//    one "Status: N" (the exit status; 0 when missing): a script that qol
//    runs as a file.
// Blocks of other kinds are prose only.
#ifndef QOTOOL_TESTS_SUPPORT_DOC_EXAMPLES_H
#define QOTOOL_TESTS_SUPPORT_DOC_EXAMPLES_H

#include <istream>
#include <string>
#include <vector>

namespace qotool::test {

struct DocExample {
    int line = 0;                   // of the opening fence
    bool script = false;            // a "qol script" block
    std::vector<std::string> text;  // the block's lines, as written (UTF-8)
    // The result text, or the Output lines each ended by "\n"; empty when
    // the block has no Result (or, for a script, no Output) line.
    std::string expected;
    int status = 0;  // for a script
};

std::vector<DocExample> ParseDocExamples(std::istream& in);

// The Markdown files of folder, sorted by name.
std::vector<std::string> MarkdownFiles(const std::string& folder);

}  // namespace qotool::test

#endif
