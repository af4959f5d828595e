// The walk over the tokens: two passes over the same statement parser, the
// first collecting what the text defines (assigned names, functions,
// labels, each function's own names), the second reporting against it.
#include <strings.h>

#include <algorithm>
#include <string>
#include <unordered_map>
#include <unordered_set>

#include "analysis/analysis.h"
#include "analysis/lexer.h"
#include "builtins/catalog.h"

namespace qotool::analysis {

namespace {

using builtins::BuiltinEntry;

bool Is(std::string_view word, std::string_view name) {
    return word.size() == name.size() && strncasecmp(word.data(), name.data(), name.size()) == 0;
}
bool StartsWith(std::string_view word, std::string_view prefix) {
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
    Analyzer(std::string_view text, const Options& options) : text_(text), options_(options) {
        Lexed lexed = Lex(text);
        tokens_ = std::move(lexed.tokens);
        notes_ = std::move(lexed.notes);
        for (const std::string& f : options_.functions) extraFunctions_.insert(Lower(f));
        for (const std::string& v : options_.variables) assigned_.insert(v);
    }

    Result Run() {
        Pass(false);
        Pass(true);
        for (const LexNoteAt& note : notes_) ReportNote(note);
        // What an ErrorCheck block holds is its own report's business.
        auto& findings = result_.findings;
        findings.erase(std::remove_if(findings.begin(), findings.end(),
                                      [&](const Finding& f) {
                                          for (const auto& range : quiet_)
                                              if (f.offset >= range.first && f.offset < range.second) return true;
                                          return false;
                                      }),
                       findings.end());
        std::stable_sort(result_.findings.begin(), result_.findings.end(),
                         [](const Finding& a, const Finding& b) { return a.offset < b.offset; });
        if (result_.findings.size() > kMaxFindings) result_.findings.resize(kMaxFindings);
        std::stable_sort(result_.references.begin(), result_.references.end(),
                         [](const Reference& a, const Reference& b) { return a.offset < b.offset; });
        std::stable_sort(result_.symbols.begin(), result_.symbols.end(),
                         [](const Symbol& a, const Symbol& b) { return a.offset < b.offset; });
        return std::move(result_);
    }

private:
    // ---- tokens ----
    const Token& T(size_t ahead = 0) const { return tokens_[std::min(p_ + ahead, tokens_.size() - 1)]; }
    std::string_view Text(const Token& t) const { return text_.substr(t.offset, t.length); }
    bool AtEnd() const { return T().kind == TokenKind::kEnd; }
    bool IsPunct(const Token& t, char c) const { return t.kind == TokenKind::kPunct && text_[t.offset] == c; }
    bool At(char c, size_t ahead = 0) const { return IsPunct(T(ahead), c); }
    bool AtWord(std::string_view name, size_t ahead = 0) const {
        return T(ahead).kind == TokenKind::kWord && Is(Text(T(ahead)), name);
    }
    // Token ahead+1 starts where token ahead ends.
    bool Joined(size_t ahead) const { return T(ahead).offset + T(ahead).length == T(ahead + 1).offset; }
    // A '=' that assigns: not the first of "==".
    bool AtAssign() const { return At('=') && !(At('=', 1) && Joined(0)); }
    bool PreviousIsBrace() const { return p_ > 0 && IsPunct(tokens_[p_ - 1], '}'); }
    static std::string Lower(std::string_view s) {
        std::string out(s);
        for (char& c : out)
            if (c >= 'A' && c <= 'Z') c = (char)(c + 32);
        return out;
    }

    // ---- results ----
    void Report(uint32_t offset, uint32_t length, Severity severity, const char* code, std::string message) {
        if (!reporting_ || result_.findings.size() > kMaxFindings) return;
        if (unreachable_ && severity == Severity::kError) severity = Severity::kWarning;
        result_.findings.push_back(Finding{offset, length, severity, code, std::move(message)});
    }
    void Report(const Token& t, Severity severity, const char* code, std::string message) {
        Report(t.offset, std::max<uint32_t>(t.length, 1), severity, code, std::move(message));
    }
    void Refer(SymbolKind kind, std::string_view name, uint32_t offset, bool definition) {
        if (!reporting_) return;
        result_.references.push_back(Reference{kind, definition, std::string(name), offset, (uint32_t)name.size()});
    }
    std::string Quoted(std::string_view name) const { return "'" + std::string(name) + "'"; }

    void ReportNote(const LexNoteAt& note) {
        switch (note.note) {
        case LexNote::kOpenString:
            Report(note.offset, 1, Severity::kError, "unclosed-string",
                   "the string literal is not closed before a line that ends in ';'");
            break;
        case LexNote::kOpenStringAtEnd:
            Report(note.offset, 1, Severity::kWarning, "unclosed-string",
                   "the string literal is not closed: it runs to the end of the text");
            break;
        case LexNote::kOpenComment:
            Report(note.offset, 2, Severity::kWarning, "unclosed-comment", "'/*' without '*/': the rest of the text is a comment");
            break;
        case LexNote::kTrailBackslash: {
            char hex[32];
            snprintf(hex, sizeof hex, "\\x%02X\\x5C", (unsigned char)text_[note.offset]);
            Report(note.offset, 2, Severity::kWarning, "gbk-trail-backslash",
                   Quoted(text_.substr(note.offset, 2)) + " ends in the byte 0x5C: inside a string literal that byte "
                   "starts an escape; write it as " + hex);
            break;
        }
        }
    }

    // ---- names ----
    // The store drops at signs from names.
    static std::string Name(std::string_view name) {
        std::string out(name);
        out.erase(std::remove(out.begin(), out.end(), '@'), out.end());
        return out;
    }

    void Define(std::string_view written, uint32_t offset) {
        const std::string name = Name(written);
        if (name.empty()) return;
        if (!reporting_) {
            assigned_.insert(name);
            if (!functions_stack_.empty()) {
                locals_[functions_stack_.back()].insert(name);
                anyLocal_.insert(name);
            }
        }
        Refer(SymbolKind::kVariable, name, offset, true);
    }

    bool IsLocal(const std::string& name) const {
        for (uint32_t f : functions_stack_) {
            auto it = locals_.find(f);
            if (it != locals_.end() && it->second.count(name)) return true;
        }
        return false;
    }

    void Read(std::string_view written, uint32_t offset, uint32_t length) {
        if (!reporting_ || written.empty() || unevaluated_) return;
        const std::string name = Name(written);
        Refer(SymbolKind::kVariable, name, offset, false);
        if (StartsWith(name, "system_") || Is(name, "PI") || Is(name, "true") || Is(name, "false") ||
            Is(name, "NULL") || Is(name, "TableBufferName"))
            return;
        const std::string& key = name;
        if (!functions_stack_.empty()) {
            if (IsLocal(key)) return;
            if (assigned_.count(key) || anyLocal_.count(key)) {
                Report(offset, length, Severity::kInformation, "dynamic-scope",
                       Quoted(name) + " is not assigned in this function: it is the caller's variable (dynamic scope)");
                return;
            }
        } else if (assigned_.count(key)) {
            return;
        }
        Report(offset, length, Guarded() ? Severity::kWarning : Severity::kError, "undefined-name",
               Quoted(name) + " is read, but no statement of the text assigns it");
    }

    // Errors here are caught (try, SkipError, error skip) or the text may never be evaluated.
    bool Guarded() const { return guarded_ > 0 || errorSkip_; }
    // A missing closer at the end of the text: the interpreter stops there without a word.
    Severity OpenSeverity() const { return AtEnd() ? Severity::kWarning : Severity::kError; }

    // ---- statements ----
    bool Deeper() {
        if (++depth_ <= kMaxDepth) return true;
        Report(T(), Severity::kError, "too-deep", "brackets or statements nested too deep");
        p_ = tokens_.size() - 1;
        return false;
    }

    void Pass(bool reporting) {
        reporting_ = reporting;
        p_ = 0;
        depth_ = 0;
        guarded_ = 0;
        switchDepth_ = 0;
        functions_stack_.clear();
        unreachable_ = false;
        errorSkip_ = false;
        StatementList(false);
    }

    void StatementList(bool inBlock) {
        const bool outerUnreachable = unreachable_;
        StatementLoop(inBlock);
        unreachable_ = outerUnreachable;
    }

    void StatementLoop(bool inBlock) {
        bool glued = false;  // a ')' or ']' right after a statement, without ';'
        while (!AtEnd()) {
            const Token& t = T();
            if (IsPunct(t, '}')) {
                if (inBlock) return;
                // At run level the interpreter passes over it.
                Report(t, Severity::kWarning, "unmatched-brace", "'}' closes no block");
                ++p_;
                continue;
            }
            if (IsPunct(t, ';')) {
                ++p_;
                continue;
            }
            if (IsPunct(t, ')') || IsPunct(t, ']')) {
                // An error where a statement runs into it; one that starts a
                // statement sits, in the texts that have one, where runs skip it.
                Report(t, glued ? Severity::kError : Severity::kWarning, "unmatched-bracket",
                       Quoted(Text(t)) + " closes no bracket");
                glued = false;
                ++p_;
                continue;
            }
            const size_t before = p_;
            const bool jumps = t.kind == TokenKind::kWord && (Is(Text(t), "goto") || Is(Text(t), "return") ||
                                                              Is(Text(t), "break") || Is(Text(t), "continue"));
            const bool free = Statement();
            if (jumps) unreachable_ = true;
            if (p_ == before) {
                Report(t, Severity::kError, "unexpected-token", "unexpected " + Quoted(Text(t)));
                ++p_;
                continue;
            }
            glued = !free && (At(')') || At(']'));
            if (At(';') || At('}') || AtEnd() || free || glued) continue;
            Report(T(), Severity::kError, "missing-semicolon", "';' or an operator expected before " + Quoted(Text(T())));
        }
    }

    // One statement; true when it ended with a block, so that no ';' has to follow.
    bool Statement() {
        if (!Deeper()) return true;
        const bool free = StatementBody();
        --depth_;
        return free;
    }

    bool StatementBody() {
        // Breakpoint and error-output markers: ? ?(condition) ?? $ $$
        while (At('?') || At('$')) {
            if (At('?') && At('(', 1) && Joined(0)) {
                ++p_;
                Parenthesised();
            } else {
                ++p_;
            }
        }
        const Token& t = T();
        if (IsPunct(t, '{')) {
            Block();
            return true;
        }
        if (t.kind != TokenKind::kWord) {
            Expression(false, false);
            return PreviousIsBrace();
        }
        const std::string_view w = Text(t);
        if (w[0] == '#' && w.size() > 1 && At(':', 1) && Joined(0) && !(At(':', 2) && Joined(1))) {
            Label(t);
            return true;
        }
        const bool call = At('(', 1);
        if (call && Is(w, "if")) return If();
        if (call && Is(w, "while")) {
            ++p_;
            Parenthesised();
            return Statement();
        }
        if (call && Is(w, "for")) return For();
        if (call && Is(w, "switch")) return Switch();
        if (Is(w, "do")) return Do();
        if (Is(w, "else")) {
            Report(t, Severity::kError, "else-without-if", "'else' without an 'if' before it");
            ++p_;
            return Statement();
        }
        if (Is(w, "case") || Is(w, "default")) {
            unreachable_ = false;
            if (switchDepth_ == 0)
                Report(t, Severity::kError, "case-outside-switch", Quoted(w) + " outside a switch body");
            ++p_;
            if (Is(w, "case")) Expression(false, true);
            if (At(':')) {
                ++p_;
            } else {
                Report(T(), Severity::kError, "case-without-colon", "':' expected after the case value");
            }
            return true;
        }
        if (Is(w, "try")) return Try();
        if (Is(w, "SkipError")) {
            ++p_;
            ++guarded_;
            const bool free = Statement();
            --guarded_;
            return free;
        }
        if (Is(w, "break") || Is(w, "continue")) {
            ++p_;
            return false;
        }
        if (Is(w, "return")) {
            ++p_;
            Expression(false, false);
            return false;
        }
        if (Is(w, "goto")) return Goto();
        if (Is(w, "private") || Is(w, "public")) return Declarations();
        if (Is(w, "delete") || Is(w, "remove")) {
            ++p_;
            SkipSentenceRest();
            return false;
        }
        if (Is(w, "AskExec")) {
            ++p_;
            if (At('(')) {
                Parenthesised();
                return false;
            }
            if (At('{')) SkipBraces();
            return true;
        }
        Expression(false, false);
        return PreviousIsBrace();
    }

    void Block() {
        const Token open = T();
        ++p_;
        StatementList(true);
        if (At('}')) {
            ++p_;
        } else {
            Report(open, OpenSeverity(), "unclosed-brace", "'{' is not closed");
        }
    }

    void Label(const Token& t) {
        unreachable_ = false;
        const std::string_view name = Text(t).substr(1);
        if (!reporting_) labels_.insert(std::string(name));
        if (reporting_) result_.symbols.push_back(Symbol{SymbolKind::kLabel, std::string(name), t.offset + 1,
                                                         (uint32_t)name.size(), t.offset + t.length + 1, ""});
        Refer(SymbolKind::kLabel, name, t.offset + 1, true);
        p_ += 2;
    }

    // '(' expression ')'
    void Parenthesised() {
        const Token open = T();
        if (!IsPunct(open, '(')) return;
        ++p_;
        Expression(false, false);
        CloseWith(open, ')');
    }

    void CloseWith(const Token& open, char closer) {
        if (At(closer)) {
            ++p_;
            return;
        }
        if (!AtEnd() && !At(';') && !At('}') && !At(')') && !At(']')) {
            Report(T(), Severity::kError, "unexpected-token",
                   std::string("'") + closer + "' expected before " + Quoted(Text(T())));
            SkipToClose();
            return;
        }
        Report(open, OpenSeverity(), "unclosed-bracket", Quoted(Text(open)) + " is not closed");
    }

    // Skips to the ')' that closes the current bracket (consumed), stopping
    // before a ';' or '}' of this level.
    void SkipToClose() {
        int depth = 0;
        while (!AtEnd()) {
            if (At('(') || At('[') || At('{')) {
                ++depth;
            } else if (At(')') || At(']') || At('}')) {
                if (depth == 0) {
                    if (At(')')) ++p_;
                    return;
                }
                --depth;
            } else if (At(';') && depth == 0) {
                return;
            }
            ++p_;
        }
    }

    bool If() {
        ++p_;
        Parenthesised();
        bool free = Statement();
        const size_t save = p_;
        if (At(';') && AtWord("else", 1)) ++p_;
        if (AtWord("else")) {
            ++p_;
            return Statement();
        }
        p_ = save;
        return free;
    }

    bool For() {
        ++p_;
        const Token open = T();
        ++p_;
        Expression(false, false);
        for (int part = 0; part < 2; ++part) {
            if (!At(';')) {
                Report(open, Severity::kError, "bad-for", "for needs (e1; e2; e3)");
                SkipToClose();
                return Statement();
            }
            ++p_;
            Expression(false, false);
        }
        CloseWith(open, ')');
        return Statement();
    }

    bool Switch() {
        ++p_;
        Parenthesised();
        if (!At('{')) {
            Report(T(), Severity::kError, "switch-without-body", "switch (...) must be followed by a { } body");
            return Statement();
        }
        ++switchDepth_;
        Block();
        --switchDepth_;
        return true;
    }

    bool Do() {
        const Token start = T();
        ++p_;
        Statement();
        if (At(';') && AtWord("while", 1)) ++p_;
        if (AtWord("while") && At('(', 1)) {
            ++p_;
            Parenthesised();
            return false;
        }
        Report(start, Severity::kError, "do-without-while", "'do' without its 'while (...)'");
        return PreviousIsBrace();
    }

    bool Try() {
        ++p_;
        ++guarded_;
        bool free = Statement();
        --guarded_;
        const size_t save = p_;
        if (At(';') && AtWord("catch", 1)) ++p_;
        if (!AtWord("catch")) {
            p_ = save;
            return free;
        }
        ++p_;
        if (At('(')) {
            const Token open = T();
            ++p_;
            if (T().kind == TokenKind::kWord) {
                Define(Text(T()), T().offset);
                ++p_;
            }
            CloseWith(open, ')');
        }
        return Statement();
    }

    bool Goto() {
        const Token g = T();
        ++p_;
        size_t i = g.offset + g.length;
        while (i < text_.size() && (unsigned char)text_[i] <= 32 && text_[i] != 0) ++i;
        const size_t start = i;
        while (i < text_.size() && (unsigned char)text_[i] > 32 && text_[i] != ';' && text_[i] != '(') ++i;
        while (!AtEnd() && T().offset < i) ++p_;
        const std::string_view target = text_.substr(start, i - start);
        if (target.empty()) {
            Report(g, Severity::kError, "goto-without-target", "goto needs a label or a level");
        } else if (target[0] != '-' && !(target[0] >= '0' && target[0] <= '9')) {
            Refer(SymbolKind::kLabel, target, (uint32_t)start, false);
            if (reporting_ && !labels_.count(std::string(target)))
                Report((uint32_t)start, (uint32_t)target.size(), Severity::kError, "undefined-label",
                       "goto " + std::string(target) + ": the text defines no label #" + std::string(target) + ":");
        }
        if (At('(')) Parenthesised();
        return false;
    }

    bool Declarations() {
        ++p_;
        while (T().kind == TokenKind::kWord) {
            const Token t = T();
            const std::string_view w = Text(t);
            if (w[0] == '#' && At('(', 1)) {
                FunctionDefinition();
            } else {
                Define(w, t.offset);
                ++p_;
                while (At('[')) Subscript();
                if (AtAssign()) {
                    ++p_;
                    if (At('{')) {
                        const Token open = T();
                        ++p_;
                        for (;;) {
                            Expression(true, false);
                            if (!At(',')) break;
                            ++p_;
                        }
                        CloseWith(open, '}');
                    } else {
                        Expression(true, false);
                    }
                }
            }
            if (!At(',')) break;
            ++p_;
        }
        return PreviousIsBrace();
    }

    // Passes over the rest of a sentence without looking at it: up to a ';',
    // ',' or unmatched '}' of this level (not consumed).
    void SkipSentenceRest() {
        int depth = 0;
        while (!AtEnd()) {
            if (At('(') || At('[') || At('{')) {
                ++depth;
            } else if (At(')') || At(']') || At('}')) {
                if (depth == 0) return;
                --depth;
            } else if ((At(';') || At(',')) && depth == 0) {
                return;
            }
            ++p_;
        }
    }

    // At '{': passes over the braces without looking inside.
    void SkipBraces() {
        const Token open = T();
        int depth = 0;
        while (!AtEnd()) {
            if (At('{')) ++depth;
            if (At('}') && --depth == 0) {
                ++p_;
                return;
            }
            ++p_;
        }
        Report(open, OpenSeverity(), "unclosed-brace", "'{' is not closed");
    }

    // ---- expressions ----

    // Evaluates up to ';', '}', ')', ']', the end, a ',' (stopAtComma) or a
    // ':' that closes no '?' (stopAtColon); none of them is consumed.
    void Expression(bool stopAtComma, bool stopAtColon) {
        if (!Deeper()) return;
        bool operand = true;  // an operand is expected next
        int questions = 0;
        int guards = 0;
        while (!AtEnd()) {
            const Token& t = T();
            if (t.kind == TokenKind::kPunct) {
                const char c = text_[t.offset];
                if (c == ';' || c == '}' || c == ')' || c == ']') break;
                if (c == ',') {
                    if (stopAtComma) break;
                    ++p_;
                    operand = true;
                    continue;
                }
            }
            if (operand) {
                operand = !Operand(stopAtComma);
                continue;
            }
            if (t.kind == TokenKind::kWord && Text(t)[0] == '.') {  // a member of the value: v.Member(...)
                ++p_;
                if (At('(')) Arguments(nullptr);
                continue;
            }
            if (t.kind != TokenKind::kPunct) break;  // an operand where an operator belongs
            const char c = text_[t.offset];
            if (c == ':') {
                if (questions > 0) {
                    --questions;
                } else if (stopAtColon) {
                    break;
                }
                ++p_;
                operand = true;
                continue;
            }
            if (c == '?') {
                ++questions;
                ++guarded_;
                ++guards;
                ++p_;
                operand = true;
                continue;
            }
            if (c == '`') {
                ++p_;
                continue;
            }
            if (c == '=' && AtAssign()) {
                Report(t, Severity::kError, "assign-to-value",
                       "only a variable can be assigned (compare with '==')");
                ++p_;
                operand = true;
                continue;
            }
            static constexpr std::string_view kOperators = "+-*/%<>=!&|^$";
            if (kOperators.find(c) == std::string_view::npos) break;
            std::string op(1, c);
            ++p_;
            static constexpr std::string_view kPairs[] = {"**", "<<", ">>", "<=", ">=", "==", "!=", "<>", "&&", "||"};
            if (p_ > 0 && T().kind == TokenKind::kPunct && tokens_[p_ - 1].offset + 1 == T().offset) {
                const std::string pair = op + text_[T().offset];
                for (std::string_view p : kPairs)
                    if (pair == p) {
                        op = pair;
                        ++p_;
                        break;
                    }
                if (op.size() == 2 && op != "**" && op != "&&" && op != "||" && At('$') &&
                    tokens_[p_ - 1].offset + 1 == T().offset)
                    ++p_;
            }
            if (op == "&&" || op == "||") {
                ++guarded_;
                ++guards;
            }
            if (op == "$" && (At('(') || At('[') || At('{'))) {
                Membership();
                continue;
            }
            operand = true;
        }
        guarded_ -= guards;
        --depth_;
    }

    // Reads one operand; false when it was a prefix and the operand is still to come.
    bool Operand(bool stopAtComma) {
        const Token t = T();
        switch (t.kind) {
        case TokenKind::kNumber: ++p_; return true;
        case TokenKind::kString:
            while (T().kind == TokenKind::kString) ++p_;  // adjacent literals are one string
            return true;
        case TokenKind::kWord: return WordOperand(stopAtComma);
        case TokenKind::kEnd: return true;
        case TokenKind::kPunct: break;
        }
        const char c = text_[t.offset];
        switch (c) {
        case '(':
            ++p_;
            Expression(false, false);
            CloseWith(t, ')');
            return true;
        case '-': case '+': case '!': case '~': case '*':
            ++p_;
            return false;
        case '&':
            if (T(1).kind == TokenKind::kWord && Joined(0)) {  // &name: the variable's address or a link
                ++p_;
                Define(Text(T()), T().offset);
                ++p_;
                while (At('[')) Subscript();
                return true;
            }
            ++p_;
            return false;
        case '{':
            SkipBraces();
            return true;
        default:
            Report(t, Severity::kError, "unexpected-token", "unexpected " + Quoted(Text(t)));
            ++p_;
            return true;
        }
    }

    bool WordOperand(bool stopAtComma) {
        const Token t = T();
        const std::string_view w = Text(t);
        ++p_;
        if (t.flags & kMacro) {  // a name made at run time
            while (At('[')) Subscript();
            if (At('(')) {
                Arguments(nullptr);
            } else if (AtAssign()) {
                ++p_;
                Expression(stopAtComma, false);
            }
            return true;
        }
        if (Is(w, "NULL") || Is(w, "PI") || Is(w, "true") || Is(w, "false")) return true;
        if (Is(w, "#include")) return false;  // the file name follows
        if (w[0] == '#') {
            const std::string_view name = w.substr(1);
            if (At('(')) {
                --p_;
                FunctionDefinition();
            } else if (AtAssign()) {  // #name = text: a definition taken unevaluated
                Define(name, t.offset + 1);
                ++p_;
                SkipSentenceRest();
            } else if (At(':')) {
                --p_;
                Label(t);
            }
            return true;
        }
        while (At('[')) Subscript();
        if (At('(')) {
            Call(t);
            return true;
        }
        const std::string_view base = w.substr(0, w.find('.'));
        if (AtAssign()) {
            Define(base, t.offset);
            ++p_;
            Expression(stopAtComma, false);
            return true;
        }
        if ((At('+') && At('+', 1) && Joined(0)) || (At('-') && At('-', 1) && Joined(0))) {
            Define(base, t.offset);
            p_ += 2;
        }
        Read(base, t.offset, (uint32_t)base.size());
        return true;
    }

    void Subscript() {
        const Token open = T();
        ++p_;
        Expression(true, false);
        if (At(',')) {
            ++p_;
            Expression(true, false);
        }
        CloseWith(open, ']');
    }

    // After "$": the groups (a, b) [a, b] {a, b, ...}; '*' is an open bound.
    void Membership() {
        while (At('(') || At('[') || At('{')) {
            const Token open = T();
            const bool set = At('{');
            ++p_;
            for (;;) {
                if (At('*')) {
                    ++p_;
                } else {
                    Expression(true, false);
                }
                if (!At(',')) break;
                ++p_;
            }
            if (set ? At('}') : (At(')') || At(']'))) {
                ++p_;
            } else {
                Report(open, Severity::kError, "unclosed-bracket", Quoted(Text(open)) + " is not closed");
                return;
            }
        }
    }

    // ---- calls ----

    void Call(const Token& t) {
        const std::string_view w = Text(t);
        if (StartsWith(w, "Array::")) return TableCall(t);
        if (const BuiltinEntry* entry = builtins::FindBuiltin(w)) return BuiltinCall(t, *entry);
        const size_t dot = w.find('.');
        if (dot != std::string_view::npos && dot > 0) {  // object.Member(...)
            std::string_view object = w.substr(0, dot);
            object = object.substr(0, object.find('['));
            if (!Is(object, "this") && !Is(object, "parent") && !Is(object, "ancestor") && !Is(object, "thisquery"))
                Read(object, t.offset, (uint32_t)object.size());
            Arguments(nullptr);
            return;
        }
        Refer(SymbolKind::kFunction, w, t.offset, false);
        const std::string name(w);
        // Arguments beyond a function's parameters are passed over unevaluated.
        auto arity = arity_.find(name);
        const int count = Arguments(nullptr, 1 << 30, arity == arity_.end() ? 1 << 30 : arity->second.formals);
        if (!reporting_ || unevaluated_) return;
        if (arity != arity_.end() && !arity->second.ambiguous && count < arity->second.required)
            Report(t, Severity::kError, "too-few-arguments",
                   Quoted(w) + ": " + std::to_string(count) + " argument(s) given, but parameter " +
                       std::to_string(arity->second.required) + " has no default");
        if (functions_.count(name) || assigned_.count(name) || extraFunctions_.count(Lower(w)) || IsModuleWord(w))
            return;
        Report(t, Guarded() ? Severity::kWarning : Severity::kError, "unknown-function",
               Quoted(w) + " is not a built-in and the text defines no function #" + name + "(...)");
    }

    // A function defined twice with other parameters is not checked.
    void SetArity(const std::string& name, const Arity& arity) {
        auto [it, added] = arity_.emplace(name, arity);
        if (!added && (it->second.formals != arity.formals || it->second.required != arity.required))
            it->second.ambiguous = true;
    }

    // ruqo_<Name>_Create loads the module qol_<Name>_NoQO on demand.
    static bool IsModuleWord(std::string_view w) {
        return w.size() > 12 && StartsWith(w, "ruqo_") && Is(w.substr(w.size() - 7), "_Create");
    }

    void BuiltinCall(const Token& t, const BuiltinEntry& entry) {
        const std::string_view w = Text(t);
        int count = -1;
        if (entry.flags & builtins::kFreeForm) {
            LooseArguments(Is(w, "is"));
        } else {
            const bool guards = Is(w, "Type");  // Type(x) gives "X" for any error of x
            guarded_ += guards;
            if (Is(w, "set") && T(1).kind == TokenKind::kString) {  // set('error skip on')
                const std::string_view option = Text(T(1));
                if (option.find("error skip on") != std::string_view::npos) errorSkip_ = true;
                if (option.find("error skip off") != std::string_view::npos) errorSkip_ = false;
            }
            count = Arguments(&entry, (entry.flags & builtins::kLazy) ? 1 : 1 << 30);
            guarded_ -= guards;
        }
        if (count >= 0 && (count < entry.minArguments ||
                           (entry.maxArguments != builtins::kAnyCount && count > entry.maxArguments))) {
            char expected[32];
            if (entry.maxArguments == builtins::kAnyCount)
                snprintf(expected, sizeof expected, "at least %d", entry.minArguments);
            else if (entry.minArguments == entry.maxArguments)
                snprintf(expected, sizeof expected, "%d", entry.minArguments);
            else
                snprintf(expected, sizeof expected, "%d to %d", entry.minArguments, entry.maxArguments);
            Report(t, Severity::kError, count < entry.minArguments ? "too-few-arguments" : "too-many-arguments",
                   std::string(w) + entry.arguments + ": " + std::to_string(count) + " argument(s) given, " + expected +
                       " expected");
        }
        if (!(entry.flags & builtins::kBlock)) return;
        if (Is(w, "QolRun")) {  // the block or statement runs elsewhere; its error comes back as a text
            ++guarded_;
            Statement();
            --guarded_;
            return;
        }
        if (!At('{')) {
            Report(T(), Severity::kError, "block-expected", std::string(w) + "(...) must be followed by a { } block");
            Statement();
            return;
        }
        // ErrorCheck examines its block without running it; range's block is a table.
        const uint32_t start = T().offset;
        SkipBraces();
        if (Is(w, "ErrorCheck") && reporting_) quiet_.emplace_back(start, p_ > 0 ? tokens_[p_ - 1].offset + 1 : start);
    }

    // Before an argument that is QOL text run in this interpreter: what its
    // literal pieces define counts as defined here.
    void AbsorbText() {
        if (reporting_) return;
        for (size_t k = 0; T(k).kind == TokenKind::kString || (k > 0 && At('+', k)); ++k) {
            if (T(k).kind != TokenKind::kString || T(k).length < 2) continue;
            Analyzer inner(Text(T(k)).substr(1, T(k).length - 2), options_);
            inner.Pass(false);
            assigned_.insert(inner.assigned_.begin(), inner.assigned_.end());
            functions_.insert(inner.functions_.begin(), inner.functions_.end());
            labels_.insert(inner.labels_.begin(), inner.labels_.end());
            anyLocal_.insert(inner.anyLocal_.begin(), inner.anyLocal_.end());
            for (const auto& [name, arity] : inner.arity_) SetArity(name, arity);
        }
    }

    // '(' arguments ')': the number of arguments. Arguments from index lazyFrom
    // on may never be evaluated.
    int Arguments(const BuiltinEntry* entry, int lazyFrom = 1 << 30, int unusedFrom = 1 << 30) {
        const Token open = T();
        ++p_;
        if (At(')')) {
            ++p_;
            return 0;
        }
        int count = 0;
        for (;;) {
            const bool output = entry && (entry->flags & builtins::kNamesOutput) && count >= entry->outputFrom;
            if (entry && (entry->flags & builtins::kRunsText) && count == entry->outputFrom) AbsorbText();
            const bool lazy = count >= lazyFrom;
            const bool unused = count >= unusedFrom;
            guarded_ += lazy;
            unevaluated_ += unused;
            if (output && T().kind == TokenKind::kWord && (At(',', 1) || At(')', 1))) {
                Define(Text(T()), T().offset);
                ++p_;
            } else {
                Expression(true, false);
            }
            guarded_ -= lazy;
            unevaluated_ -= unused;
            ++count;
            if (At(',')) {
                ++p_;
                continue;
            }
            if (At(')')) {
                ++p_;
                return count;
            }
            if (AtEnd() || At(';') || At('}')) {
                Report(open, OpenSeverity(), "unclosed-bracket", "'(' is not closed");
            } else {
                Report(T(), Severity::kError, "unexpected-token", "',' or ')' expected before " + Quoted(Text(T())));
                SkipToClose();
            }
            return count;
        }
    }

    // The arguments of is(...), QolRun(...), for(...) as an expression:
    // names assigned there are defined; the names v, v2, ... of is(...) are
    // its own.
    void LooseArguments(bool isCall) {
        const Token open = T();
        ++p_;
        int depth = 0;
        while (!AtEnd()) {
            const Token t = T();
            if (At('(') || At('[') || At('{')) {
                ++depth;
            } else if (At(')') || At(']') || At('}')) {
                if (depth == 0) {
                    if (At(')')) {
                        ++p_;
                        return;
                    }
                    break;
                }
                --depth;
            } else if (t.kind == TokenKind::kWord && !(t.flags & kMacro)) {
                const std::string_view w = Text(t);
                if (At('=', 1)) {  // name = value, or a comparison ==
                    if (!(At('=', 2) && Joined(1))) Define(w, t.offset);
                } else if (At('(', 1)) {
                    // a call inside: its name is checked where it is defined
                } else if (!(isCall && w[0] == 'v' && w.find_first_not_of("0123456789", 1) == std::string_view::npos) &&
                           w[0] != '#' && !(w[0] >= '0' && w[0] <= '9')) {
                    const std::string_view base = w.substr(0, w.find_first_of(".["));
                    Read(base, t.offset, (uint32_t)base.size());
                }
            }
            ++p_;
        }
        Report(open, Severity::kError, "unclosed-bracket", "'(' is not closed");
    }

    // Array::table.Method(...)
    void TableCall(const Token& t) {
        const std::string_view w = Text(t);
        const size_t dot = w.rfind('.');
        const std::string_view table = dot == std::string_view::npos || dot < 7 ? w.substr(7) : w.substr(7, dot - 7);
        const std::string_view method = dot == std::string_view::npos ? std::string_view() : w.substr(dot + 1);
        const bool defines = Is(method, "SetDefine") || Is(method, "Create");
        Refer(SymbolKind::kTable, table, t.offset + 7, defines);
        if (defines) Define(table, t.offset + 7);  // the table is an array variable
        if (defines && reporting_)
            result_.symbols.push_back(Symbol{SymbolKind::kTable, std::string(table), t.offset + 7,
                                             (uint32_t)table.size(), t.offset + t.length, std::string(w)});
        if (Is(method, "SetDefine")) {
            // The names of the inputs and outputs become the table's variables.
            const Token open = T();
            ++p_;
            while (!AtEnd() && !At(')') && !At('}')) {
                if (T().kind == TokenKind::kWord) Define(Text(T()), T().offset);
                ++p_;
            }
            CloseWith(open, ')');
            if (At('{')) {
                SkipBraces();
            } else {
                Report(T(), Severity::kError, "block-expected", "SetDefine(...) must be followed by a { rules } block");
            }
            return;
        }
        if (Is(method, "Locate") || Is(method, "Create")) {
            Arguments(nullptr);
            return;
        }
        // Output(name), GetVarName(k), ...: the arguments are names and numbers as written.
        const Token open = T();
        ++p_;
        SkipToClose();
        if (!IsPunct(tokens_[p_ - 1], ')')) Report(open, Severity::kError, "unclosed-bracket", "'(' is not closed");
    }

    // #name(formals) body
    void FunctionDefinition() {
        const Token t = T();
        const std::string_view name = Text(t).substr(1);
        if (!reporting_) functions_.insert(std::string(name));
        Refer(SymbolKind::kFunction, name, t.offset + 1, true);
        ++p_;
        const Token open = T();
        ++p_;
        functions_stack_.push_back(t.offset);
        Arity arity;
        while (!AtEnd()) {
            if (At(')')) {
                ++p_;
                break;
            }
            if (T().kind == TokenKind::kWord) {
                ++arity.formals;
                if (!At('=', 1)) arity.required = arity.formals;
                if (!reporting_) {
                    locals_[t.offset].insert(Name(Text(T())));
                    anyLocal_.insert(Name(Text(T())));
                }
                Refer(SymbolKind::kVariable, Text(T()), T().offset, true);
                ++p_;
                if (At('=')) {
                    ++p_;
                    Expression(true, false);
                }
            } else if (!At(',')) {
                Report(T(), Severity::kError, "unexpected-token", "a parameter name expected, not " + Quoted(Text(T())));
                SkipToClose();
                break;
            }
            if (At(',')) {
                ++p_;
                continue;
            }
            if (!At(')')) {
                Report(open, Severity::kError, "unclosed-bracket", "the parameter list is not closed");
                break;
            }
        }
        if (!reporting_) SetArity(std::string(name), arity);
        const uint32_t headEnd = p_ > 0 ? tokens_[p_ - 1].offset + tokens_[p_ - 1].length : t.offset;
        Statement();
        functions_stack_.pop_back();
        if (reporting_) {
            const uint32_t end = p_ > 0 ? tokens_[p_ - 1].offset + tokens_[p_ - 1].length : headEnd;
            result_.symbols.push_back(Symbol{SymbolKind::kFunction, std::string(name), t.offset + 1,
                                             (uint32_t)name.size(), end,
                                             std::string(text_.substr(t.offset, headEnd - t.offset))});
        }
    }

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

}  // namespace

Result Analyze(std::string_view gbk, const Options& options) { return Analyzer(gbk, options).Run(); }

const char* SeverityName(Severity severity) {
    switch (severity) {
    case Severity::kError: return "error";
    case Severity::kWarning: return "warning";
    case Severity::kInformation: return "information";
    }
    return "error";
}

}  // namespace qotool::analysis
