// Compiled sentence forms (see compiled_form.h). The compiler below reads a
// sentence the way DoSentence, RunStatements, ReadOperand and the operator
// loop do, step for step, and gives up wherever the text could take a path
// it does not cover; what it keeps is a small tree of number operations.
#include "engine/compiled_form.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <strings.h>
#include <unordered_map>
#include <vector>

#include "engine/executor.h"
#include "engine/number_memo.h"
#include "engine/scanner.h"
#include "engine/unwind.h"
#include "engine/var_params.h"
#include "engine/var_store.h"
#include "engine/var_tables.h"
#include "platform/number_text.h"
#include "platform/string_block.h"
#include "qotool/qolanguage.h"
#include "qotool/qotool.h"

namespace qotool::engine {

namespace {

// Deepest nesting of sentences a form may hold; deeper text is read as text
// (so 100 000 brackets cost the compiler nothing but a refusal).
constexpr int kMaxLevels = 48;
// Forms kept per interpreter before the table starts again (texts run from
// temporary buffers would otherwise add forms without end).
constexpr size_t kMaxForms = 50000;
// A form that keeps giving up is left to the text.
constexpr uint32_t kFallbacksTolerated = 64;
// Bytes the skips of one compilation may pass over (the ends of ifs, switch
// bodies and the statements of labels not taken) before it gives up: every
// nested if or switch skips the rest of its text again, and the text tries a
// compilation at each sentence it nests into, so a long nest would cost the
// square of its length to refuse.
constexpr size_t kMaxSkipped = (size_t)1 << 20;

enum class Op : uint8_t {
    Number,
    Read,
    ReadCell,  // the cell of array `slot` in the row `left` gives
    Negate,
    Not,
    Tilde,
    Add,
    Subtract,
    Multiply,
    Power,
    Divide,
    Remainder,
    ShiftLeft,
    ShiftRight,
    Compare,
    And,
    Or,
    BitAnd,
    BitOr,
    BitXor,
    Call,   // the user function call `slot` of the form
    Param,  // a function form's parameter `slot`
    Builtin, // the numeric built-in `slot` (a Builtin) of the number `left`
};

// The numeric built-ins of one number a form computes itself, as the
// built-in dispatch does: no other group takes their words, whatever user
// functions or variables the script has.
enum class Builtin : uint8_t { Abs, Int, Sign, Sqrt, Exp, Sin, Cos, Tan, Atan };
struct BuiltinName {
    const char* name;
    Builtin builtin;
};
constexpr BuiltinName kBuiltins[] = {
    {"abs", Builtin::Abs}, {"int", Builtin::Int}, {"sign", Builtin::Sign}, {"sqrt", Builtin::Sqrt},
    {"exp", Builtin::Exp}, {"sin", Builtin::Sin}, {"cos", Builtin::Cos},   {"tan", Builtin::Tan},
    {"atan", Builtin::Atan},
};

// Where the cursor of the sentence a form runs for is left when one of its
// divisions meets a zero divisor: at the error (the text's sentences pass
// their cursor on down to the division), or nowhere the form can tell (the
// text gives up there and reports it).
constexpr int kRaiseAtError = -1;
constexpr int kNoRaise = -2;

struct Node {
    Op op;
    char compare = 0;  // Compare: the operator character and the one after it (or 0)
    char second = 0;
    int left = -1;
    int right = -1;
    int slot = -1;
    double value = 0;
    // Divide and Remainder: where the text reports a zero divisor, and where
    // the cursor is left then (an offset, kRaiseAtError or kNoRaise).
    int errorAt = -1;
    int raiseAt = kNoRaise;
};

// The steps of a form run in order, from the first; Branch and Jump move on
// to their target step instead.
enum class StepKind : uint8_t {
    Reset,      // a sentence starts: no value yet (type Z)
    Value,      // node's number is the value
    Assign,     // node's number is stored into slot, and is the value
    Increment,  // slot goes up (delta 1) or down (delta -1); the new number is the value
    AssignCell, // node's number is stored into the cell of array `slot` in row `target`'s number
    Mark,       // a statement starts at offset `slot`
    Branch,     // node's number is the value; when it is 0, on at target
    Jump,       // on at target
    Block,      // a block `slot` deep is entered
    Select,     // node's number is the value and the switch's selector
    Case,       // node's number is the value; when it equals the selector, on at target
    Free,       // a switch clears the pending goto, break, continue or return mark
    Return,     // node's number (none when node is -1) is the value; the form ends returning
    Append,     // the string of slot grows by the form's text; that string is the value
    Goto,       // goto the label `slot` (a goto at `target`): the value is none; the form ends
    GiveUp,     // the text's part starts here: the run gives up (a form that only returns)
    AssignParam,    // a function form: node's number is stored into its parameter `slot`
    IncrementParam, // a function form: its parameter `slot` goes up or down by delta
};

// Where a return leaves the statement start: unchanged, or at the text's end.
constexpr int kMarkUnchanged = -1;
constexpr int kAtTextEnd = -3;

struct Step {
    StepKind kind;
    int node = -1;
    int slot = -1;
    double delta = 0;
    int target = -1;
    // Return and Goto: where the cursor and the statement start end up once
    // the constructs around it have seen it (offsets, or kAtTextEnd).
    int cursorAt = kAtTextEnd;
    int markAt = kMarkUnchanged;
    int column = -1;  // AssignCell: the node of the column (none: column 0)
};

// A number to store and the text it is stored as: whole numbers below 1e15
// are written as their exact digits, others as "%.15g" writes them, and
// readBack is what reading that text gives.
struct NumberText {
    double number = 0;
    double readBack = 0;
    bool exact = false;
    int digitsLength = 0;
    char digits[32];

    // A whole number's digits are written when it is stored (a loop that
    // holds its stores back sets it on every pass and stores it once).
    void Set(double value) {
        number = value;
        exact = platform::IsExactWhole(value);
        if (exact) {
            digitsLength = -1;
            readBack = value;
        } else {
            digitsLength = platform::FormatNumber15(value, digits);
            digits[digitsLength] = 0;
            readBack = platform::ParseDouble(digits);
        }
    }
    void WriteTo(QoLVarDefine* record) {
        if (digitsLength < 0) digitsLength = platform::FormatWhole((int64_t)number, digits);
        StoreNumberDigits(record, number, digits, digitsLength, exact);
    }
};

// A plain variable the form reads or stores.
struct Slot {
    std::string name;
    // The lookup remembered, valid while the table's change count and the
    // visible end are those it was made with.
    const VarTables* tables = nullptr;
    uint64_t changes = 0;
    int end = -1;
    QoLVarDefine* record = nullptr;
    // While a form runs: the number stored and not yet written.
    bool pending = false;
    NumberText stored;
};

// An array the form reads or stores cells of.
struct ArraySlot {
    std::string name;
    const VarTables* tables = nullptr;
    uint64_t changes = 0;
    int end = -1;
    VarArray* array = nullptr;
};

// The cell stores a form may make, held until the form has run.
struct CellStore {
    VarArray* array = nullptr;
    int row = 0;
    int column = 0;
    NumberText stored;
};
constexpr int kMaxCellStores = 4;

struct Form;

// A call of a user function inside a form, `word(args)`, with the arguments
// numbers. The function runs as a form of its own when its whole body is
// one that reads nothing but its parameters and stores nothing (a function
// form): such a call changes nothing the text's call would leave behind
// but the statement start, so a form that makes it can still give up.
constexpr int kMaxCallArgs = 8;
// Names other than its parameters a function form may use.
constexpr size_t kMaxFrameLocals = 16;
struct CallSite {
    std::string word;
    std::string function;  // word + "()": the variable the definition is in
    int level = 0;         // the activation the call is read in (of the form's)
    int catches = 0;
    int argCount = 0;
    int args[kMaxCallArgs] = {};
    // The lookup remembered, as for a slot; definition is null when the
    // call is not a plain user function's.
    const VarTables* tables = nullptr;
    uint64_t changes = 0;
    int end = -1;
    QoLVarDefine* definition = nullptr;
    // The function form last found for the definition's text.
    const char* text = nullptr;
    Form* callee = nullptr;
};

// What the text did with the words forms have met called like functions,
// the first time it called them: a user function took the word, or
// something else did (a built-in, which takes the same words always, an
// extension, a native function value). A call compiles only with a word a
// user function took; a form refused for a word is compiled again once the
// text has learned a word.
class CallWords {
public:
    enum Kind : char { kUnknown = 0, kUser = 'U', kOther = 'O' };
    // asking is the run's flag that some word is asked for (the text's
    // calls test it before they tell what took their word).
    explicit CallWords(bool* asking) : asking_(asking) {}
    // A word not known yet is remembered as asked for.
    Kind Of(const std::string& word) {
        const auto it = kinds_.find(word);
        if (it != kinds_.end()) return it->second;
        if (kinds_.size() >= kMaxWords) return kOther;  // no room to learn it: never compiled
        kinds_.emplace(word, kUnknown);
        ++asked_;
        *asking_ = true;
        return kUnknown;
    }
    // Learns what took a word asked for.
    void Note(const char* word, Kind kind) {
        const auto it = kinds_.find(word);
        if (it == kinds_.end() || it->second != kUnknown) return;
        it->second = kind;
        *asking_ = --asked_ > 0;
        ++generation_;
    }
    uint32_t Generation() const { return generation_; }

private:
    static constexpr size_t kMaxWords = 4096;
    std::unordered_map<std::string, Kind> kinds_;
    size_t asked_ = 0;  // words asked for and not learned yet
    bool* asking_;
    uint32_t generation_ = 0;
};

// Why a form was refused for a call's word: one that something other than
// a user function took, or one the text has not called yet.
constexpr uint8_t kRefusedOtherWord = 1;
constexpr uint8_t kRefusedUnknownWord = 2;

struct Form {
    std::string terminators;
    char expectedType = 0;
    char closer = 0;
    std::string source;  // the bytes the form was made from (ends with the text's zero if it reached it)
    std::unique_ptr<Form> next;  // another form at the same position

