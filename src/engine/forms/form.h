// The compiled sentence forms: the nodes and steps a form is made of, the
// form itself, and the rules every part of the compiler and the runner
// keeps.
//
// Compiled sentence forms: a per-interpreter side table of sentences already
// read once, keyed by where the sentence starts and how it was asked for
// (terminator set, expected type, closer). Each entry keeps a copy of the
// source bytes it was made from and is used only while the text there still
// holds exactly those bytes, so the interpreter behaves as if it read the
// text again.
//
// A form covers numbers: literals, plain variables holding numbers,
// arithmetic, comparisons, the logical and bit operators, one assignment or
// ++/-- per statement, blocks of such statements, if and switch, return
// (the cursor then goes where the text's return leaves it), label statements,
// and goto in the sentence's own list (the run ends with the label pending
// where the text's list searches it); the numeric built-ins of one number,
// max, min and limit (whose upper bound is read only when the text reads
// it); strings: variables holding strings, literals, joins, comparisons,
// len, left, right, mid, find, str and val (base 10), a string as a
// sentence's value or stored into a variable that is there already (not
// in a loop form, a function form or a sentence that calls), and one
// `name = name + string` per form, which grows the variable's string in
// place as the text does; and calls of
// user functions whose whole body is a form that reads only its parameters
// and stores nothing: such a function runs as a form of its own, its
// parameters the arguments as the text would store and read them back, with
// no variable records, so that a form making the call can still give up
// (the call leaves nothing behind but the statement start inside the
// function that the text's call leaves). A call compiles only once the text
// has called its word as a user function (no built-in takes it). A block that is
// the sentence itself may be a form up to a statement it does not cover, when
// a return before it ends the run; else that run gives up. A form works on
// copies of the values it reads and stores nothing until the whole sentence
// has run;
// whenever the text could behave differently (a variable that is missing,
// linked, not a number or a system_ one, an infinite number to store, a
// nesting close to the limits) it gives up before any store and the text is
// read as usual, so every message and its position are those of the text.
// A zero divisor is the one error a form reports itself, as the text would
// at that point: the stores before it made, the cursor where the text's
// sentences leave it, the same report and unwind. Where it cannot tell where
// the text leaves the cursor (inside a switch or a subscript), or no
// activation outside would catch the error, it gives up there too.
//
// The invariants, which every piece under forms/ keeps:
// - A form may run only while CompiledFormsAllowed holds and its source
//   bytes still match the text (Form::Matches); a form refused for a word
//   the text had not called yet is made again once the word is known.
// - A form gives up (returns with nothing changed) before its first store,
//   never after: every store of a run (variables, cells, a growing string,
//   the stores of the user functions it calls) is held until the whole
//   sentence has run, then made; a run that gives up drops them.
// - Wherever the text could behave differently (a value of another type, a
//   missing or linked variable, an error other than a zero divisor, a
//   limit), the form gives up there and the text reads the sentence.
// - The one error a form reports itself is a zero divisor, where it can
//   leave the cursor where the text leaves it; else it gives up.
// - A loop form (a for loop's condition, body and step joined, or a while
//   loop's condition and body, loop_form.cpp)
//   keeps these rules part by part: each part's stores are made once the
//   part has run (its variables stay in the slots, read back from there by
//   the later parts and passes, and are written when the loop hands over
//   or ends); a part that gives up undoes its own stores and the text takes
//   the loop over at that part, as it would have reached it.
#ifndef QOTOOL_ENGINE_FORMS_FORM_H
#define QOTOOL_ENGINE_FORMS_FORM_H

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "engine/var_store.h"
#include "engine/var_tables.h"
#include "platform/number_text.h"
#include "qotool/qolanguage.h"

