// The compiler of sentence forms: reads a sentence the way DoSentence,
// RunStatements, ReadOperand and the operator loop do, step for step, and
// gives up wherever the text could take a path it does not cover; what it
// keeps is a small tree of number operations and the steps that run it.
// Expressions and calls are in compile_expressions.cpp, statements (if,
// switch, lists, blocks, return, goto) in compile_statements.cpp, function
// bodies in function_forms.cpp.
#ifndef QOTOOL_ENGINE_FORMS_COMPILER_H
#define QOTOOL_ENGINE_FORMS_COMPILER_H

#include <algorithm>
#include <string>
#include <vector>

#include "engine/forms/form.h"

namespace qotool::engine::forms {

// Sentence's expected type for a sentence that may give a number or a string.
constexpr char kEither = '*';

// Reads a sentence the way the executor would and builds its form.
class Compiler {
public:
    Compiler(Form& form, const char* base, CallWords& words) : f_(form), base_(base), far_(base), words_(words) {}

    bool Root(char*& p, const char* terminators, char expectedType);
    bool FunctionBody(char*& p, const std::vector<std::string>& formals);
    const char* Far() const { return far_; }

private:
    void Touch(const char* p) {
        if (p > far_) far_ = p;
    }
    void Note(int level, int catches) {
        f_.levels = std::max(f_.levels, level);
        f_.catches = std::max(f_.catches, catches);
    }
    int Add(Node node) {
        f_.nodes.push_back(node);
        return (int)f_.nodes.size() - 1;
    }
    int Unary(Op op, int operand) {
        if (operand < 0) return -1;
        Node n{op};
        n.left = operand;
        return Add(n);
    }
    int Binary(Op op, int left, int right) {
        if (right < 0) return -1;
        Node n{op};
        n.left = left;
        n.right = right;
        return Add(n);
    }
    // A division whose right side ends at p, where the text reports a zero
    // divisor.
    int Dividing(Op op, int left, int right, const char* p) {
        const int node = Binary(op, left, right);
        if (node < 0) return -1;
        f_.nodes[(size_t)node].errorAt = (int)(p - base_);
        f_.nodes[(size_t)node].raiseAt = raiseAt_;
        return node;
    }
    // Compiles with the cursor left where `at` says when a division fails.
    template <typename Part>
    auto Raising(int at, Part part) {
        const int saved = raiseAt_;
        raiseAt_ = at;
        auto result = part();
        raiseAt_ = saved;
        return result;
    }
    int SlotFor(const char* name) {
        for (size_t i = 0; i < f_.slots.size(); ++i)
            if (f_.slots[i].name == name) return (int)i;
        f_.slots.emplace_back();
        f_.slots.back().name = name;
        return (int)f_.slots.size() - 1;
    }

    bool PlainWord(char*& p, char* word, bool* cell = nullptr);
    int Subscript(char*& p, int level, int catches, int* column);
    int ArrayFor(const char* name) {
        for (size_t i = 0; i < f_.arrays.size(); ++i)
            if (f_.arrays[i].name == name) return (int)i;
        f_.arrays.emplace_back();
        f_.arrays.back().name = name;
        return (int)f_.arrays.size() - 1;
    }
    bool StopsHere(char* p, const char* terminators);
    int Sentence(char*& p, const char* terminators, char expectedType, char closer, int level, int catches);
    bool Statement(char*& p, const char* terminators, int level, int catches, int blocks);
    bool If(char*& p, int level, int catches, int blocks, bool gotoOk);
    bool Switch(char*& p, int level, int catches, int blocks);
    bool Branch(char* p, int level, int catches, int blocks, bool gotoOk);
    bool List(char*& p, const char* terminators, int level, int catches, int blocks);
    bool Block(char*& p, int level, int catches, int blocks);
    bool Return(char*& p, int level, int catches);
    bool Goto(char*& p);
    bool Label(char*& p);
    bool GotosThroughList(size_t from, char* end);
    bool ReturnsThroughList(size_t from, bool statement);
    bool Append(char*& p, char* right, const char* name, int level, int catches);
    void Emit(StepKind kind, int node = -1, int slot = -1, double delta = 0) {
        f_.steps.push_back({kind, node, slot, delta, -1});
    }
    void Mark(const char* p) { Emit(StepKind::Mark, -1, (int)(p - base_)); }
    int Operand(char*& p, int level, int catches);
    int Call(char*& p, char* w, const char* word, int level, int catches);
    // The built-ins a form computes itself (compile_builtins.cpp): a call's
    // node, -1 when the form does not take it, kNotBuiltin for other words.
    static constexpr int kNotBuiltin = -2;
    int BuiltinCall(char*& p, char* w, const char* word, int level, int catches);
    int Arguments(char*& w, const char* kinds, bool more, int* args, char** last, int level, int catches);
    int Literal(char*& p);
    int TextOperator(char*& p, char op, int left, int level, int catches);
    int Operators(char*& p, const char* terminators, int left, int level, int catches);
    int Operator(char*& p, char op, int left, int level, int catches);

    // Counts a skip from `from` to `to`; false once the compilation has
    // skipped too much.
    bool Skipped(const char* from, const char* to) {
        if (to > from) skipped_ += (size_t)(to - from);
        return skipped_ <= kMaxSkipped;
    }

    // What a statement that turns out to be refused must leave as it found.
    struct Checkpoint {
        size_t nodes, steps, slots, arrays, labels, calls;
        bool readsCells;
        int storesCells;
        bool returns;
        int appendSlot;
    };
    Checkpoint Save() const {
        return {f_.nodes.size(),   f_.steps.size(), f_.slots.size(), f_.arrays.size(), f_.labels.size(),
                f_.calls.size(),   f_.readsCells,   f_.storesCells,  f_.returns,       f_.appendSlot};
    }
    void Restore(const Checkpoint& c) {
        f_.nodes.resize(c.nodes);
        f_.steps.resize(c.steps);
        f_.slots.resize(c.slots);
        f_.arrays.resize(c.arrays);
        f_.labels.resize(c.labels);
        f_.calls.resize(c.calls);
        f_.readsCells = c.readsCells;
        f_.storesCells = c.storesCells;
        f_.returns = c.returns;
        f_.appendSlot = c.appendSlot;
    }

    Form& f_;
    const char* base_;
    const char* far_;
    CallWords& words_;
    size_t skipped_ = 0;
    bool rootList_ = false;  // the next List is the sentence itself, which may run in part
    // Where the form's cursor is when a division compiled now fails: the
    // text passes its cursor down through sentences, lists and blocks, keeps
    // it after an if's condition while a part runs, and takes copies in
    // switches and subscripts.
    int raiseAt_ = kRaiseAtError;
    // The next Statement stands in the sentence's own list, or in the parts
    // of ifs that do: a goto there ends the run with the label to search
    // (inside a block or a switch the text would search there first).
    bool gotoOk_ = false;
    // The next Block is the sentence itself, and then its list: when a
    // statement there is refused after statements that may return, the form
    // keeps those and gives up where the refused one starts, so that it runs
    // whole when a return ends it and leaves everything to the text else.
    bool rootBlock_ = false;
    bool cutList_ = false;
    bool cut_ = false;  // the root block's list was cut so
};

}  // namespace qotool::engine::forms

#endif