    bool usable = false;
    int end = 0;              // cursor offset after the form, before the closer
    int resume = -1;          // a list run in part: where the text takes over (the form's end)
    int blocks = 0;           // deepest nesting of { } blocks
    int levels = 0;           // deepest level guard count the text would reach
    int catches = 0;          // deepest catch depth the text would reach
    std::vector<Node> nodes;
    std::vector<Step> steps;
    std::vector<Slot> slots;
    std::vector<ArraySlot> arrays;
    bool readsCells = false;
    int storesCells = 0;      // cell stores in its steps
    bool returns = false;     // holds a return statement (never run as part of a loop)
    // The labels its goto statements aim at ("#name:"); a form with any runs
    // as a list in part only (the text searches the label).
    std::vector<CString> labels;
    bool cut = false;         // a block that gives up unless a return ends it
    CellStore cellStores[kMaxCellStores];
    int cellsPending = 0;     // while it runs: the cell stores to make
    // The one `name = name + 'text'` a form may hold: its slot and text, and
    // while the form runs the variable whose string is to grow.
    int appendSlot = -1;
    std::string appendText;
    QoLVarDefine* appendRecord = nullptr;
    std::vector<CallSite> calls;
    uint8_t refusedWords = 0;    // kRefused... bits
    uint32_t wordGeneration = 0; // the words known when it was compiled
    // A function form: the definition's parameter count and where its body
    // starts (the statement start the text's call sets first).
    int formals = 0;
    int bodyAt = 0;
    uint32_t runs = 0;
    uint32_t fallbacks = 0;

    void Reset() {
        usable = false;
        end = 0;
        resume = -1;
        blocks = levels = catches = 0;
        nodes.clear();
        steps.clear();
        slots.clear();
        arrays.clear();
        readsCells = returns = false;
        storesCells = 0;
        labels.clear();
        cut = false;
        cellsPending = 0;
        appendSlot = -1;
        appendText.clear();
        appendRecord = nullptr;
        calls.clear();
        refusedWords = 0;
        formals = bodyAt = 0;
        runs = fallbacks = 0;
    }
    bool Matches(const char* text) const { return strncmp(source.data(), text, source.size()) == 0; }
    // Refused for a call's word, and words have been learned since.
    bool Stale(const CallWords& words) const {
        return __builtin_expect(refusedWords != 0, 0) && !usable && wordGeneration != words.Generation();
    }
};

bool IsAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_'; }
bool OperatorChar(char c) { return c == '+' || c == '-' || c == '*' || c == '/' || c == '%'; }

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

// A DoSentence that must give a number and stores nothing.
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
    if (expectedType && expectedType != 'N') return -1;
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
            if (Append(p, r + 1, word, level, catches)) return true;
            p = r + 1;
            const int node = Sentence(p, ")", 0, 0, level, catches);
            if (node < 0) return false;
            Emit(StepKind::Assign, node, SlotFor(word));
            return true;
        }
    }
    int node = Operand(p, level, catches);
    if (node < 0) return false;
    node = Operators(p, terminators, node, level, catches);
    if (node < 0) return false;
    Emit(StepKind::Value, node);
    return true;
}

// `name = name + 'text'`, as the text runs it: the right side is a sentence
// (one level down) that reads the variable, then at its '+' reads the literal
// in a sentence of its own (two levels down); both stop where the statement
// ends. The literal must read as it is written (no backslash, line end or
// second literal after it, as ruqo_GetStringData would join or decode), and
// the name must read as the variable (not PI, true or false) and store into
// it (not TableBufferName). p moves to the statement's end.
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
    const char quote = *q;
    if (quote != '\'' && quote != '"') return false;
    char* from = q + 1;
    char* end = from;
    while (*end && *end != quote && *end != '\\' && *end != '\r') ++end;
    Touch(end + 2);
    if (*end != quote) return false;
    q = end;
    SkipOne(q);
    Touch(q + 2);
    if (*q == '\'' || *q == '"' || !StopsHere(q, ")")) return false;
    Note(level + 2, catches + 2);
    f_.appendText.assign(from, (size_t)(end - from));
    f_.appendSlot = SlotFor(name);
    Emit(StepKind::Append, -1, f_.appendSlot);
    SkipBlanks(q);
    p = q;
    return true;
}

// if (condition) statement [else statement], as StatementIf runs it: the
// parts end where the sentence skipper says, whichever part runs.
bool Compiler::If(char*& p, int level, int catches, int blocks, bool gotoOk) {
    char* q = p + 2;
    SkipBlanks(q);
    SkipOne(q);  // the '('
    const int condition = Sentence(q, ")", 'N', ')', level, catches);
    if (condition < 0) return false;
    char* thenPart = q;
    const size_t branch = f_.steps.size();
    Emit(StepKind::Branch, condition);
    // The then part first: an if nested too deep is refused before the
    // skip over the rest of the text that finds where the if ends.
    // While a part runs, the text's cursor stays after the condition.
    const int partAt = raiseAt_ == kRaiseAtError ? (int)(thenPart - base_) : raiseAt_;
    // A part the form does not cover gives up when it is taken: the
    // condition stores nothing, and no store is made before the run ends.
    // Unless it waits for the text to call a word first (the form is then
    // made again once the word is known).
    auto part = [&](char* at) {
        const Checkpoint before = Save();
        const uint8_t refused = f_.refusedWords;
        if (Raising(partAt, [&] { return Branch(at, level, catches, blocks, gotoOk); })) return true;
        gotoOk_ = false;
        if ((f_.refusedWords & ~refused) & kRefusedUnknownWord) return false;
        Restore(before);
        Emit(StepKind::GiveUp);
        return true;
    };
    if (!part(thenPart)) return false;
    char* elsePart;
    char* end = IfParts(thenPart, &elsePart);
    Touch(end + 2);
    if (!Skipped(thenPart, end)) return false;
    if (elsePart) {
        const size_t jump = f_.steps.size();
        Emit(StepKind::Jump);
        f_.steps[branch].target = (int)f_.steps.size();
        if (!part(elsePart)) return false;
        f_.steps[jump].target = (int)f_.steps.size();
    } else {
        f_.steps[branch].target = (int)f_.steps.size();
    }
    // Whichever part returned, the if puts the cursor at its end.
    for (size_t i = branch; i < f_.steps.size(); ++i)
        if (f_.steps[i].kind == StepKind::Return) f_.steps[i].cursorAt = (int)(end - base_);
    p = end;
    return true;
}

// switch (selector) { case value: ... default: ... }, as StatementSwitch runs
// it: the labels are tried in the order the scan meets them (a case's value
// is read only when the scan gets there), then the statements run from the
// label that matched, over later labels, up to a "break" that follows a
// statement, a break statement, or the end of the body.
bool Compiler::Switch(char*& p, int level, int catches, int blocks) {
    const size_t first = f_.steps.size();
    char* q = p + 6;
    SkipBlanks(q);
    SkipOne(q);  // the '('
    const int selector = Sentence(q, ")", 0, ')', level, catches);
    if (selector < 0) return false;
    SkipBlanks(q);
    Touch(q + 2);
    if (*q != '{') return false;
    char* const end = ruqo_SkipSentence(q, 0);
    Touch(end + 2);
    if (!Skipped(q, end)) return false;
    SkipOne(q);
    auto pastLabel = [&](char*& c) {
        char* colon = strchr(c, ':');
        c = colon ? colon + 1 : c + strlen(c);
        SkipBlanks(c);
        Touch(c + 2);
    };
    auto atLabel = [](const char* c) { return StartsWithNoCase(c, "case") || StartsWithNoCase(c, "default"); };
    auto atEnd = [&](const char* c) { return *c == '}' || !*c || c >= end; };

    // The scan: each label in turn, with the position its statements start at.
    Emit(StepKind::Select, selector);
    std::vector<std::pair<size_t, char*>> entries;  // (step to point at the statements, where they start)
    char* c = q;
    char* rowStart = nullptr;
    bool inRow = false;
    for (;;) {
        SkipBlanks(c);
        Touch(c + 2);
        if (atEnd(c)) break;
        if (StartsWithNoCase(c, "default")) {
            pastLabel(c);
            entries.push_back({f_.steps.size(), c});
            Emit(StepKind::Jump);
            break;  // every later label is unreachable by the scan
        }
        if (!StartsWithNoCase(c, "case")) return false;  // the text reports it
        c += 4;
        const int value = Sentence(c, ":", 'N', ':', level, catches);
        if (value < 0) return false;
        SkipBlanks(c);
        Touch(c + 2);
        // Labels in a row share the statements after the last of them,
        // found once for the whole row (the next label starts where this
        // one's colon ends, so its statements are the same).
        if (!inRow) {
            rowStart = c;
            while (StartsWithNoCase(rowStart, "case")) pastLabel(rowStart);
        }
        entries.push_back({f_.steps.size(), rowStart});
        Emit(StepKind::Case, value);
        inRow = StartsWithNoCase(c, "case");
        if (inRow) continue;  // the next label is tried at once
        // Statements of a label that did not match are passed over.
        for (;;) {
            SkipBlanks(c);
            Touch(c + 2);
            if (atEnd(c) || atLabel(c)) break;
            char* const from = c;
            c = SkipSentenceMovingOn(c);
            if (!Skipped(from, c)) return false;
        }
    }
    const size_t noMatch = f_.steps.size();
    Emit(StepKind::Jump);

    // The statements, from the first label's on; every label's start must be
    // one of the places this walk stops at.
    std::vector<size_t> toEnd{noMatch};
    std::vector<std::pair<char*, size_t>> stops;  // (position, first step there)
    c = q;
    for (;;) {
        SkipBlanks(c);
        Touch(c + 2);
        stops.push_back({c, f_.steps.size()});
        if (atEnd(c)) break;
        if (atLabel(c)) {
            pastLabel(c);
            continue;
        }
        // ExecuteStatementAt(c, ';'): a sentence of its own, closed by ';'.
        if (*c == '?' || *c == '$') return false;
        Mark(c);
        if (level + 1 > kMaxLevels) return false;
        Note(level + 1, catches + 1);
        Emit(StepKind::Reset);
        char word[96];
        if (StartsWithNoCase(c, "break") && ScanWordChars(c, word) == 5) {
            // The break statement: the sentence has no value; the switch ends.
            c += 5;
            toEnd.push_back(f_.steps.size());
            Emit(StepKind::Jump);
            SkipBlanks(c);
            if (*c == ';') SkipOne(c);
            continue;
        }
        if (*c == '{') {
            if (!Block(c, level + 1, catches + 1, blocks)) return false;
        } else if (*c != ';' && *c != 0) {
            if (!Statement(c, ")", level + 1, catches + 1, blocks)) return false;
        }
        if (*c == ';') SkipOne(c);
        SkipBlanks(c);
        Touch(c + 2);
        if (StartsWithNoCase(c, "break")) {
            // The run ends here; the walk goes on past the word for the
            // labels after it (a longer word starting so never lines up
            // with them, and the form is refused).
            toEnd.push_back(f_.steps.size());
            Emit(StepKind::Jump);
            c += 5;
            SkipBlanks(c);
            if (*c == ';') SkipOne(c);
        }
    }
    const int after = (int)f_.steps.size();
    // The walk only moves on, so its stops are in text order: each label's
    // start is looked up by halving (a body of many labels stays linear-ish).
    for (const auto& entry : entries) {
        const auto stop = std::lower_bound(stops.begin(), stops.end(), entry.second,
                                           [](const std::pair<char*, size_t>& s, const char* at) { return s.first < at; });
        if (stop == stops.end() || stop->first != entry.second) return false;
        f_.steps[entry.first].target = (int)stop->second;
    }
    for (size_t jump : toEnd) f_.steps[jump].target = after;
    for (size_t i = first; i < f_.steps.size(); ++i)
        if (f_.steps[i].kind == StepKind::Return) return false;  // a return in a switch is read as text
    Emit(StepKind::Free);
    p = end;
    return true;
}

