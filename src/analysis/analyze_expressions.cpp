// The analysis of expressions and calls: operands, subscripts, built-in
// calls and their argument counts, table calls and function definitions.
#include "analysis/analyzer.h"

#include <cstdio>

namespace qotool::analysis::walk {

void Analyzer::Expression(bool stopAtComma, bool stopAtColon) {
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

bool Analyzer::Operand(bool stopAtComma) {
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

bool Analyzer::WordOperand(bool stopAtComma) {
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

void Analyzer::Subscript() {
    const Token open = T();
    ++p_;
    Expression(true, false);
    if (At(',')) {
        ++p_;
        Expression(true, false);
    }
    CloseWith(open, ']');
}

void Analyzer::Membership() {
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

void Analyzer::Call(const Token& t) {
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

void Analyzer::SetArity(const std::string& name, const Arity& arity) {
    auto [it, added] = arity_.emplace(name, arity);
    if (!added && (it->second.formals != arity.formals || it->second.required != arity.required))
        it->second.ambiguous = true;
}

bool Analyzer::IsModuleWord(std::string_view w) {
    return w.size() > 12 && StartsWith(w, "ruqo_") && Is(w.substr(w.size() - 7), "_Create");
}

void Analyzer::BuiltinCall(const Token& t, const BuiltinEntry& entry) {
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

void Analyzer::AbsorbText() {
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

int Analyzer::Arguments(const BuiltinEntry* entry, int lazyFrom, int unusedFrom) {
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

void Analyzer::LooseArguments(bool isCall) {
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

void Analyzer::TableCall(const Token& t) {
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

void Analyzer::FunctionDefinition() {
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

}  // namespace qotool::analysis::walk
