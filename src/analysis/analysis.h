// Static analysis of QOL text: nothing runs. The text is read the way the
// interpreter's scanner reads it (lexer.h) and walked statement by statement
// with error recovery, giving
// - findings: syntax (quotes, brackets and braces left open, case outside a
//   switch, else without if, do without while, goto to a label the text
//   never defines, a missing ';' between statements), names read that no
//   statement of the text assigns, calls of functions nothing defines, and
//   built-in calls with a wrong number of arguments (builtins/catalog.h);
// - symbols (functions, labels, Array:: tables) and references (every
//   use and definition of a function, label or variable) for editors.
//
// A name counts as assigned when any statement of the text assigns,
// declares, increments or links it, or passes it as '&name', whether that
// statement comes before the read or not (loops run texts again), so a
// finding means that no path defines the name. A function body that reads a
// variable it does not assign itself reads its caller's (dynamic scope):
// that is information, not an error. Reads and calls that an error cannot
// escape from (inside try, SkipError, Type(...), the right side of && and
// ||, the branches of ?:) are warnings.
//
// Offsets are byte offsets into the GBK text; messages are GBK (ASCII words
// with the source's names in them).
#ifndef QOTOOL_ANALYSIS_ANALYSIS_H
#define QOTOOL_ANALYSIS_ANALYSIS_H

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qotool::analysis {

enum class Severity : uint8_t { kError = 1, kWarning = 2, kInformation = 3 };

struct Finding {
    uint32_t offset;
    uint32_t length;
    Severity severity;
    const char* code;  // stable short code, e.g. "undefined-name"
    std::string message;
};

enum class SymbolKind : uint8_t { kFunction, kLabel, kVariable, kTable };

struct Symbol {
    SymbolKind kind;
    std::string name;
    uint32_t offset;     // where the name is written
    uint32_t length;
    uint32_t endOffset;  // the end of the definition (a function's closing brace)
    std::string detail;  // a function's definition line: "#f(a, b=10)"
};

struct Reference {
    SymbolKind kind;
    bool isDefinition;  // the definition itself, or an assignment of a variable
    std::string name;
    uint32_t offset;
    uint32_t length;
};

struct Options {
    // Words that a host or runner adds as functions (the runner's print,
    // readline, ...) and variables it sets before a run (argv, argc).
    std::vector<std::string> functions;
    std::vector<std::string> variables;
};

struct Result {
    std::vector<Finding> findings;      // in text order
    std::vector<Symbol> symbols;        // functions, labels and tables, in text order
    std::vector<Reference> references;  // in text order
};

// At most this many findings are kept (a binary file gives no more).
constexpr size_t kMaxFindings = 1000;

Result Analyze(std::string_view gbk, const Options& options = {});

const char* SeverityName(Severity severity);  // "error", "warning", "information"

}  // namespace qotool::analysis

#endif