// One part of an if, as ExecuteStatementAt runs it: its statement start,
// then a sentence of its own.
bool Compiler::Branch(char* p, int level, int catches, int blocks, bool gotoOk) {
    SkipBlanks(p);
    Touch(p + 2);
    if (*p == '?' || *p == '$') return false;
    Mark(p);
    ++level;
    ++catches;
    if (level > kMaxLevels) return false;
    Note(level, catches);
    Emit(StepKind::Reset);
    if (*p == '{') return Block(p, level, catches, blocks);
    if (*p == 0 || *p == ';') return true;
    gotoOk_ = gotoOk;
    return Statement(p, ")", level, catches, blocks);
}

// The statements of a list (terminators starting with '}'), as RunStatements
// runs them.
// When the list is the sentence itself and a statement after the first is
// refused, the statements before it make the form and the text takes over
// where the refused one starts (at the top of RunStatements' loop).
bool Compiler::List(char*& p, const char* terminators, int level, int catches, int blocks) {
    const bool root = rootList_;
    rootList_ = false;
    const bool cutOk = cutList_;
    cutList_ = false;
    bool compiled = false;
    for (;;) {
        SkipBlanks(p);
        Touch(p + 2);
        const char c = *p;
        const Checkpoint before = Save();
        auto handOver = [&]() {
            if (cutOk) {
                Restore(before);
                if (!f_.returns) return false;
                Emit(StepKind::GiveUp);
                cut_ = true;
                return true;
            }
            if (!root || !compiled) return false;
            Restore(before);
            f_.resume = (int)(p - base_);
            return true;
        };
        if (c == '?' || c == '$' || c == 0) return handOver();
        const size_t from = f_.steps.size();
        char* q = p;
        if (c == '{') {
            if (!Block(q, level, catches, blocks) || !ReturnsThroughList(from, false)) return handOver();
            p = q;
            compiled = true;
            continue;
        }
        if (c == ';') {
            ++p;
            continue;
        }
        if (c == '}') return true;
        gotoOk_ = root;
        if (!Statement(q, terminators, level, catches, blocks) || !ReturnsThroughList(from, true) ||
            !GotosThroughList(from, q))
            return handOver();
        p = q;
        compiled = true;
        if (*p == '}') return true;
        if (*p == ';') ++p;
        SkipBlanks(p);  // the next statement's start
        Touch(p + 2);
        if (*p == '?' || *p == '$') return false;
        Mark(p);
    }
}

// A { } block, as ExecuteBlock runs it: a guard, then a list sentence closed
// by '}'.
bool Compiler::Block(char*& p, int level, int catches, int blocks) {
    const bool rootBlock = rootBlock_;
    rootBlock_ = false;
    const size_t from = f_.steps.size();
    ++blocks;
    f_.blocks = std::max(f_.blocks, blocks);
    level += 2;  // the block's guard and the list sentence's
    ++catches;
    if (level > kMaxLevels) return false;
    Note(level, catches);
    Emit(StepKind::Block, -1, blocks);
    Emit(StepKind::Reset);
    ++p;
    cutList_ = rootBlock;
    if (!List(p, "}", level, catches, blocks)) return false;
    // A return that left the cursor at a '}' has the list's closer passed.
    for (size_t i = from; i < f_.steps.size(); ++i) {
        Step& step = f_.steps[i];
        if (step.kind != StepKind::Return || step.cursorAt == kAtTextEnd || base_[step.cursorAt] != '}') continue;
        char* x = const_cast<char*>(base_) + step.cursorAt;
        SkipOne(x);
        Touch(x + 2);
        step.cursorAt = (int)(x - base_);
    }
    if (cut_) return true;  // the form ends where the text's part starts
    SkipOne(p);  // the closing '}'
    Touch(p + 2);
    return true;
}

// return [value], as StatementReturn runs it: the value is a sentence of its
// own; the cursor then goes to the text's end, where every construct around
// it stops (an if puts it back at the if's end).
bool Compiler::Return(char*& p, int level, int catches) {
    p += 6;
    if ((p[0] == '%' && p[1] == '[') || (p[0] == ':' && p[1] == ':')) return false;
    SkipBlanks(p);
    Touch(p + 2);
    int node = -1;
    if (*p != ';' && *p) {
        node = Sentence(p, ")", 0, 0, level, catches);
        if (node < 0) return false;
    }
    f_.steps.push_back({StepKind::Return, node, (int)(p - base_)});
    f_.returns = true;
    return true;
}

// What a list does with the cursor a return in its statement `from` on left
// behind, as RunStatements goes on with a return pending: after a statement
// (not a block) it passes one ';' and takes the next statement start; then it
// passes further ';' and stops. A block there would be entered: refused.
bool Compiler::ReturnsThroughList(size_t from, bool statement) {
    for (size_t i = from; i < f_.steps.size(); ++i) {
        Step& step = f_.steps[i];
        if (step.kind != StepKind::Return) continue;
        if (step.cursorAt == kAtTextEnd) {
            if (statement) step.markAt = kAtTextEnd;
            continue;
        }
        char* x = const_cast<char*>(base_) + step.cursorAt;
        Touch(x + 2);
        if (statement && *x != '}') {
            if (*x == ';') ++x;
            SkipBlanks(x);
            Touch(x + 2);
            if (*x == '?' || *x == '$') return false;
            step.markAt = (int)(x - base_);
        }
        for (;;) {
            SkipBlanks(x);
            Touch(x + 2);
            if (*x == '?' || *x == '$' || *x == '{') return false;
            if (*x != ';') break;
            ++x;
        }
        step.cursorAt = (int)(x - base_);
    }
    return true;
}

// goto name, as StatementGoto runs it (p at the word): the name runs to a
// blank, ';' or '('. A level goto (a number), an empty name or a value in
// brackets after it is read as text. The statement is done: the operator
// loop passes nothing after it.
bool Compiler::Goto(char*& p) {
    char* at = p + 4;
    if ((at[0] == '%' && at[1] == '[') || (at[0] == ':' && at[1] == ':')) return false;
    char* q = at;
    while (IsBlank(*q)) ++q;
    char* target = q;
    while (*q && (unsigned char)*q > 32 && *q != ';' && *q != '(') ++q;
    Touch(q + 2);
    if (q == target || target[0] == '-' || IsDigitChar(target[0]) || q - target > 200) return false;
    char* after = q;
    SkipBlanks(after);
    Touch(after + 2);
    if (*after == '(') return false;
    CString label = "#";
    label += CString(target, (int)(q - target));
    label += ':';
    f_.labels.push_back(label);
    f_.steps.push_back({StepKind::Goto, -1, (int)f_.labels.size() - 1, 0, (int)(at - base_)});
    p = q;
    return true;
}

// A label statement "#name:" met without a goto pending: passed over, with
// no value.
bool Compiler::Label(char*& p) {
    char word[96];
    const int n = ScanWordChars(p, word);
    char* q = p + n;
    Touch(q + 2);
    if (n < 2 || n >= 80 || q[0] != ':' || q[1] == ':') return false;
    for (int i = 1; i < n; ++i)
        if (!IsAsciiLetter(word[i]) && !IsDigitChar(word[i])) return false;
    Emit(StepKind::Reset);
    p = q + 1;
    return true;
}

