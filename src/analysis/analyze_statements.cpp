// The analysis of statements: blocks, labels, if, for, switch, do, try,
// goto and declarations.
#include "analysis/analyzer.h"

#include <cstdio>

namespace qotool::analysis::walk {

bool Analyzer::Deeper() {
    if (++depth_ <= kMaxDepth) return true;
    Report(T(), Severity::kError, "too-deep", "brackets or statements nested too deep");
    p_ = tokens_.size() - 1;
    return false;
}

void Analyzer::Pass(bool reporting) {
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

void Analyzer::StatementList(bool inBlock) {
    const bool outerUnreachable = unreachable_;
    StatementLoop(inBlock);
    unreachable_ = outerUnreachable;
}

void Analyzer::StatementLoop(bool inBlock) {
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

bool Analyzer::Statement() {
    if (!Deeper()) return true;
    const bool free = StatementBody();
    --depth_;
    return free;
}

bool Analyzer::StatementBody() {
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

void Analyzer::Block() {
    const Token open = T();
    ++p_;
    StatementList(true);
    if (At('}')) {
        ++p_;
    } else {
        Report(open, OpenSeverity(), "unclosed-brace", "'{' is not closed");
    }
}

void Analyzer::Label(const Token& t) {
    unreachable_ = false;
    const std::string_view name = Text(t).substr(1);
    if (!reporting_) labels_.insert(std::string(name));
    if (reporting_) result_.symbols.push_back(Symbol{SymbolKind::kLabel, std::string(name), t.offset + 1,
                                                     (uint32_t)name.size(), t.offset + t.length + 1, ""});
    Refer(SymbolKind::kLabel, name, t.offset + 1, true);
    p_ += 2;
}

void Analyzer::Parenthesised() {
    const Token open = T();
    if (!IsPunct(open, '(')) return;
    ++p_;
    Expression(false, false);
    CloseWith(open, ')');
}

void Analyzer::CloseWith(const Token& open, char closer) {
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

void Analyzer::SkipToClose() {
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

bool Analyzer::If() {
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

bool Analyzer::For() {
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

bool Analyzer::Switch() {
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

bool Analyzer::Do() {
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

bool Analyzer::Try() {
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

bool Analyzer::Goto() {
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

bool Analyzer::Declarations() {
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

void Analyzer::SkipSentenceRest() {
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

void Analyzer::SkipBraces() {
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

}  // namespace qotool::analysis::walk
