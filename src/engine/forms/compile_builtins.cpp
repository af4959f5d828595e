// Compiling the built-in calls a form computes itself (the numeric ones of
// one number, max, min, limit, and the string ones len, left, right, mid,
// find, str and val), string literals, and the operators a string takes
// (concatenation and comparison). No other group of the dispatch takes
// these words, whatever user functions or variables the script has.
#include <cstring>
#include <strings.h>

#include "engine/executor.h"
#include "engine/forms/compiler.h"
#include "engine/scanner.h"

namespace qotool::engine::forms {

namespace {
constexpr int kMaxBuiltinArgs = 16;
}

// The arguments of a built-in that reads each as a sentence of its own up
// to ',' or ')', of the kinds `kinds` names in order ('N' a number, 'S' a
// string; a lower-case letter one that may be left out; with more, as many
// more of the last kind), up to the ')' that the operator loop after the
// call passes as the call's bracket (the built-in leaves it). Their count,
// or -1; last[0] is where the last one starts and last[1] its ')'.
int Compiler::Arguments(char*& w, const char* kinds, bool more, int* args, char** last, int level, int catches) {
    const int named = (int)strlen(kinds);
    SkipOne(w);  // the '('
    int count = 0;
    for (;;) {
        const char kind = count < named ? kinds[count] : more ? kinds[named - 1] : 0;
        if (!kind || count == kMaxBuiltinArgs) return -1;
        if (last) last[0] = w;
        const int arg = Sentence(w, ",)", (char)(kind & ~0x20), 0, level, catches);
        if (arg < 0) return -1;
        args[count++] = arg;
        Touch(w + 2);
        if (*w == ')') {
            if (last) last[1] = w;
            break;
        }
        if (*w != ',') return -1;
        ++w;
    }
    // One that may not be left out is missing: "函数缺参数".
    if (count < named && kinds[count] >= 'A' && kinds[count] <= 'Z') return -1;
    SkipOne(w);  // the ')'
    Touch(w + 2);
    return count;
}

int Compiler::BuiltinCall(char*& p, char* w, const char* word, int level, int catches) {
    for (const BuiltinName& b : kBuiltins) {
        if (strcasecmp(word, b.name) != 0) continue;
        // The argument is a sentence of its own up to the ')', which it
        // passes (no guard of its own: it is one level down).
        SkipOne(w);  // the '('
        const int arg = Sentence(w, ")", 'N', ')', level, catches);
        if (arg < 0) return -1;
        p = w;
        Node n{Op::Builtin};
        n.slot = (int)b.builtin;
        n.left = arg;
        return Add(n);
    }
    int args[kMaxBuiltinArgs];
    Node n{Op::Number};
    if (strcasecmp(word, "len") == 0) {
        // Its one argument passes the ')' itself.
        SkipOne(w);
        n.left = Sentence(w, ")", 'S', ')', level, catches);
        if (n.left < 0) return -1;
        n.op = Op::Length;
    } else if (strcasecmp(word, "max") == 0 || strcasecmp(word, "min") == 0) {
        // On ties the first stays.
        const int count = Arguments(w, "N", true, args, nullptr, level, catches);
        if (count < 0) return -1;
        int node = args[0];
        for (int i = 1; i < count; ++i)
            node = Binary((word[1] | 0x20) == 'a' ? Op::Max : Op::Min, node, args[i]);
        p = w;
        return node;
    } else if (strcasecmp(word, "limit") == 0) {
        // Below the lower bound the upper one is passed over unread: the
        // form holds only where passing it over ends where reading it does.
        char* hi[2];
        if (Arguments(w, "NNN", false, args, hi, level, catches) != 3) return -1;
        SkipExpression(hi[0], 0);
        if (hi[0] != hi[1]) return -1;
        n = {Op::Limit};
        n.left = args[0];
        n.right = args[1];
        n.slot = args[2];
    } else if (strcasecmp(word, "left") == 0 || strcasecmp(word, "right") == 0) {
        if (Arguments(w, "SN", false, args, nullptr, level, catches) != 2) return -1;
        n.op = (word[0] | 0x20) == 'l' ? Op::Left : Op::Right;
        n.slot = args[0];
        n.left = args[1];
    } else if (strcasecmp(word, "mid") == 0 || strcasecmp(word, "find") == 0) {
        // mid(s, start [, count]), find(s, sub [, start])
        const bool mid = (word[0] | 0x20) == 'm';
        const int count = Arguments(w, mid ? "SNn" : "SSn", false, args, nullptr, level, catches);
        if (count < 0) return -1;
        n.op = mid ? Op::MidText : Op::Find;
        n.slot = args[0];
        n.left = args[1];
        n.right = count == 3 ? args[2] : -1;
    } else if (strcasecmp(word, "str") == 0 || strcasecmp(word, "val") == 0) {
        // Without a base (base 10).
        const bool str = (word[0] | 0x20) == 's';
        if (Arguments(w, str ? "N" : "S", false, args, nullptr, level, catches) != 1) return -1;
        n.op = str ? Op::Str : Op::Val;
        n.left = args[0];
    } else {
        return kNotBuiltin;
    }
    p = w;
    return Add(n);
}

// A string literal as ReadOperand reads it, one the form keeps as it is
// written: no backslash or line end in it (the text decodes or refuses
// them) and no literal right after it (the text joins the two). p moves
// past it and the blanks after it.
int Compiler::Literal(char*& p) {
    const char quote = *p;
    char* from = p + 1;
    char* end = from;
    while (*end && *end != quote && *end != '\\' && *end != '\r') ++end;
    Touch(end + 2);
    if (*end != quote) return -1;
    char* q = end;
    SkipOne(q);
    Touch(q + 2);
    if (*q == '\'' || *q == '"') return -1;
    p = q;
    f_.texts.emplace_back(from, (size_t)(end - from));
    Node n{Op::Text};
    n.slot = (int)f_.texts.size() - 1;
    return Add(n);
}

// An operator after a string, as the operator loop applies it: '+' joins a
// string (its right side a sentence of its own that must give one), a
// comparison compares with one byte for byte as C strings; the rest (and
// comparing without case, "$") is read as text.
int Compiler::TextOperator(char*& p, char op, int left, int level, int catches) {
    if (op == '+') {
        if (OperatorChar(*p)) return -1;  // "操作符不能直接相连", or an operand a form does not read
        return Binary(Op::Concat, left, Sentence(p, kSetA, 'S', 0, level, catches));
    }
    if (!strchr("<>=!", op) || ((op == '<' || op == '>') && *p == op)) return -1;
    char second = 0;
    if (*p == '<' || *p == '=' || *p == '>') second = *p++;
    if (op == '=' && second != '=') return -1;
    if (second && *p == '$') return -1;
    const int node = Binary(Op::TextCompare, left, Sentence(p, kSetF, 'S', 0, level, catches));
    if (node < 0) return -1;
    f_.nodes[(size_t)node].compare = op;
    f_.nodes[(size_t)node].second = second;
    return node;
}

}  // namespace qotool::engine::forms