// Where the list leaves the cursor and the statement start after a goto in
// its statement `from` on, which ended at end: as after any statement, one
// ';' passed and the next statement's start (at a '}' the list ends there).
// The text's list then searches the label from there.
bool Compiler::GotosThroughList(size_t from, char* end) {
    for (size_t i = from; i < f_.steps.size(); ++i) {
        Step& step = f_.steps[i];
        if (step.kind != StepKind::Goto) continue;
        char* x = end;
        Touch(x + 2);
        if (*x == '}') {
            step.cursorAt = (int)(x - base_);
            continue;
        }
        if (*x == ';') ++x;
        SkipBlanks(x);
        Touch(x + 2);
        if (*x == '?' || *x == '$') return false;
        step.cursorAt = step.markAt = (int)(x - base_);
    }
    return true;
}

int Compiler::Operand(char*& p, int level, int catches) {
    const char c = *p;
    switch (c) {
    case '(':
        SkipOne(p);
        return Sentence(p, ")", 0, ')', level, catches);
    case '~':
        ++p;
        return Unary(Op::Tilde, Sentence(p, kTildeSet, 'N', 0, level, catches));
    case '!':
        ++p;
        return Unary(Op::Not, Sentence(p, kNotSet, 'N', 0, level, catches));
    case '\'':
    case '"':
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
    if (op == '%') {
        const int right = Sentence(p, kSetD, 0, 0, level, catches);
        return Dividing(Op::Remainder, left, right, p);
    }
    if (!strchr("+-*/<>=!$&|^?", op)) return -1;
    if (OperatorChar(op) && OperatorChar(*p) && !(p[0] == '%' && p[1] == '[') && *p != '*') return -1;
    switch (op) {
    case '+': return Binary(Op::Add, left, Sentence(p, kSetA, 0, 0, level, catches));
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
        if (second && *p == '$') ++p;
        const int node = Binary(Op::Compare, left, Sentence(p, kSetF, 0, 0, level, catches));
        if (node < 0) return -1;
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
            if ((step.kind == StepKind::Assign || step.kind == StepKind::Increment) && step.slot == f_.appendSlot)
                return false;
        for (const Node& node : f_.nodes)
            if (node.op == Op::Read && node.slot == f_.appendSlot) return false;
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

// The body of a user function (p where ExecuteStatementAt puts the text's
// cursor), as a function form: it reads its parameters (by the last formal
// of each name) from the call's frame and every other name as the text's
// dynamic scope finds it from inside the call (the caller's visible
// variables, since the frame holds nothing else); it may assign its
// parameters, variables of its callers and variables of its own (a name
// found nowhere when it is first assigned, which the text would make in the
// call's frame and drop at its return). It meets no goto, no array and no
// string, and no block inside its body when it assigns (a variable made in
// an inner block would be dropped at that block's end); a zero divisor
// gives up.
bool Compiler::FunctionBody(char*& p, const std::vector<std::string>& formals) {
    if (!Root(p, ")", 0)) return false;
    bool stores = false;
    for (const Step& step : f_.steps) {
        if (step.kind == StepKind::AssignCell || step.kind == StepKind::Append || step.kind == StepKind::Goto)
            return false;
        if (step.kind == StepKind::Assign || step.kind == StepKind::Increment) stores = true;
    }
    if (!f_.labels.empty() || f_.readsCells || !f_.arrays.empty() || f_.appendSlot >= 0) return false;
    if (stores && f_.blocks > 1) return false;
    // Formals become frame reads and stores; the other names stay slots,
    // numbered anew.
    std::vector<int> formalOf(f_.slots.size(), -1), slotOf(f_.slots.size(), -1);
    std::vector<Slot> others;
    for (size_t i = 0; i < f_.slots.size(); ++i) {
        for (size_t j = 0; j < formals.size(); ++j)
            if (formals[j] == f_.slots[i].name) formalOf[i] = (int)j;
        if (formalOf[i] >= 0) continue;
        const std::string& name = f_.slots[i].name;
        // Names the text's assignment treats apart.
        if (strcasecmp(name.c_str(), "TableBufferName") == 0 || strcasecmp(name.c_str(), "PI") == 0 ||
            strcasecmp(name.c_str(), "true") == 0 || strcasecmp(name.c_str(), "false") == 0)
            return false;
        slotOf[i] = (int)others.size();
        others.push_back(f_.slots[i]);
    }
    if (others.size() > kMaxFrameLocals) return false;
    for (Node& node : f_.nodes) {
        node.raiseAt = kNoRaise;
        if (node.op == Op::Read) {
            const size_t slot = (size_t)node.slot;
            if (formalOf[slot] >= 0) {
                node.op = Op::Param;
                node.slot = formalOf[slot];
            } else {
                node.slot = slotOf[slot];
            }
        }
    }
    for (Step& step : f_.steps) {
        if (step.kind != StepKind::Assign && step.kind != StepKind::Increment) continue;
        const size_t slot = (size_t)step.slot;
        if (formalOf[slot] >= 0) {
            step.kind = step.kind == StepKind::Assign ? StepKind::AssignParam : StepKind::IncrementParam;
            step.slot = formalOf[slot];
        } else {
            step.slot = slotOf[slot];
        }
    }
    f_.slots = std::move(others);
    return true;
}

// ---- running ------------------------------------------------------------

// What a run of a form leaves: the value's type and number (when a step set
// one), the last statement start it passed, the deepest block it entered.
// The stores a compiled loop holds back while it runs pass after pass: in
// between, only the loop's own forms read those variables, and they read
// the numbers held here (as their texts read back). Each record's text is
// written once, when the loop hands over or ends.
class HeldStores {
public:
    struct Entry {
        QoLVarDefine* record;
        NumberText stored;
    };
    const Entry* Find(const QoLVarDefine* record) const {
        for (int i = 0; i < count_; ++i)
            if (entries_[i].record == record) return &entries_[i];
        return nullptr;
    }
    // False when there is no room left: the store is then made at once.
    bool Hold(QoLVarDefine* record, const NumberText& stored) {
        int i = 0;
        while (i < count_ && entries_[i].record != record) ++i;
        if (i == count_) {
            if (count_ == kEntries) return false;
            entries_[count_++].record = record;
        }
        entries_[i].stored = stored;
        return true;
    }
    int Count() const { return count_; }
    Entry& At(int i) { return entries_[i]; }
    HeldStores() {}  // the entries are written before they are read
    void Write() {
        const int n = count_;
        count_ = 0;
        for (int i = 0; i < n; ++i) entries_[i].stored.WriteTo(entries_[i].record);
    }

private:
    static constexpr int kEntries = 8;
    union {
        Entry entries_[kEntries];
    };
    int count_ = 0;
};

struct Outcome {
    char type = 'Z';
    bool valued = false;
    double value = 0;
    int mark = -1;
    int blocks = 0;
    bool freed = false;  // a switch ran: no goto, break, continue or return mark is left
    double selector = 0;
    bool raised = false;          // a zero divisor's error is the value (the caller is the catcher)
    const Step* wentTo = nullptr; // a goto ran: its step
    bool returned = false;        // a return ran: the cursor is at cursorAt (or the text's end)
    int returnAt = 0;             // where the return's value ended
    int cursorAt = kAtTextEnd;
    // A user function ran: the text's return inside it cleared the pending
    // goto and its call the control mark; markPtr is the statement start it
    // left, until a later one of the form's own.
    bool called = false;
    const char* markPtr = nullptr;
};

// The function form for the definition text of a user function, made once
// for the text (CompiledForms below); null when there can be none.
Form* FunctionFormFor(CQoLanguage* qo, const char* definition);

// What reading a number back from the text it is stored as gives (a
// parameter is created from its argument so).
double ReadBack(double value) {
    if (platform::IsExactWhole(value)) return value;
    char digits[32];
    const int n = platform::FormatNumber15(value, digits);
    digits[n] = 0;
    return platform::ParseDouble(digits);
}

class Runner {
public:
    Runner(CQoLanguage* qo, Form& form, int end, HeldStores* held)
        : qo_(qo), f_(form), end_(end), held_(held), levelBase_(qo->m_pRun->level),
          catchBase_(qo->m_pRun->catchDepth) {}
    int arrayEnd = -1;
    // The form runs inside the activation its root stands for (a list run
    // in part): that activation's level and catch depth are already taken.
    void InsideActivation() {
        --levelBase_;
        --catchBase_;
    }  // the visible end of the arrays, when the form uses any
    // A run that met a zero divisor the text would report: the division, and
    // the divisor (the text's value then).
    const Node* raised = nullptr;
    double divisor = 0;

    // False when the form gives up; nothing is stored then. Also false when
    // a division met a zero divisor (raised is then set): the stores of the
    // steps before it are made, as the text makes them before it gets there.
    bool Run(Outcome* out);

private:
    [[gnu::always_inline]] QoLVarDefine* Resolve(Slot& s) {
        if (s.pending) return s.record;
        const VarTables* tables = qo_->m_pVars;
        if (!(s.tables == tables && s.changes == tables->variables.Changes() && s.end == end_)) {
            s.record = FindVisibleVariable(qo_, s.name, end_);
            s.tables = tables;
            s.changes = tables->variables.Changes();
            s.end = end_;
        }
        QoLVarDefine* record = s.record;
        return record && record->m_cType != '&' ? record : nullptr;
    }
    VarArray* ResolveArray(ArraySlot& a) {
        const VarTables* tables = qo_->m_pVars;
        if (!(a.tables == tables && a.changes == tables->arrays.Changes() && a.end == arrayEnd)) {
            a.array = FindVisibleArray(qo_, a.name, arrayEnd);
            a.tables = tables;
            a.changes = tables->arrays.Changes();
            a.end = arrayEnd;
        }
        return a.array;
    }
    // The row a subscript's number names, as the text writes and reads it
    // back; -1 for none the form takes.
    static int Row(double number) { return ToInt32(number); }
    bool ReadCell(const Node& n, double* out) {
        double subscript;
        if (!Operand(n.left, &subscript)) return false;
        double columnNumber = 0;
        if (n.right >= 0 && !Operand(n.right, &columnNumber)) return false;
        const VarArray* array = ResolveArray(f_.arrays[(size_t)n.slot]);
        const int row = Row(subscript);
        const int column = Row(columnNumber);
        if (!array || row < 0 || column < 0) return false;
        // Null also beyond the rows or columns (the text reports them).
        const QoLVarDefine* record = array->CellIfCreated(row, column);
        if (!record || record->m_cType != 'N') return false;
        *out = RecordNumber(record);
        return true;
    }
    bool StoreCell(const Step& step, double* value) {
        double subscript;
        double columnNumber = 0;
        if (!Operand(step.target, &subscript) || (step.column >= 0 && !Operand(step.column, &columnNumber)) ||
            !Operand(step.node, value) || std::isinf(*value))
            return false;
        VarArray* array = ResolveArray(f_.arrays[(size_t)step.slot]);
        const int row = Row(subscript);
        const int column = Row(columnNumber);
        if (!array || row < 0 || column < 0 || column > 254) return false;
        // Growth only well below the store's cell limit (rows of at most 255
        // columns), so growing can fail only where memory does.
        if ((row >= array->Rows() || column >= array->Columns()) && std::max(row, array->Rows()) >= 200000)
            return false;
        if (const QoLVarDefine* record = array->CellIfCreated(row, column);
            record && (record->m_cType == '&' || record->m_cType == 'P'))
            return false;
        if (f_.cellsPending == kMaxCellStores) return false;
        CellStore& c = f_.cellStores[f_.cellsPending++];
        c.array = array;
        c.row = row;
        c.column = column;
        c.stored.Set(*value);
        return true;
    }
    [[gnu::always_inline]] bool Read(Slot& s, double* out) {
        if (s.pending) {
            *out = s.stored.readBack;
            return true;
        }
        const QoLVarDefine* record = Resolve(s);
        if (!record) return locals_ && !s.record && ReadLocal(s, out);
        if (tx_) {
            if (const HeldStores::Entry* e = tx_->Find(record)) {
                *out = e->stored.readBack;
                return true;
            }
        }
        if (held_) {
            if (const HeldStores::Entry* e = held_->Find(record)) {
                *out = e->stored.readBack;
                return true;
            }
        }
        if (record->m_cType != 'N') return false;
        *out = RecordNumber(record);
        return true;
    }
    // The Append step: the variable must hold a string.
    __attribute__((noinline)) bool PendAppend(Slot& s, Outcome* out) {
        if (s.pending || f_.appendRecord) return false;
        QoLVarDefine* record = Resolve(s);
        // A number a loop holds back for it is what the text would meet.
        if (!record || record->m_cType != 'S' || (held_ && held_->Find(record)) || (tx_ && tx_->Find(record)))
            return false;
        f_.appendRecord = record;
        out->type = 'S';
        return true;
    }
    // Grows the pending variable's string by the form's text, where it is
    // when nothing else holds it (the value's own share is let go first: the
    // grown string becomes the value), else into a new string with room to
    // grow. The value's string is the grown one. False, with nothing
    // changed, when no memory can be had.
    __attribute__((noinline)) bool CommitAppend() {
        CString& text = f_.appendRecord->m_strDef;
        const std::string& more = f_.appendText;
        const int n = (int)more.size();
        if (n > INT32_MAX - text.GetLength()) return false;
        CString& value = qo_->m_strValue;
        const bool shared = value.c_str() == text.c_str();
        if (shared) value.Empty();
        if (!platform::AppendInPlace(text, more.data(), n)) {
            try {
                CString sum;
                platform::ReserveGrowing(sum, text.GetLength() + n);
                sum += text;
                sum.Append(more.data(), n);
                text = sum;
            } catch (const std::exception&) {  // bad_alloc, length_error
                if (shared) value = text;
                return false;
            }
        }
        value = text;
        return true;
    }
    // A zero divisor: the form reports it as the text does where it can
    // leave the cursor as the text does and an activation outside it
    // catches the error; else it gives up.
    __attribute__((noinline)) bool Raise(const Node& n, double r) {
        if (n.raiseAt != kNoRaise && qo_->m_pRun->catchDepth > 0) {
            raised = &n;
            divisor = r;
        }
        return false;
    }
    // A store of number into the variable of slot s, record (null: a
    // variable the function form's call would make in its frame). Pended in
    // the slot, or among the stores of the sentence's run when it makes
    // calls (whose bodies read and store the same variables); false when
    // they have no room left.
    bool Store(Slot& s, QoLVarDefine* record, double number) {
        if (!record) {
            const size_t i = (size_t)(&s - f_.slots.data());
            locals_[i] = ReadBack(number);
            localSet_ |= 1u << i;
            return true;
        }
        if (tx_) {
            NumberText stored;
            stored.Set(number);
            return tx_->Hold(record, stored);
        }
        s.record = record;
        s.stored.Set(number);
        s.pending = true;
        return true;
    }
    // A variable of a function form's own, once it has been assigned.
    bool ReadLocal(const Slot& s, double* out) const {
        const size_t i = (size_t)(&s - f_.slots.data());
        if (!(localSet_ & (1u << i))) return false;
        *out = locals_[i];
        return true;
    }
    bool Eval(int index, double* out);
    // An operand: numbers and variables read in place, the rest evaluated.
    [[gnu::always_inline]] bool Operand(int index, double* out) {
        const Node& n = f_.nodes[(size_t)index];
        if (n.op == Op::Number) {
            *out = n.value;
            return true;
        }
        if (n.op == Op::Read) return Read(f_.slots[(size_t)n.slot], out);
        if (n.op == Op::Param) {
            *out = frame_[n.slot];
            return true;
        }
        return Eval(index, out);
    }
    QoLVarDefine* ResolveCall(CallSite& site);
    bool Call(CallSite& site, double* out);

    CQoLanguage* qo_;
    Form& f_;
    int end_;
    HeldStores* held_;  // a loop's held stores, or null: stores are made when the form has run
    // The text's level and catch depth the form's relative ones start from.
    int levelBase_;
    int catchBase_;
    double* frame_ = nullptr;   // a function form's parameters
    double* locals_ = nullptr;  // a function form's own variables, by slot
    uint32_t localSet_ = 0;     // which of them the call has assigned
    // The stores of a run that makes calls, made when the whole sentence has
    // run (the calls' own stores go there too).
    HeldStores* tx_ = nullptr;
    Outcome* out_ = nullptr;  // the run's outcome, for the calls made
};

// The definition a call finds as CallFunction finds it, or null when the
// text would not call a plain user function: the word must name no native
// function value (nor a link), and word() a function. Remembered like a
// slot's lookup: a form's run changes no table.
QoLVarDefine* Runner::ResolveCall(CallSite& site) {
    const VarTables* tables = qo_->m_pVars;
    if (!(site.tables == tables && site.changes == tables->variables.Changes() && site.end == end_)) {
        const QoLVarDefine* variable = FindVisibleVariable(qo_, site.word, end_);
        QoLVarDefine* definition = nullptr;
        if (!variable || (variable->m_cType != 'P' && variable->m_cType != '&')) {
            definition = FindVisibleVariable(qo_, site.function, end_);
            if (definition && definition->m_cType == '&') definition = nullptr;
        }
        site.definition = definition;
        site.tables = tables;
        site.changes = tables->variables.Changes();
        site.end = end_;
    }
    QoLVarDefine* definition = site.definition;
    return definition && definition->m_cType == 'F' ? definition : nullptr;
}

// A call of a user function whose body is a function form: its parameters
// are the arguments as the text stores and reads them back, the body runs
// as a form and must return a number. It gives up wherever the text's call
// could do more than that: a built-in or an extension taking the word, the
// arguments not matching the formals one for one, an argument that is no
// finite number, the nesting limits, the debugger or a spent step budget.
__attribute__((noinline)) bool Runner::Call(CallSite& site, double* out) {
    const QoLVarDefine* definition = ResolveCall(site);
    if (!definition) return false;
    const char* text = definition->m_strDef.c_str();
    Form* callee = site.callee;
    if (!(site.text == text && callee->usable && callee->Matches(text))) {
        // Nothing may leave a run half done (its pending stores would stay
        // marked): a compilation that finds no memory gives up.
        try {
            callee = FunctionFormFor(qo_, text);
        } catch (const std::exception&) {
            return false;
        }
        site.text = text;
        site.callee = callee;
    }
    if (!callee->usable || callee->formals != site.argCount) return false;
    // From inside a function form, the text would find the names of a
    // callee that reads more than its parameters among this call's
    // parameters and variables first, which are not in the table.
    if (frame_ && !callee->slots.empty()) return false;
    // The call's guard is two levels above the activation it is read in.
    const int levelBase = levelBase_ + site.level + 2;
    const int catchBase = catchBase_ + site.catches;
    if (levelBase + callee->levels >= 195 || catchBase + callee->catches >= 145) return false;
    if (!CompiledFormsAllowed(qo_)) return false;
    if (StepsCounted() && !TakeStep()) return false;
    double parameters[kMaxCallArgs];
    for (int i = 0; i < site.argCount; ++i) {
        double value;
        if (!Operand(site.args[i], &value) || !std::isfinite(value)) return false;
        parameters[i] = ReadBack(value);
    }
    double locals[kMaxFrameLocals];
    Runner body(qo_, *callee, end_, held_);
    body.levelBase_ = levelBase;
    body.catchBase_ = catchBase;
    body.frame_ = parameters;
    body.locals_ = locals;
    body.tx_ = tx_;
    Outcome o;
    if (!body.Run(&o) || !o.returned || o.type != 'N') return false;
    *out = o.value;
    // The statement start the body leaves, as its return leaves it.
    const char* mark = o.markPtr;
    if (!mark) {
        if (o.mark >= 0)
            mark = text + o.mark;
        else if (o.mark == kAtTextEnd)
            mark = text + callee->source.size() - 1;
        else
            mark = text + callee->bodyAt;
    }
    out_->markPtr = mark;
    out_->called = true;
    return true;
}

// A numeric built-in of x, as the dispatch computes it; false where the
// built-in reports an error (the text then reports it).
bool BuiltinValue(Builtin builtin, double x, double* out) {
    switch (builtin) {
    case Builtin::Abs: *out = std::fabs(x); return true;
    case Builtin::Int: *out = (double)ToInt32(x); return true;
    case Builtin::Sign: *out = x == 0 ? 0.0 : x < 0 ? -1.0 : 1.0; return true;
    case Builtin::Sqrt:
        if (!(x >= 0)) return false;  // "sqrt() 自变量为负"
        *out = std::sqrt(x);
        return true;
    case Builtin::Exp: *out = std::exp(x); return true;
    case Builtin::Sin: *out = std::sin(x); return true;
    case Builtin::Cos: *out = std::cos(x); return true;
    case Builtin::Tan: *out = std::tan(x); return true;
    case Builtin::Atan: *out = std::atan(x); return true;
    }
    return false;
}

bool Runner::Eval(int index, double* out) {
    const Node& n = f_.nodes[(size_t)index];
    double l, r;
    switch (n.op) {
    case Op::Number: *out = n.value; return true;
    case Op::Read: return Read(f_.slots[(size_t)n.slot], out);
    case Op::ReadCell: return ReadCell(n, out);
    case Op::Param: *out = frame_[n.slot]; return true;
    case Op::Call: return Call(f_.calls[(size_t)n.slot], out);
    case Op::And:
    case Op::Or: {
        if (!Operand(n.left, &l)) return false;
        const bool leftTrue = l != 0;
        if (n.op == Op::And ? !leftTrue : leftTrue) {
            *out = n.op == Op::And ? 0.0 : 1.0;
            return true;
        }
        if (!Operand(n.right, &r)) return false;
        *out = r != 0 ? 1.0 : 0.0;
        return true;
    }
    default: break;
    }
    if (!Operand(n.left, &l)) return false;
    switch (n.op) {
    case Op::Negate: *out = -l; return true;
    case Op::Not: *out = l == 0 ? 1.0 : 0.0; return true;
    case Op::Tilde: *out = (double)~ToInt32(l); return true;
    case Op::Builtin: return BuiltinValue((Builtin)n.slot, l, out);
    default: break;
    }
    if (!Operand(n.right, &r)) return false;
    switch (n.op) {
    case Op::Add: *out = l + r; return true;
    case Op::Subtract: *out = l - r; return true;
    case Op::Multiply: *out = l * r; return true;
    case Op::Power: *out = std::pow(l, r); return true;
    case Op::Divide:
        if (r == 0) return Raise(n, r);
        *out = l / r;
        return true;
    case Op::Remainder: {
        const int32_t divisor = ToInt32(r);
        if (divisor == 0) return Raise(n, r);
        *out = divisor == -1 ? 0.0 : (double)(ToInt32(l) % divisor);
        return true;
    }
    case Op::ShiftLeft:
    case Op::ShiftRight: {
        int32_t count = ToInt32(r);
        if (count < 0 || count > 32) return false;
        const int32_t value = ToInt32(l);
        count &= 31;
        *out = n.op == Op::ShiftLeft ? (double)(int32_t)((uint32_t)value << count) : (double)(value >> count);
        return true;
    }
    case Op::Compare: {
        int order = l < r ? -1 : l > r ? 1 : 0;
        if (l != l || r != r) order = 2;  // unordered
        bool result;
        switch (n.compare) {
        case '=': result = order == 0; break;
        case '!': result = order != 0; break;
        case '<':
            result = n.second == '=' ? (order == -1 || order == 0) : n.second == '>' ? order != 0 : order == -1;
            break;
        default: result = n.second == '=' ? (order == 1 || order == 0) : order == 1; break;
        }
        *out = result ? 1.0 : 0.0;
        return true;
    }
    case Op::BitAnd: *out = (double)(ToInt32(l) & ToInt32(r)); return true;
    case Op::BitOr: *out = (double)(ToInt32(l) | ToInt32(r)); return true;
    case Op::BitXor: *out = (double)(ToInt32(l) ^ ToInt32(r)); return true;
    default: return false;
    }
}

bool Runner::Run(Outcome* out) {
    out_ = out;
    bool ok = true;
    // A run that calls user functions gathers every store of its own and of
    // the calls' bodies in one place.
    HeldStores ownTx;
    if (!tx_ && !f_.calls.empty()) tx_ = &ownTx;
    const Step* steps = f_.steps.data();
    const size_t count = f_.steps.size();
    for (size_t pc = 0; pc < count && ok;) {
        const Step& step = steps[pc++];
        switch (step.kind) {
        case StepKind::Reset: out->type = 'Z'; break;
        case StepKind::Value:
            ok = Operand(step.node, &out->value);
            out->type = 'N';
            out->valued = true;
            break;
        case StepKind::Branch:
            ok = Operand(step.node, &out->value);
            out->type = 'N';
            out->valued = true;
            if (out->value == 0) pc = (size_t)step.target;
            break;
        case StepKind::Jump: pc = (size_t)step.target; break;
        case StepKind::Select:
            ok = Operand(step.node, &out->value);
            out->selector = out->value;
            out->type = 'N';
            out->valued = true;
            break;
        case StepKind::Case:
            ok = Operand(step.node, &out->value);
            out->type = 'N';
            out->valued = true;
            if (out->value == out->selector) pc = (size_t)step.target;
            break;
        case StepKind::Free: out->freed = true; break;
        case StepKind::Return:
            out->type = 'Z';
            if (step.node >= 0) {
                ok = Operand(step.node, &out->value);
                out->type = 'N';
                out->valued = true;
                if (!ok) break;
            }
            out->returned = true;
            out->returnAt = step.slot;
            out->cursorAt = step.cursorAt;
            if (step.markAt != kMarkUnchanged) {
                out->mark = step.markAt;
                out->markPtr = nullptr;
            }
            pc = count;  // nothing after a return runs
            break;
        case StepKind::Goto:
            out->type = 'Z';
            out->wentTo = &step;
            pc = count;  // the text searches the label
            break;
        case StepKind::GiveUp: ok = false; break;
        case StepKind::Mark:
            out->mark = step.slot;
            out->markPtr = nullptr;
            break;
        case StepKind::Block: out->blocks = std::max(out->blocks, step.slot); break;
        case StepKind::Assign: {
            Slot& s = f_.slots[(size_t)step.slot];
            ok = Operand(step.node, &out->value) && !std::isinf(out->value);
            if (!ok) break;
            QoLVarDefine* record = Resolve(s);
            // No variable (not a link either): a function form's own.
            ok = (record ? record->m_cType != 'P' : locals_ && !s.record) && Store(s, record, out->value);
            out->type = 'N';
            out->valued = true;
            break;
        }
        case StepKind::AssignParam:
            ok = Operand(step.node, &out->value) && !std::isinf(out->value);
            if (ok) frame_[step.slot] = ReadBack(out->value);
            out->type = 'N';
            out->valued = true;
            break;
        case StepKind::IncrementParam:
            out->value = frame_[step.slot] + step.delta;
            frame_[step.slot] = ReadBack(out->value);
            out->type = 'N';
            out->valued = true;
            break;
        case StepKind::Append: ok = PendAppend(f_.slots[(size_t)step.slot], out); break;
        case StepKind::AssignCell:
            ok = StoreCell(step, &out->value);
            out->type = 'N';
            out->valued = true;
            break;
        case StepKind::Increment: {
            Slot& s = f_.slots[(size_t)step.slot];
            double current;
            ok = Read(s, &current);
            if (!ok) break;
            out->value = current + step.delta;
            ok = Store(s, Resolve(s), out->value);
            out->type = 'N';
            out->valued = true;
            break;
        }
        }
    }
    // The value must have the type asked for; the text reports it otherwise.
    if (ok && f_.expectedType && f_.expectedType != out->type) ok = false;
    // What a run that meets a zero divisor stores: what ran before it.
    bool store = ok || raised;
    // The one store that may find no memory goes first.
    if (__builtin_expect(f_.appendRecord != nullptr, 0)) {
        if (store) store = CommitAppend();
        if (!store) raised = nullptr;
        f_.appendRecord = nullptr;
    }
    for (Slot& s : f_.slots) {
        if (!s.pending) continue;
        s.pending = false;
        if (store && !(held_ && held_->Hold(s.record, s.stored))) s.stored.WriteTo(s.record);
    }
    if (tx_ == &ownTx) {
        if (store) {
            // Into the loop's held stores, else now.
            for (int i = 0; i < ownTx.Count(); ++i) {
                HeldStores::Entry& e = ownTx.At(i);
                if (!(held_ && held_->Hold(e.record, e.stored))) e.stored.WriteTo(e.record);
            }
        }
        tx_ = nullptr;
    }
    if (f_.cellsPending) {
        const int n = f_.cellsPending;
        f_.cellsPending = 0;
        for (int i = 0; store && i < n; ++i) {
            CellStore& c = f_.cellStores[i];
            c.array->Grow((int64_t)c.row + 1, (int64_t)c.column + 1);
            c.stored.WriteTo(c.array->Cell(c.row, c.column));
        }
    }
    return ok;
}

}  // namespace

class CompiledForms {
public:
    explicit CompiledForms(QoLRunContext* run) : words(&run->callWordsAsked) {}
    Form* Find(char* position, const char* terminators, char expectedType, char closer) {
        // The forms found last, by position: the terminator sets are the
        // callers' constant texts, so the same address is the same set.
        Recent& recent = recent_[((uintptr_t)position ^ ((uintptr_t)terminators >> 4)) % kRecent];
        if (recent.position == position && recent.terminators == terminators && recent.expectedType == expectedType &&
            recent.closer == closer && recent.form->Matches(position)) {
            if (recent.form->Stale(words)) Compile(*recent.form, position);
            return recent.form;
        }
        Form* form = Lookup(position, terminators, expectedType, closer);
        recent = {position, terminators, expectedType, closer, form};
        return form;
    }

    // A list that runs in part, found by RunCompiledForm for the DoSentence
    // that runs it next (nothing is compiled in between).
    Form* prefix = nullptr;
    const char* prefixAt = nullptr;

    // Starts again when full (called before a run looks anything up, so no
    // form found for that run goes away under it).
    void TrimIfFull() {
        if (count_ < kMaxForms) return;
        prefix = nullptr;
        forms_.clear();
        functions_.clear();
        count_ = 0;
        for (Recent& recent : recent_) recent = Recent();
    }

    // The function form of a definition text, made once for the text at
    // that address while it holds the same bytes.
    Form* Function(const char* definition) {
        auto it = functions_.find(definition);
        if (it != functions_.end() && it->second->Matches(definition) && !it->second->Stale(words))
            return it->second.get();
        if (it == functions_.end()) {
            it = functions_.emplace(definition, std::make_unique<Form>()).first;
            ++count_;
        }
        Form& form = *it->second;
        CompileFunction(form, definition);
        return &form;
    }

    CallWords words;

private:
    Form* Lookup(char* position, const char* terminators, char expectedType, char closer) {
        auto it = forms_.find(position);
        Form* head = it == forms_.end() ? nullptr : it->second.get();
        Form* form = head;
        while (form && !(form->expectedType == expectedType && form->closer == closer &&
                         strcmp(form->terminators.c_str(), terminators) == 0))
            form = form->next.get();
        if (form && form->Matches(position) && !form->Stale(words)) return form;
        if (!form) {
            auto added = std::make_unique<Form>();
            form = added.get();
            form->terminators = terminators;
            form->expectedType = expectedType;
            form->closer = closer;
            if (head) {
                added->next = std::move(head->next);
                head->next = std::move(added);
            } else {
                forms_[position] = std::move(added);
            }
            ++count_;
        }
        Compile(*form, position);
        return form;
    }

    void Compile(Form& form, char* position) {
        form.Reset();
        form.wordGeneration = words.Generation();
        Compiler compiler(form, position, words);
        char* p = position;
        form.usable = compiler.Root(p, form.terminators.c_str(), form.expectedType);
        // Keep the bytes read, with two after the furthest look, up to and
        // including the text's end.
        const size_t want = (size_t)(compiler.Far() - position) + 2;
        size_t n = 0;
        while (n < want && position[n]) ++n;
        if (n < want) ++n;  // the zero
        form.source.assign(position, n);
    }

    // Formals as CallUserFunction reads them: plain names only, no default
    // values, no by-reference marks, then the body.
    void CompileFunction(Form& form, const char* definition) {
        form.Reset();
        form.wordGeneration = words.Generation();
        form.source.assign(definition, strlen(definition) + 1);
        const char* p = strchr(definition, '(');
        if (!p) return;
        std::vector<std::string> formals;
        ++p;
        std::string_view name;
        while (NextFormalName(p, &name)) {
            const std::string formal(name);
            if (formal.empty() || !IsAsciiLetter(formal[0]) || formal.size() >= 80 || *p == '=' ||
                formal.compare(0, 7, "system_") == 0 || formals.size() == kMaxCallArgs)
                return;
            for (char c : formal)
                if (!IsAsciiLetter(c) && !IsDigitChar(c)) return;
            formals.push_back(formal);
        }
        if (*p != ')') return;
        char* body = const_cast<char*>(p) + 1;
        SkipBlanks(body);
        if (*body == '?' || *body == '$') return;
        form.formals = (int)formals.size();
        form.bodyAt = (int)(body - definition);
        form.terminators = ")";
        Compiler compiler(form, definition, words);
        form.usable = compiler.FunctionBody(body, formals);
    }

    struct Recent {
        const char* position = nullptr;
        const char* terminators = nullptr;
        char expectedType = 0;
        char closer = 0;
        Form* form = nullptr;
    };
    static constexpr size_t kRecent = 256;

    std::unordered_map<const char*, std::unique_ptr<Form>> forms_;
    std::unordered_map<const char*, std::unique_ptr<Form>> functions_;
    size_t count_ = 0;
    Recent recent_[kRecent];
};

void CompiledFormsDeleter::operator()(CompiledForms* forms) const { delete forms; }

namespace {
Form* FunctionFormFor(CQoLanguage* qo, const char* definition) {
    return qo->m_pRun->compiledForms->Function(definition);
}
}  // namespace

void NoteAskedWord(CQoLanguage* qo, const char* word, bool userFunction) {
    if (CompiledForms* forms = qo->m_pRun->compiledForms.get())
        forms->words.Note(word, userFunction ? CallWords::kUser : CallWords::kOther);
}

namespace {
bool ReadCompileSwitch() {
    const char* value = std::getenv("QO_NOCOMPILE");
    const bool off = value != nullptr && value[0] != '\0' && std::strcmp(value, "0") != 0;
    return !off && !CachesOff();
}
}  // namespace

const bool g_compiledFormsOn = ReadCompileSwitch();

namespace {

// Whether forms may run on this interpreter now, beyond CompiledFormsAllowed.
bool ReadyForms(CQoLanguage* qo) {
    QoLRunContext* run = qo->m_pRun;
    if (run->level <= 0 || t_guardTop != run || qo->m_nScopeLevel < 0) return false;
    if (!run->compiledForms) run->compiledForms.reset(new CompiledForms(run));
    run->compiledForms->TrimIfFull();
    return true;
}

// The same, and the visible end of the variables, or -1.
int ReadyEnd(CQoLanguage* qo) { return ReadyForms(qo) ? VisibleVariableEnd(qo) : -1; }

bool Fits(const CQoLanguage* qo, const Form* form) {
    const QoLRunContext* run = qo->m_pRun;
    return form && form->usable && run->level + form->levels < 195 && run->catchDepth + form->catches < 145;
}

// A loop's part: a return there leaves the loop, which the text does.
bool FitsLoop(const CQoLanguage* qo, const Form* form) {
    return Fits(qo, form) && !form->returns && form->labels.empty();
}

// What a run that returned leaves: the cursor where the constructs around
// the return put it (the text's end unless an if put it back), the statement
// start, the return mark and the value.
__attribute__((noinline)) void LeaveReturned(CQoLanguage* qo, char* base, const Outcome& out, char*& cursor) {
    QoLRunContext* run = qo->m_pRun;
    char* const textEnd = base + out.returnAt + strlen(base + out.returnAt);
    if (out.markPtr)
        run->statementStart = const_cast<char*>(out.markPtr);
    else if (out.mark >= 0)
        run->statementStart = base + out.mark;
    else if (out.mark == kAtTextEnd)
        run->statementStart = textEnd;
    if (out.freed) qo->m_cControl = 0;
    run->gotoLabel.Empty();
    qo->m_cControl = 'r';
    if (out.valued) qo->m_dValue = out.value;
    qo->m_cType = out.type;
    cursor = out.cursorAt == kAtTextEnd ? textEnd : base + out.cursorAt;
}

// What a run that met a goto leaves: the label pending, as StatementGoto
// leaves it, and the cursor and the statement start where the list goes on
// searching it.
__attribute__((noinline)) void LeaveGoto(CQoLanguage* qo, const Form* form, char* base, const Outcome& out,
                                         char*& cursor) {
    QoLRunContext* run = qo->m_pRun;
    const Step& step = *out.wentTo;
    if (step.markAt != kMarkUnchanged)
        run->statementStart = base + step.markAt;
    else if (out.markPtr)
        run->statementStart = const_cast<char*>(out.markPtr);
    else if (out.mark >= 0)
        run->statementStart = base + out.mark;
    if (out.valued) qo->m_dValue = out.value;
    qo->m_cType = 'Z';
    run->gotoLabel = form->labels[(size_t)step.slot];
    run->gotoLevel = 0;
    run->gotoCursor = base + step.target;
    qo->m_cControl = 'g';
    cursor = base + step.cursorAt;
}

// What the blocks a run entered leave behind: the scope table entries they
// wrote and the tables cut back to where the outer level ends.
void LeaveBlocks(CQoLanguage* qo, int blocks) {
    auto& scopes = qo->m_scopeTable;
    const size_t level = (size_t)qo->m_nScopeLevel;
    for (size_t d = 1; d <= (size_t)blocks; ++d) {
        if (scopes.size() < level + d + 2) scopes.resize(level + d + 2);
        scopes[level + d + 1] = scopes[level + d];
    }
    const std::pair<int, int> start = scopes[level + 1];
    qo->m_pVars->CutBack(start.first, start.second);
}

// A run that met a zero divisor: the state the text has when it reports it
// (the stores before it made, the blocks entered, the statement start, the
// divisor as the value, the cursor where the sentences pass it), then the
// report and the unwind from the sentence the form stands for; no unwind
// when quiet (the caller's caller is the catcher).
[[gnu::noinline]] void RaiseZeroDivisor(CQoLanguage* qo, char*& cursor, const Outcome& out, const Node& division,
                                        double divisor, HeldStores* held, bool quiet) {
    if (out.blocks > 0) LeaveBlocks(qo, out.blocks);
    char* const base = cursor;
    if (out.mark >= 0) qo->m_pRun->statementStart = base + out.mark;
    if (out.freed) qo->m_cControl = 0;
    if (held) held->Write();
    cursor = base + (division.raiseAt >= 0 ? division.raiseAt : division.errorAt);
    qo->m_cType = 'N';
    qo->m_dValue = divisor;
    ReportFromSentence(qo, division.op == Op::Divide ? "被零除" : "被零整除", base + division.errorAt, base, !quiet);
}

// Runs form's steps for the sentence at cursor and leaves the state the text
// leaves at the form's end (before any closer): the cursor, the value, the
// statement start, the control mark and what blocks leave behind. False
// (nothing changed) when the form gives up.
// With quiet, a zero divisor's error becomes the value (out.raised) instead
// of unwinding.
[[gnu::always_inline]] inline bool RunSteps(CQoLanguage* qo, Form* form, char*& cursor, int end, Outcome& out, HeldStores* held = nullptr,
                     bool quiet = false, bool insideActivation = false) {
    if (StepsCounted() && !TakeStep()) return false;  // spent: the text's sentence reports it
    QoLRunContext* run = qo->m_pRun;
    Runner runner(qo, *form, end, held);
    if (insideActivation) runner.InsideActivation();
    if (!form->arrays.empty()) {
        runner.arrayEnd = VisibleArrayEnd(qo);
        if (runner.arrayEnd < 0) return false;
    }
    if (!runner.Run(&out)) {
        if (runner.raised) {
            RaiseZeroDivisor(qo, cursor, out, *runner.raised, runner.divisor, held, quiet);
            out.raised = true;
            return true;
        }
        // A block that runs only when it returns gives up by design: a
        // give-up costs about 580 instructions and a return saves about 820,
        // so it goes once it gives up half as often again as it returns.
        const uint32_t tolerated = form->cut ? form->runs + form->runs / 2 : form->runs;
        if (++form->fallbacks > kFallbacksTolerated && form->fallbacks > tolerated) form->usable = false;
        return false;
    }
    ++form->runs;
    if (out.blocks > 0) LeaveBlocks(qo, out.blocks);
    if (out.called) {
        run->gotoLabel.Empty();
        qo->m_cControl = 0;
    }
    char* base = cursor;
    if (out.returned) {
        LeaveReturned(qo, base, out, cursor);
        return true;
    }
    if (out.wentTo) {
        LeaveGoto(qo, form, base, out, cursor);
        return true;
    }
    if (out.markPtr)
        run->statementStart = const_cast<char*>(out.markPtr);
    else if (out.mark >= 0)
        run->statementStart = base + out.mark;
    if (out.freed) qo->m_cControl = 0;
    if (out.valued) qo->m_dValue = out.value;
    qo->m_cType = out.type;
    cursor = base + form->end;
    return true;
}

// Runs a whole form for the sentence at cursor and leaves what DoSentence
// leaves; false (nothing changed) when the form gives up.
bool RunForm(CQoLanguage* qo, Form* form, char*& cursor, char closer, int end) {
    Outcome out;
    QoLRunContext* run = qo->m_pRun;
    if (!RunSteps(qo, form, cursor, end, out, nullptr, run->catchDepth == run->quietCatchDepth)) return false;
    if (out.raised) return true;
    const short savedBracket = run->bracketDepth;
    if (closer == ')')
        qo->FunctionBracketTrace(cursor, ')');
    else if (closer && *cursor == closer)
        SkipOne(cursor);
    if (run->bracketDepth > savedBracket) run->bracketDepth = savedBracket;
    return true;
}

// A loop's part whose form waits for the text to call a word first: the
// loop is worth handing back once the text has run a pass.
bool AwaitsWords(const Form* form) { return form && !form->usable && (form->refusedWords & kRefusedUnknownWord); }

// The form of a loop's body: the statement ExecuteStatementAt runs, or null
// when its start holds a marker.
Form* BodyForm(CQoLanguage* qo, char*& body) {
    SkipBlanks(body);
    if (*body == '?' || *body == '$') return nullptr;
    return qo->m_pRun->compiledForms->Find(body, ")", 0, 0);
}

}  // namespace

FormRun RunCompiledForm(CQoLanguage* qo, char*& cursor, const char* terminators, char expectedType, char closer) {
    if (!ReadyForms(qo)) return FormRun::None;
    if (!terminators) terminators = ")";
    CompiledForms* forms = qo->m_pRun->compiledForms.get();
    Form* form = forms->Find(cursor, terminators, expectedType, closer);
    if (!Fits(qo, form)) return FormRun::None;
    if (form->resume >= 0) {
        forms->prefix = form;
        forms->prefixAt = cursor;
        return FormRun::Prefix;
    }
    const int end = VisibleVariableEnd(qo);
    if (end < 0) return FormRun::None;
    return RunForm(qo, form, cursor, closer, end) ? FormRun::Ran : FormRun::None;
}

PrefixEnd RunCompiledPrefix(CQoLanguage* qo, char*& cursor) {
    CompiledForms* forms = qo->m_pRun->compiledForms.get();
    Form* form = forms->prefix;
    forms->prefix = nullptr;
    if (!form || forms->prefixAt != cursor || !CompiledFormsAllowed(qo)) return PrefixEnd::GaveUp;
    const int end = VisibleVariableEnd(qo);
    Outcome out;
    if (end < 0 || !RunSteps(qo, form, cursor, end, out, nullptr, false, true)) return PrefixEnd::GaveUp;
    return out.returned ? PrefixEnd::Returned : PrefixEnd::Resume;
}

namespace {

// The passes of a compiled for loop, its stores held in held.
LoopPhase ForPasses(CQoLanguage* qo, char* condition, char* body, char* step, HeldStores& held, LoopPhase from,
                    bool* again) {
    const LoopPhase none = from == LoopPhase::Step ? LoopPhase::Step : LoopPhase::Condition;
    const int end = ReadyEnd(qo);
    if (end < 0) return none;
    CompiledForms* forms = qo->m_pRun->compiledForms.get();
    Form* conditionForm = forms->Find(condition, ")", 'N', 0);
    Form* bodyForm = BodyForm(qo, body);
    Form* stepForm = step ? forms->Find(step, ")", 0, 0) : nullptr;
    if (!FitsLoop(qo, conditionForm) || !FitsLoop(qo, bodyForm) || (step && !FitsLoop(qo, stepForm))) {
        *again = AwaitsWords(conditionForm) || AwaitsWords(bodyForm) || AwaitsWords(stepForm);
        return none;
    }
    *again = true;
    bool fromStep = from == LoopPhase::Step;
    for (;;) {
        // Checked once a pass: only the debugger, an interrupt or a budget
        // can change it meanwhile, and they are met at the next pass.
        if (!CompiledFormsAllowed(qo)) return fromStep ? LoopPhase::Step : LoopPhase::Condition;
        // The parts have no closer: their steps are the whole run.
        char* p;
        Outcome out;
        if (!fromStep) {
            p = condition;
            if (!RunSteps(qo, conditionForm, p, end, out, &held)) return LoopPhase::Condition;
            if (qo->m_dValue == 0) return LoopPhase::Done;
            qo->m_cControl = 0;
            qo->m_pRun->statementStart = body;
            p = body;
            out = Outcome();
            if (!RunSteps(qo, bodyForm, p, end, out, &held)) return LoopPhase::Body;
        }
        fromStep = false;
        p = step;
        out = Outcome();
        if (step && !RunSteps(qo, stepForm, p, end, out, &held)) return LoopPhase::Step;
    }
}

// The passes of a compiled while loop, from its body on.
LoopPhase WhilePasses(CQoLanguage* qo, char*& cursor, char* condition, char* body, HeldStores& held, bool* again) {
    const int end = ReadyEnd(qo);
    if (end < 0) return LoopPhase::Body;
    CompiledForms* forms = qo->m_pRun->compiledForms.get();
    Form* bodyForm = BodyForm(qo, body);
    Form* conditionForm = forms->Find(condition, ")", 'N', ')');
    if (!FitsLoop(qo, conditionForm) || !FitsLoop(qo, bodyForm)) {
        *again = AwaitsWords(conditionForm) || AwaitsWords(bodyForm);
        return LoopPhase::Body;
    }
    *again = true;
    QoLRunContext* run = qo->m_pRun;
    for (;;) {
        // Checked once a pass: only the debugger, an interrupt or a budget
        // can change it meanwhile, and they are met at the next pass.
        if (!CompiledFormsAllowed(qo)) return LoopPhase::Body;
        qo->m_cControl = 0;
        run->statementStart = body;
        char* p = body;
        Outcome out;
        if (!RunSteps(qo, bodyForm, p, end, out, &held)) return LoopPhase::Body;
        // The condition is read through the statement's cursor, as the text
        // reads it.
        cursor = condition;
        const short savedBracket = run->bracketDepth;
        qo->FunctionBracketTrace(cursor, '+');
        out = Outcome();
        if (!RunSteps(qo, conditionForm, cursor, end, out, &held)) {
            run->bracketDepth = savedBracket;
            return LoopPhase::Condition;
        }
        // The condition's closer, as RunForm passes it.
        const short closerBracket = run->bracketDepth;
        qo->FunctionBracketTrace(cursor, ')');
        if (run->bracketDepth > closerBracket) run->bracketDepth = closerBracket;
        if (qo->m_dValue == 0) return LoopPhase::Done;
    }
}

// Runs passes and writes the held stores whichever way they end.
template <typename Passes>
LoopPhase WithHeldStores(Passes passes) {
    HeldStores held;
    LoopPhase phase;
    try {
        phase = passes(held);
    } catch (...) {
        held.Write();
        throw;
    }
    held.Write();
    return phase;
}

}  // namespace

LoopPhase RunCompiledFor(CQoLanguage* qo, char* condition, char* body, char* step, LoopPhase from, bool* again) {
    *again = false;
    if (!condition || !CompiledFormsAllowed(qo)) return from == LoopPhase::Step ? LoopPhase::Step : LoopPhase::Condition;
    return WithHeldStores([&](HeldStores& held) { return ForPasses(qo, condition, body, step, held, from, again); });
}

LoopPhase RunCompiledWhile(CQoLanguage* qo, char*& cursor, char* condition, char* body, bool* again) {
    *again = false;
    if (!CompiledFormsAllowed(qo)) return LoopPhase::Body;
    return WithHeldStores([&](HeldStores& held) { return WhilePasses(qo, cursor, condition, body, held, again); });
}

}  // namespace qotool::engine