namespace qotool::engine::forms {

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
    Max,     // max(): the number `right` when it is above the number `left`, else `left`
    Min,     // min(): the number `right` when it is below the number `left`, else `left`
    Limit,   // limit(x, lo, hi): x `left`, lo `right`, hi the node `slot` (read only when x >= lo)
    Length,  // len() of the string `left`
    Find,    // find() of the string `left` in the string `slot`, from the number `right` (-1: 0)
    Val,     // val() of the string `left`
    TextCompare,  // the string `left` compared with the string `right`, as C strings
    // Strings, which only text nodes take (EvalText); a Read is one too when a
    // text node takes it (the variable must hold a string).
    Text,    // the form's text `slot` (a literal)
    Concat,  // the string `left` followed by the string `right`
    // (Left, Right and MidText in this order: the pieces the runner cuts.)
    Left,    // left() of the string `slot`, the number `left` of bytes
    Right,   // right() of the string `slot`, the number `left` of bytes
    MidText, // mid() of the string `slot` from the number `left`, `right` bytes (-1: to the end)
    Str,     // str() of the number `left`
};
// Whether a node reads the variable of its slot.
inline bool ReadsSlot(Op op) { return op == Op::Read; }
// Whether a node gives a string (a Read may give either).
inline bool IsText(Op op) { return op >= Op::Text; }
// Whether a node's slot is another node (which a loop form moves with the rest).
inline bool SlotIsNode(Op op) {
    return op == Op::Limit || op == Op::Find || op == Op::Left || op == Op::Right || op == Op::MidText;
}

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
    TextValue,      // node's string is the value
    AssignText,     // node's string is stored into slot, and is the value
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
    // The number when it is a whole number from 0 to 255, else -1.
    int SmallWhole() const { return digitsLength < 0 && number >= 0 && number < 256 ? (int)number : -1; }
    void WriteTo(QoLVarDefine* record) {
        if (digitsLength < 0) {
            if (number >= 0 && number < 256 && StoreSmallWhole(record, (int)number)) return;
            digitsLength = platform::FormatWhole((int64_t)number, digits);
        }
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
    // In a loop form: the pending number is the record's own, read once
    // (nothing else can change it while the loop runs), and is not written.
    bool clean = false;
    NumberText stored;
    // In a loop form, from the first store of a part on: what the slot held
    // when the part started, for a part that gives up.
    uint64_t bit = 0;  // in a loop form: the slot's bit among the runner's stored slots
    bool savedPending = false;
    bool savedClean = false;
    // While a form runs: a string stored and not yet written (never in a
    // loop form or a function form, nor with calls).
    bool textPending = false;
    CString storedText;
    double savedNumber = 0;
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
    QoLVarDefine* record = nullptr;  // the cell's record when it was already made
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
    int appendFrom = 0;  // the nodes of the string it grows by
    int appendTo = 0;
    QoLVarDefine* appendRecord = nullptr;
    std::string_view appendMore;  // while it runs: that string
    std::vector<CallSite> calls;
    std::vector<std::string> texts;  // the literals of its Text nodes
    CString textValue;               // while it runs: the string a TextValue or AssignText step gave
    bool storesText = false;         // holds an AssignText step
    std::vector<std::string> buffers;  // the strings its Concat and Str nodes make, by node
    uint8_t refusedWords = 0;    // kRefused... bits
    uint32_t wordGeneration = 0; // the words known when it was compiled
    // A function form: the definition's parameter count and where its body
    // starts (the statement start the text's call sets first).
    int formals = 0;
    int bodyAt = 0;
    uint32_t runs = 0;
    uint32_t fallbacks = 0;
    uint32_t serial = 0;  // which compilation made it (forms are compiled again in place)
    // A for loop's condition form: the loop form made of it with the loop's
    // body and step forms (LoopFormFor).
    std::unique_ptr<Form> loop;
    // A loop form: its parts (condition, body, step; the step may be null),
    // their serials when it was made, and the steps each part runs.
    Form* parts[3] = {};
    uint32_t partSerials[3] = {};
    int partFrom[3] = {};
    int partTo[3] = {};

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
        appendFrom = appendTo = 0;
        storesText = false;
        buffers.clear();
        appendRecord = nullptr;
        calls.clear();
        texts.clear();
        refusedWords = 0;
        formals = bodyAt = 0;
        runs = fallbacks = 0;
        loop.reset();
    }
    bool Matches(const char* text) const { return strncmp(source.data(), text, source.size()) == 0; }
    // Refused for a call's word, and words have been learned since.
    bool Stale(const CallWords& words) const {
        return __builtin_expect(refusedWords != 0, 0) && !usable && wordGeneration != words.Generation();
    }
};

inline bool IsAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_'; }
inline bool OperatorChar(char c) { return c == '+' || c == '-' || c == '*' || c == '/' || c == '%'; }

}  // namespace qotool::engine::forms

#endif
