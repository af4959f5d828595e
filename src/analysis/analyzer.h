// The walk over the tokens (private to the analysis): two passes over the
// same statement parser, the first collecting what the text defines
// (assigned names, functions, labels, each function's own names), the
// second reporting against it. analyzer.cpp holds the passes, the names and
// the results; analyze_statements.cpp the statements; analyze_expressions.cpp
// the expressions and calls.
#ifndef QOTOOL_ANALYSIS_ANALYZER_H
#define QOTOOL_ANALYSIS_ANALYZER_H

#include <strings.h>

#include <algorithm>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "analysis/analysis.h"
#include "analysis/lexer.h"
#include "builtins/catalog.h"

namespace qotool::analysis::walk {

using builtins::BuiltinEntry;

inline bool Is(std::string_view word, std::string_view name) {
    return word.size() == name.size() && strncasecmp(word.data(), name.data(), name.size()) == 0;
}
inline bool StartsWith(std::string_view word, std::string_view prefix) {
    return word.size() >= prefix.size() && strncasecmp(word.data(), prefix.data(), prefix.size()) == 0;
}

// Nesting beyond this ends the walk (the interpreter refuses 150 levels).
constexpr int kMaxDepth = 400;

class Analyzer {
    struct Arity {
        int formals = 0;
        int required = 0;  // the last parameter without a default, counted from 1
        bool ambiguous = false;
    };

public:
    Analyzer(std::string_view text, const Options& options);

    Result Run();

private:
    // ---- tokens ----
    const Token& T(size_t ahead = 0) const { return tokens_[std::min(p_ + ahead, tokens_.size() - 1)]; }
    std::string_view Text(const Token& t) const { return text_.substr(t.offset, t.length); }
    bool AtEnd() const { return T().kind == TokenKind::kEnd; }
    bool IsPunct(const Token& t, char c) const { return t.kind == TokenKind::kPunct && text_[t.offset] == c; }
    bool At(char c, size_t ahead = 0) const { return IsPunct(T(ahead), c); }
    bool AtWord(std::string_view name, size_t ahead = 0) const;
    // Token ahead+1 starts where token ahead ends.
    bool Joined(size_t ahead) const { return T(ahead).offset + T(ahead).length == T(ahead + 1).offset; }
    // A '=' that assigns: not the first of "==".
    bool AtAssign() const { return At('=') && !(At('=', 1) && Joined(0)); }
    bool PreviousIsBrace() const { return p_ > 0 && IsPunct(tokens_[p_ - 1], '}'); }
    static std::string Lower(std::string_view s);

    // ---- results ----
    void Report(uint32_t offset, uint32_t length, Severity severity, const char* code, std::string message);
    void Report(const Token& t, Severity severity, const char* code, std::string message);
    void Refer(SymbolKind kind, std::string_view name, uint32_t offset, bool definition);
    std::string Quoted(std::string_view name) const { return "'" + std::string(name) + "'"; }

    void ReportNote(const LexNoteAt& note);

    // ---- names ----
    // The store drops at signs from names.
    static std::string Name(std::string_view name);

    void Define(std::string_view written, uint32_t offset);

    bool IsLocal(const std::string& name) const;

    void Read(std::string_view written, uint32_t offset, uint32_t length);

    // Errors here are caught (try, SkipError, error skip) or the text may never be evaluated.
    bool Guarded() const { return guarded_ > 0 || errorSkip_; }
    // A missing closer at the end of the text: the interpreter stops there without a word.
    Severity OpenSeverity() const { return AtEnd() ? Severity::kWarning : Severity::kError; }

    // ---- statements ----
    bool Deeper();

    void Pass(bool reporting);

    void StatementList(bool inBlock);

    void StatementLoop(bool inBlock);

    // One statement; true when it ended with a block, so that no ';' has to follow.
    bool Statement();

    bool StatementBody();

    void Block();

    void Label(const Token& t);

    // '(' expression ')'
    void Parenthesised();

    void CloseWith(const Token& open, char closer);

    // Skips to the ')' that closes the current bracket (consumed), stopping
    // before a ';' or '}' of this level.
    void SkipToClose();

    bool If();

    bool For();

    bool Switch();

    bool Do();

    bool Try();

    bool Goto();

    bool Declarations();

    // Passes over the rest of a sentence without looking at it: up to a ';',
    // ',' or unmatched '}' of this level (not consumed).
    void SkipSentenceRest();

    // At '{': passes over the braces without looking inside.
    void SkipBraces();

    // ---- expressions ----

    // Evaluates up to ';', '}', ')', ']', the end, a ',' (stopAtComma) or a
    // ':' that closes no '?' (stopAtColon); none of them is consumed.
    void Expression(bool stopAtComma, bool stopAtColon);

    // Reads one operand; false when it was a prefix and the operand is still to come.
    bool Operand(bool stopAtComma);

    bool WordOperand(bool stopAtComma);

    void Subscript();

    // After "$": the groups (a, b) [a, b] {a, b, ...}; '*' is an open bound.
    void Membership();

    // ---- calls ----

    void Call(const Token& t);

    // A function defined twice with other parameters is not checked.
    void SetArity(const std::string& name, const Arity& arity);

    // ruqo_<Name>_Create loads the module qol_<Name>_NoQO on demand.
    static bool IsModuleWord(std::string_view w);

    void BuiltinCall(const Token& t, const BuiltinEntry& entry);

    // Before an argument that is QOL text run in this interpreter: what its
    // literal pieces define counts as defined here.
    void AbsorbText();

    // '(' arguments ')': the number of arguments. Arguments from index lazyFrom
    // on may never be evaluated.
    int Arguments(const BuiltinEntry* entry, int lazyFrom = 1 << 30, int unusedFrom = 1 << 30);

    // The arguments of is(...), QolRun(...), for(...) as an expression:
    // names assigned there are defined; the names v, v2, ... of is(...) are
    // its own.
    void LooseArguments(bool isCall);

    // Array::table.Method(...)
    void TableCall(const Token& t);

    // #name(formals) body
    void FunctionDefinition();

    std::string_view text_;
    const Options& options_;
    std::vector<Token> tokens_;
    std::vector<LexNoteAt> notes_;
    size_t p_ = 0;
    bool reporting_ = false;
    int depth_ = 0;
    int guarded_ = 0;
    int unevaluated_ = 0;  // inside arguments a call passes over
    int switchDepth_ = 0;
    bool unreachable_ = false;  // after goto, return, break or continue, up to a label
    bool errorSkip_ = false;    // after set('error skip on')
    std::vector<std::pair<uint32_t, uint32_t>> quiet_;  // ErrorCheck blocks
    std::unordered_map<std::string, Arity> arity_;    // parameters of each function
    std::unordered_set<std::string> anyLocal_;        // parameters and names any function assigns
    std::vector<uint32_t> functions_stack_;  // offsets of the definitions being walked
    std::unordered_set<std::string> assigned_, functions_, labels_, extraFunctions_;
    std::unordered_map<uint32_t, std::unordered_set<std::string>> locals_;
    Result result_;
};

}  // namespace qotool::analysis::walk

#endif
