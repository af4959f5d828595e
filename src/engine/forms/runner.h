// The runner of compiled forms: runs a form's steps on copies of the values
// it reads and holds its stores until the whole sentence has run.
#ifndef QOTOOL_ENGINE_FORMS_RUNNER_H
#define QOTOOL_ENGINE_FORMS_RUNNER_H

#include <algorithm>
#include <cmath>
#include <memory>
#include <string>
#include <string_view>

#include "engine/executor.h"
#include "engine/forms/form.h"
#include "engine/number_memo.h"
#include "engine/step_budget.h"
#include "platform/number_text.h"
#include "platform/string_block.h"

namespace qotool::engine::forms {

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
    // A string stored into record after its number was held: the number
    // is not written.
    void Forget(const QoLVarDefine* record) {
        for (int i = 0; i < count_; ++i)
            if (entries_[i].record == record) {
                entries_[i] = entries_[--count_];
                return;
            }
    }
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
    bool texted = false;          // a string step gave the value (type S): the form's textValue
    bool returned = false;        // a return ran: the cursor is at cursorAt (or the text's end)
    int returnAt = 0;             // where the return's value ended
    int cursorAt = kAtTextEnd;
    // A user function ran: the text's return inside it cleared the pending
    // goto and its call the control mark; markPtr is the statement start it
    // left, until a later one of the form's own.
    bool called = false;
    const char* markPtr = nullptr;
};

// What the blocks a run entered leave behind (run.cpp).
void LeaveBlocks(CQoLanguage* qo, int blocks);

// The function form for the definition text of a user function, made once
// for the text (CompiledForms below); null when there can be none.
Form* FunctionFormFor(CQoLanguage* qo, const char* definition);

// The loop form of a for loop's condition, body and step forms (the step
// may be null: a while loop's), made once for them and kept in the condition's form; null
// when one of them holds what a loop form does not join (loop_form.cpp).
Form* LoopFormFor(Form* condition, Form* body, Form* step);

