// Compiling expressions: names, subscripts, sentences, assignments,
// operands, operators and calls (user functions and numeric built-ins), and
// the root of a form.
#include "engine/forms/compiler.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <strings.h>
#include <vector>

#include "engine/executor.h"
#include "engine/scanner.h"
#include "qotool/qotool.h"

namespace qotool::engine::forms {

// A variable name the store takes as it is: ASCII letters, digits and '_',
// no subscript, no macro piece, no "::" qualification, no call, not a
// keyword, NULL or a system_ name. p moves past the word.
bool Compiler::PlainWord(char*& p, char* word, bool* cell) {
    if (!IsAsciiLetter(*p)) return false;
    const int n = ScanWordChars(p, word);
    Touch(p + n + 2);
    if (n >= 80) return false;
    for (int i = 0; i < n; ++i)
        if (!IsAsciiLetter(word[i]) && !IsDigitChar(word[i])) return false;
    char* q = p + n;
    if ((q[0] == '%' && q[1] == '[') || (q[0] == ':' && q[1] == ':')) return false;
    if (q[0] == '[' && !cell) return false;
    if (KeywordOf(word) != Keyword::None || strcasecmp(word, "NULL") == 0) return false;
    if (strncmp(word, "system_", 7) == 0) return false;
    if (cell) *cell = q[0] == '[';
    p = q;
    return true;
}

// The subscripts after an array name, as AppendSubscripts reads them (p at
// the '['): a row, then a column after a ',' or in a second bracket right
// after the first (column: its node, or -1 for none); no field after them.
int Compiler::Subscript(char*& p, int level, int catches, int* column) {
    *column = -1;
    ++p;
    char* t = p;
    while (IsBlank(*t)) ++t;
    Touch(t + 2);
    if (*t == ']') return -1;  // the whole array
    auto one = [&]() {
        long literal = 0;
        const char* literalEnd = nullptr;
        Touch(p + 2);
        if (PlainSubscript(p, &literal, &literalEnd)) {
            Touch(literalEnd + 2);
            if (literal < 0 || literal > INT32_MAX) return -1;
            p = const_cast<char*>(literalEnd);
            Node n{Op::Number};
            n.value = (double)literal;
            return Add(n);
        }
        return Sentence(p, ",]", 'N', 0, level, catches);
    };
    const int row = one();
    if (row < 0) return -1;
    Touch(p + 2);
    if (*p == ',') {
        ++p;
        *column = one();
        if (*column < 0) return -1;
        Touch(p + 2);
        if (*p != ']') return -1;
        ++p;
    } else {
        if (*p != ']') return -1;  // no closing bracket
        ++p;
        Touch(p + 2);
        if (*p == '[') {
            ++p;
            char* b = p;
            while (IsBlank(*b)) ++b;
            Touch(b + 2);
            if (*b == ']') return -1;
            *column = one();
            if (*column < 0) return -1;
            Touch(p + 2);
            if (*p != ']') return -1;
            ++p;
        }
    }
    Touch(p + 2);
    if (*p == '[' || (*p == '.' && IsWordChar(p[1]))) return -1;
    return row;
}

// Whether the operator loop would stop at p at once.
bool Compiler::StopsHere(char* p, const char* terminators) {
    SkipBlanks(p);
    Touch(p + 2);
    const char c = *p;
    if (c == '`') return false;
    if (c == 0 || c == ';' || c == '}') return true;
    return strchr(terminators, c) && !(c == '*' && p[1] == '*');
}

// A DoSentence that stores nothing and must give a number, or with
// expectedType 'S' a string (a variable read as one then), or with kEither
// either.
int Compiler::Sentence(char*& p, const char* terminators, char expectedType, char closer, int level, int catches) {
    ++level;
    ++catches;
    if (level > kMaxLevels) return -1;
    Note(level, catches);
    if (terminators[0] == '}') return -1;
    SkipBlanks(p);
    Touch(p + 2);
    const char c = *p;
    if (c == '?' || c == '$' || c == '{' || c == 0 || c == ';') return -1;
    int node = Operand(p, level, catches);
    if (node < 0) return -1;
    node = Operators(p, terminators, node, level, catches);
    if (node < 0) return -1;
    const Op op = f_.nodes[(size_t)node].op;
    if (expectedType == 'S' ? !IsText(op) && op != Op::Read : expectedType != kEither && IsText(op)) return -1;
    if (expectedType && expectedType != 'N' && expectedType != 'S' && expectedType != kEither) return -1;
    if (closer == ')') {
        if (*p != ')') return -1;  // an unclosed bracket moves the bracket count
        SkipOne(p);
    } else if (closer && *p == closer) {
        SkipOne(p);
    }
    Touch(p + 2);
    return node;
}

// A statement where a sentence starts: an assignment, ++ or -- (which store),
// or a value.
bool Compiler::Statement(char*& p, const char* terminators, int level, int catches, int blocks) {
    const bool gotoOk = gotoOk_;
    gotoOk_ = false;
    if ((p[0] | 0x20) == 'i' && (p[1] | 0x20) == 'f' && !IsWordChar(p[2])) {
        char* q = p + 2;
        if ((q[0] == '%' && q[1] == '[') || (q[0] == ':' && q[1] == ':')) return false;
        SkipBlanks(q);
        Touch(q + 2);
        if (*q == '(') return If(p, level, catches, blocks, gotoOk);
    }
    if (gotoOk && (p[0] | 0x20) == 'g' && StartsWithNoCase(p, "goto") && !IsWordChar(p[4])) return Goto(p);
    if (p[0] == '#') return Label(p);
    if (StartsWithNoCase(p, "switch") && !IsWordChar(p[6])) {
        char* q = p + 6;
        if ((q[0] == '%' && q[1] == '[') || (q[0] == ':' && q[1] == ':')) return false;
        SkipBlanks(q);
        Touch(q + 2);
        if (*q == '(') return Raising(kNoRaise, [&] { return Switch(p, level, catches, blocks); });
    }
    char word[96];
    if ((p[0] | 0x20) == 'r' && StartsWithNoCase(p, "return") && ScanWordChars(p, word) == 6) {
        Touch(p + 8);
        return Return(p, level, catches);
    }
    char* q = p;
    bool cell = false;
    const bool plain = PlainWord(q, word, &cell);
    if (plain && cell) {
        const size_t mark = f_.nodes.size();
        int column;
        const int row = Raising(kNoRaise, [&] { return Subscript(q, level, catches, &column); });
        if (row < 0) return false;
        char* r = q;
        SkipBlanks(r);
        Touch(r + 2);
        if (r[0] == '=' && r[1] != '=') {
            char* right = r + 1;
            SkipBlanks(right);
            if (!*right || f_.storesCells == kMaxCellStores) return false;
            p = r + 1;
            const int node = Raising(kNoRaise, [&] { return Sentence(p, ")", 0, 0, level, catches); });
            if (node < 0) return false;
            ++f_.storesCells;
            f_.steps.push_back({StepKind::AssignCell, node, ArrayFor(word), 0, row});
            f_.steps.back().column = column;
            return true;
        }
        f_.nodes.resize(mark);  // read again as an operand
    } else if (plain) {
        char* r = q;
        SkipBlanks(r);
        Touch(r + 2);
        if ((r[0] == '+' && r[1] == '+') || (r[0] == '-' && r[1] == '-')) {
            const double delta = r[0] == '+' ? 1.0 : -1.0;
            r += 2;
            if (!StopsHere(r, terminators)) return false;  // more operators after a store
            SkipBlanks(r);
            p = r;
            Emit(StepKind::Increment, -1, SlotFor(word), delta);
            return true;
        }
        if (r[0] == '=' && r[1] != '=') {
            char* right = r + 1;
            SkipBlanks(right);
            if (!*right) return false;
            const Checkpoint before = Save();
            if (Append(p, r + 1, word, level, catches)) return true;
            Restore(before);  // read again as an assignment
            p = r + 1;
            const int node = Sentence(p, ")", kEither, 0, level, catches);
            if (node < 0) return false;
            if (IsText(f_.nodes[(size_t)node].op)) {
                // A string stored: not by `name = name + ...`, which the
                // text grows in place, nor into the table buffer's name,
                // which binds it.
                char* q = right;
                char same[96];
                if (PlainWord(q, same) && strcmp(same, word) == 0) {
                    SkipBlanks(q);
                    if (*q == '+') return false;
                }
                if (strcasecmp(word, "TableBufferName") == 0) return false;
                Emit(StepKind::AssignText, node, SlotFor(word));
                f_.storesText = true;
                return true;
            }
            Emit(StepKind::Assign, node, SlotFor(word));
            return true;
        }
    }
    int node = Operand(p, level, catches);
    if (node < 0) return false;
    node = Operators(p, terminators, node, level, catches);
    if (node < 0) return false;
    Emit(IsText(f_.nodes[(size_t)node].op) ? StepKind::TextValue : StepKind::Value, node);
    return true;
}

// `name = name + more`, as the text runs it: the right side is a sentence
// (one level down) that reads the variable, then at its '+' reads a string
// (one that is never a number: a literal, a join, a built-in's string)
// in a sentence of its own (two levels down), which the variable's string
// grows by; both stop where the statement ends. The name must read as the
// variable (not PI, true or false) and store into it (not TableBufferName).
// p moves to the statement's end.
bool Compiler::Append(char*& p, char* right, const char* name, int level, int catches) {
    if (level + 2 > kMaxLevels || f_.appendSlot >= 0) return false;
    if (strcasecmp(name, "PI") == 0 || strcasecmp(name, "true") == 0 || strcasecmp(name, "false") == 0 ||
        strcasecmp(name, "TableBufferName") == 0)
        return false;
    char* q = right;
    SkipBlanks(q);
    Touch(q + 2);
    char word[96];
    bool cell = false;
    if (!PlainWord(q, word, &cell) || cell || strcmp(word, name) != 0) return false;
    SkipBlanks(q);
    Touch(q + 2);
    if (q[0] != '+' || OperatorChar(q[1])) return false;
    ++q;
    SkipBlanks(q);
    Touch(q + 2);
    Note(level + 1, catches + 1);
    const int from = (int)f_.nodes.size();
    // A string for sure (a variable alone may hold a number: the sum is
    // then an assignment of numbers).
    const int more = Sentence(q, kSetA, 'S', 0, level + 1, catches + 1);
    if (more < 0 || !IsText(f_.nodes[(size_t)more].op) || !StopsHere(q, ")")) return false;
    f_.appendSlot = SlotFor(name);
    f_.appendFrom = from;
    f_.appendTo = (int)f_.nodes.size();
    Emit(StepKind::Append, more, f_.appendSlot);
    SkipBlanks(q);
    p = q;
    return true;
}

int Compiler::Operand(char*& p, int level, int catches) {
    const char c = *p;
    switch (c) {
    case '(':
        SkipOne(p);
        return Sentence(p, ")", kEither, ')', level, catches);
    case '~':
        ++p;
        return Unary(Op::Tilde, Sentence(p, kTildeSet, 'N', 0, level, catches));
    case '!':
        ++p;
        return Unary(Op::Not, Sentence(p, kNotSet, 'N', 0, level, catches));
    case '\'':
    case '"': return Literal(p);
    case '*':
    case '&': return -1;
    default: break;
    }
    char* q = p;
    bool negative = false, sign = false;
    if (c == '-' || c == '+') {
        sign = true;
        negative = c == '-';
        ++q;
        while (IsBlank(*q)) ++q;
    }
    Touch(q + 2);
    if (IsDigitChar(*q) || (*q == '.' && IsDigitChar(q[1]))) {
        p = q;
        Node n{Op::Number};
        if (!ScanNumber(p, negative, &n.value)) return -1;
        Touch(p + 2);
        return Add(n);
    }
    if (sign) {
        p = q;
        const int operand = Sentence(p, kSignSet, 'N', 0, level, catches);
        return negative ? Unary(Op::Negate, operand) : operand;
    }
    char word[96];
    char* w = p;
    bool cell = false;
    if (!PlainWord(w, word, &cell)) return -1;
    int row = -1, column = -1;
    if (cell) {
        row = Raising(kNoRaise, [&] { return Subscript(w, level, catches, &column); });
        if (row < 0) return -1;
    }
    SkipBlanks(w);
    Touch(w + 2);
    if (*w == '(') return cell ? -1 : Call(p, w, word, level, catches);
    if ((w[0] == '+' && w[1] == '+') || (w[0] == '-' && w[1] == '-') || (w[0] == '=' && w[1] != '=')) return -1;
    p = w;
    Node n{Op::Number};
    if (cell) {
        f_.readsCells = true;
        n.op = Op::ReadCell;
        n.slot = ArrayFor(word);
        n.left = row;
        n.right = column;
    } else if (strcasecmp(word, "PI") == 0) {
        n.value = std::acos(-1.0);
    } else if (strcasecmp(word, "true") == 0) {
        n.value = 1;
    } else if (strcasecmp(word, "false") == 0) {
        n.value = 0;
    } else {
        n.op = Op::Read;
        n.slot = SlotFor(word);
    }
    return Add(n);
}

// word(arguments), as ReadWordOperand and CallUserFunction read a call of a
// user function (w at the '('): the arguments are sentences of their own
// inside the call's guard, up to the ')'. Whether no built-in takes the word
// and the function is a function form is found when the call runs.
int Compiler::Call(char*& p, char* w, const char* word, int level, int catches) {
    if (level + 2 > kMaxLevels) return -1;
    // The statements the built-in dispatch runs (their loops would keep a
    // word asked for while they run).
    if (strcasecmp(word, "for") == 0 || strcasecmp(word, "while") == 0 || strcasecmp(word, "if") == 0 ||
        strcasecmp(word, "switch") == 0)
        return -1;
    const int builtin = BuiltinCall(p, w, word, level, catches);
    if (builtin != kNotBuiltin) return builtin;
    CallSite site;
    site.word = word;
    const CallWords::Kind kind = words_.Of(site.word);
    if (kind != CallWords::kUser) {
        f_.refusedWords |= kind == CallWords::kUnknown ? kRefusedUnknownWord : kRefusedOtherWord;
        return -1;
    }
    Note(level + 2, catches);
    site.function = site.word + "()";
    site.level = level;
    site.catches = catches;
    SkipOne(w);  // the '('
    for (;;) {
        SkipBlanks(w);
        Touch(w + 2);
        if (*w == ')') break;
        if (*w == '&' || *w == ',' || site.argCount == kMaxCallArgs) return -1;
        const int arg = Sentence(w, "),", 0, 0, level + 2, catches);
        if (arg < 0) return -1;
        site.args[site.argCount++] = arg;
        Touch(w + 2);
        if (*w == ',') {
            SkipOne(w);
            continue;
        }
        if (*w != ')') return -1;
    }
    SkipOne(w);  // the ')'
    Touch(w + 2);
    p = w;
    f_.calls.push_back(std::move(site));
    Node n{Op::Call};
    n.slot = (int)f_.calls.size() - 1;
    return Add(n);
}

int Compiler::Operators(char*& p, const char* terminators, int left, int level, int catches) {
    for (;;) {
        SkipBlanks(p);
        Touch(p + 2);
        const char c = *p;
        if (c == '`') return -1;
        if (c == 0 || c == ';' || c == '}') return left;
        if (strchr(terminators, c) && !(c == '*' && p[1] == '*')) return left;
        ++p;
        left = Operator(p, c, left, level, catches);
        if (left < 0) return -1;
    }
}

int Compiler::Operator(char*& p, char op, int left, int level, int catches) {
    if (IsText(f_.nodes[(size_t)left].op)) return TextOperator(p, op, left, level, catches);
    if (op == '%') {
        const int right = Sentence(p, kSetD, 0, 0, level, catches);
        return Dividing(Op::Remainder, left, right, p);
    }
    if (!strchr("+-*/<>=!$&|^?", op)) return -1;
    if (OperatorChar(op) && OperatorChar(*p) && !(p[0] == '%' && p[1] == '[') && *p != '*') return -1;
    switch (op) {
    case '+': {
        // A string on the right makes it a concatenation (the variable on
        // the left must then hold a string).
        const int right = Sentence(p, kSetA, kEither, 0, level, catches);
        if (right < 0 || !IsText(f_.nodes[(size_t)right].op)) return Binary(Op::Add, left, right);
        return f_.nodes[(size_t)left].op == Op::Read ? Binary(Op::Concat, left, right) : -1;
    }
    case '-': return Binary(Op::Subtract, left, Sentence(p, kSetB, 'N', 0, level, catches));
    case '*':
        if (*p == '*') {
            ++p;
            return Binary(Op::Power, left, Sentence(p, kSetC, 0, 0, level, catches));
        }
        return Binary(Op::Multiply, left, Sentence(p, kSetC, 'N', 0, level, catches));
    case '/': {
        const int right = Sentence(p, kSetD, 'N', 0, level, catches);
        return Dividing(Op::Divide, left, right, p);
    }
    case '<':
    case '>':
    case '=':
    case '!': {
        if ((op == '<' || op == '>') && *p == op) {
            ++p;
            return Binary(op == '<' ? Op::ShiftLeft : Op::ShiftRight, left,
                          Sentence(p, kSetE, 'N', 0, level, catches));
        }
        char second = 0;
        if (*p == '<' || *p == '=' || *p == '>') second = *p++;
        if (op == '=' && second != '=') return -1;
        const bool noCase = second && *p == '$';
        if (noCase) ++p;
        const int right = Sentence(p, kSetF, kEither, 0, level, catches);
        if (right < 0) return -1;
        Op kind = Op::Compare;
        if (IsText(f_.nodes[(size_t)right].op)) {
            // A variable compared with a string must hold one.
            if (noCase || f_.nodes[(size_t)left].op != Op::Read) return -1;
            kind = Op::TextCompare;
        }
        const int node = Binary(kind, left, right);
        f_.nodes[(size_t)node].compare = op;
        f_.nodes[(size_t)node].second = second;
        return node;
    }
    case '&':
    case '|':
        if (*p == op) {
            ++p;
            // The right side is skipped when the left decides; the form
            // holds only where skipping and reading end at the same place.
            // The right side is read first: a chain too deep for a form is
            // refused before any skipping (skipping the rest of a long chain
            // at every level made such texts slow to refuse).
            char* skipped = p;
            const int right = Sentence(p, kSetG, 'N', 0, level, catches);
            if (right < 0) return -1;
            SkipExpression(skipped, '?');
            if (skipped != p) return -1;
            return Binary(op == '&' ? Op::And : Op::Or, left, right);
        }
        return Binary(op == '&' ? Op::BitAnd : Op::BitOr, left, Sentence(p, kSetG, 'N', 0, level, catches));
    case '^': return Binary(Op::BitXor, left, Sentence(p, kSetG, 'N', 0, level, catches));
    default: return -1;  // '$' membership and '?' choice are read as text
    }
}

bool Compiler::Root(char*& p, const char* terminators, char expectedType) {
    // A type asked for is checked when the form has run: the type depends on
    // the parts run.
    const int level = 1, catches = 1;
    Note(level, catches);
    SkipBlanks(p);
    Touch(p + 2);
    if (*p == '?' || *p == '$') return false;
    // The sentence starts with no value: a run's outcome starts so.
    if (terminators[0] == '}') {
        rootList_ = expectedType == 0;  // a type asked for is checked at the list's end
        if (!List(p, terminators, level, catches, 0)) return false;
    } else if (*p == '{') {
        rootBlock_ = true;
        if (!Block(p, level, catches, 0)) return false;
    } else if (*p != 0 && *p != ';') {
        if (!Statement(p, terminators, level, catches, 0)) return false;
    }
    if (f_.storesCells && f_.readsCells) return false;  // a stored cell is not read back before it is written
    if (f_.appendSlot >= 0) {
        // The growing variable is neither read nor stored by another step.
        for (const Step& step : f_.steps)
            if ((step.kind == StepKind::Assign || step.kind == StepKind::Increment ||
                 step.kind == StepKind::AssignText) &&
                step.slot == f_.appendSlot)
                return false;
        // (Its own string may read it: that is read before it grows.)
        for (int i = 0; i < (int)f_.nodes.size(); ++i)
            if (ReadsSlot(f_.nodes[(size_t)i].op) && f_.nodes[(size_t)i].slot == f_.appendSlot &&
                (i < f_.appendFrom || i >= f_.appendTo))
                return false;
    }
    f_.end = (int)(p - base_);
    // A list with a goto hands over at its end at least: the text then ends
    // the list, or searches on for the label.
    if (!f_.labels.empty() && f_.resume < 0) f_.resume = f_.end;
    f_.cut = cut_;
    Touch(p + 2);
    // A zero divisor after a call is left to the text to report: the
    // statement start the call leaves is not one the report knows.
    if (!f_.calls.empty())
        for (Node& node : f_.nodes) node.raiseAt = kNoRaise;
    return true;
}

}  // namespace qotool::engine::forms