// What reading a number back from the text it is stored as gives (a
// parameter is created from its argument so).
inline double ReadBack(double value) {
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

    // Runs a loop form (LoopFormFor) pass after pass from its part `part`
    // (0 the condition, 1 the body, 2 the step), the parts' texts at bases:
    // each part runs as RunSteps runs its own form and leaves what it
    // leaves; its variable stores stay in the slots (read back from there
    // by the later parts and passes) and its cell stores are made once it
    // has run. A part that gives up first puts the slots back as they were
    // when it started and drops its cell stores. Returns the part the text
    // takes over at, kLoopDone once the condition has given 0, or
    // kLoopRaised when a part met a zero divisor (raisedPart and *out then
    // say where and what). The slots' numbers are written into the
    // variables by WriteSlots, which the caller calls however it ends.
    static constexpr int kLoopDone = 3;
    static constexpr int kLoopRaised = -1;
    int Loop(int part, char* const bases[3], Outcome* out);
    int raisedPart = 0;
    void WriteSlots();

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
        const int held = array->SmallWholeIfHeld(row, column);
        if (held >= 0) {
            *out = held;
            return true;
        }
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
        // Growth only within the store's cell limit, counting the run's other
        // stores into the array, so growing can fail only where memory does.
        if (row >= array->Rows() || column >= array->Columns()) {
            int64_t rows = (int64_t)row + 1, columns = (int64_t)column + 1;
            for (int i = 0; i < f_.cellsPending; ++i) {
                const CellStore& c = f_.cellStores[i];
                if (c.array != array) continue;
                rows = std::max(rows, (int64_t)c.row + 1);
                columns = std::max(columns, (int64_t)c.column + 1);
            }
            if (!array->GrowFits(rows, columns)) return false;
        }
        // A cell holding a number without a record keeps it so.
        QoLVarDefine* record = array->HasRecord(row, column) ? array->CellIfCreated(row, column) : nullptr;
        if (record && (record->m_cType == '&' || record->m_cType == 'P')) return false;
        if (f_.cellsPending == kMaxCellStores) return false;
        CellStore& c = f_.cellStores[f_.cellsPending++];
        c.array = array;
        c.record = record;
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
        if (s.textPending) return false;  // a string stored by this run
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
        if (loop_) {
            // Kept for the loop's later reads.
            s.record = const_cast<QoLVarDefine*>(record);
            s.stored.number = s.stored.readBack = *out;
            s.pending = s.clean = true;
        }
        return true;
    }
    // The string a variable holds, as the text would read it now; null when
    // it holds something else (a number the run or its loop stores counts).
    const CString* Text(Slot& s) {
        if (s.pending) return nullptr;
        if (s.textPending) return &s.storedText;
        const QoLVarDefine* record = Resolve(s);
        if (!record || record->m_cType != 'S' || (tx_ && tx_->Find(record)) || (held_ && held_->Find(record)))
            return nullptr;
        return &record->m_strDef;
    }
    // The string a text node gives (a view into a variable, the form's
    // texts or the node's own buffer, valid until the node runs again);
    // false where the text would meet something else or fail.
    bool EvalText(int index, std::string_view* out);
    // A string operand: variables and literals read in place, the rest
    // evaluated.
    [[gnu::always_inline]] bool TextLeaf(int index, std::string_view* out) {
        const Node& n = f_.nodes[(size_t)index];
        if (n.op == Op::Read) {
            const CString* text = Text(f_.slots[(size_t)n.slot]);
            if (!text) return false;
            *out = text->view();
            return true;
        }
        if (n.op == Op::Text) {
            *out = f_.texts[(size_t)n.slot];
            return true;
        }
        return EvalText(index, out);
    }
    // The same, with the pieces left, right and mid cut in place too.
    [[gnu::always_inline]] bool TextOperand(int index, std::string_view* out) {
        const Node& n = f_.nodes[(size_t)index];
        if (n.op >= Op::Left && n.op <= Op::MidText) return Piece(n, out);
        return TextLeaf(index, out);
    }
    // left(), right() or mid(), as the built-ins cut: the string first, as
    // the text reads it (a number there is its error, before any of the
    // arguments', a zero divisor), then the numbers; bytes counted.
    [[gnu::always_inline]] bool Piece(const Node& n, std::string_view* out) {
        std::string_view v;
        double a, b = 0;
        if (!TextLeaf(n.slot, &v) || !Operand(n.left, &a) || (n.right >= 0 && !Operand(n.right, &b))) return false;
        // Counts and starts are clipped here, so the views need no checks.
        const int count = ToInt32(a);
        const size_t size = v.size();
        size_t from = 0, length = 0;
        if (n.op == Op::MidText) {
            from = count < 0 ? 0 : (size_t)count;
            if (from < size) {
                length = size - from;
                const int most = ToInt32(b);
                if (n.right >= 0) length = std::min(length, (size_t)(most < 0 ? 0 : most));
            }
        } else if (count > 0) {
            length = std::min(size, (size_t)count);
            if (n.op == Op::Right) from = size - length;
        }
        *out = std::string_view(v.data() + (length ? from : 0), length);
        return true;
    }
    bool CompareText(const Node& n, double* out);
    bool TextValue(const Step& step, Outcome* out);
    void CommitText(Slot& s, bool store);
    bool NumberOfText(const Node& n, double* out);
    // (In the form: only a function form runs again inside its own run,
    // and a function form holds no node that makes a string.)
    std::string& Buffer(int index) {
        if (f_.buffers.size() < f_.nodes.size()) f_.buffers.resize(f_.nodes.size());
        return f_.buffers[(size_t)index];
    }
    // The Append step: the variable must hold a string.
    __attribute__((noinline)) bool PendAppend(Slot& s, int node, Outcome* out) {
        if (s.pending || s.textPending || f_.appendRecord) return false;
        QoLVarDefine* record = Resolve(s);
        // A number a loop holds back for it is what the text would meet.
        if (!record || record->m_cType != 'S' || (held_ && held_->Find(record)) || (tx_ && tx_->Find(record)))
            return false;
        if (!TextOperand(node, &f_.appendMore)) return false;
        f_.appendRecord = record;
        out->type = 'S';
        out->texted = false;
        return true;
    }
    // Grows the pending variable's string by its Append step's string, where it is
    // when nothing else holds it (the value's own share is let go first: the
    // grown string becomes the value), else into a new string with room to
    // grow. The value's string is the grown one. False, with nothing
    // changed, when no memory can be had.
    __attribute__((noinline)) bool CommitAppend() {
        CString& text = f_.appendRecord->m_strDef;
        const std::string_view more = f_.appendMore;
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
        if (loop_) Saving(s);
        s.textPending = false;
        s.record = record;
        s.stored.Set(number);
        s.pending = true;
        s.clean = false;
        return true;
    }
    // A part's first store into a slot keeps what it held before.
    void Saving(Slot& s) {
        const uint64_t bit = s.bit;
        if (dirty_ & bit) return;
        dirty_ |= bit;
        s.savedPending = s.pending;
        s.savedClean = s.clean;
        s.savedNumber = s.clean ? s.stored.readBack : s.stored.number;
    }
    bool Steps(size_t from, size_t to, Outcome* out);
    void MakeCellStores(bool store);
    void DropPart();
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
    bool loop_ = false;       // a loop form's runner (StartLoop)
    uint64_t dirty_ = 0;      // the slots the part under way has stored into
};

}  // namespace qotool::engine::forms

#endif
