// Running a form's steps: the operations of its nodes, the steps in order,
// and the stores made once the whole sentence has run.
#include "engine/forms/runner.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <exception>
#include <string>
#include <string_view>

#include "engine/compiled_form.h"
#include "engine/executor.h"
#include "engine/step_budget.h"
#include "textutil/gbk_scan.h"

namespace qotool::engine::forms {

namespace {
// A string as C code sees it: up to its first zero byte.
inline std::string_view UpToZero(std::string_view v) {
    if (v.size() <= 16) {
        for (size_t i = 0; i < v.size(); ++i)
            if (!v[i]) return v.substr(0, i);
        return v;
    }
    const void* zero = memchr(v.data(), 0, v.size());
    return zero ? v.substr(0, (size_t)((const char*)zero - v.data())) : v;
}

// The order of two strings as C code compares them (strcmp: each ends at its
// first zero byte), -1, 0 or 1; short ones byte by byte in place.
inline int CompareAsC(std::string_view l, std::string_view r) {
    if (l.size() > 16 || r.size() > 16) {
        const int c = UpToZero(l).compare(UpToZero(r));
        return c < 0 ? -1 : c > 0 ? 1 : 0;
    }
    for (size_t i = 0;; ++i) {
        const unsigned a = i < l.size() ? (unsigned char)l[i] : 0u;
        const unsigned b = i < r.size() ? (unsigned char)r[i] : 0u;
        if (a != b) return a < b ? -1 : 1;
        if (!a) return 0;
    }
}

// Whether a comparison holds for order -1, 0 or 1 (2: unordered, which only
// "!=" and "<>" accept): compare is '=', '!', '<' or '>', second the
// operator's second character ('=' or '>' after '<', '=' after '>').
bool CompareOutcome(char compare, char second, int order) {
    switch (compare) {
    case '=': return order == 0;
    case '!': return order != 0;
    case '<': return second == '=' ? (order == -1 || order == 0) : second == '>' ? order != 0 : order == -1;
    default: return second == '=' ? (order == 1 || order == 0) : order == 1;
    }
}
}  // namespace

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

// The string a text node gives, as the built-ins and the operator loop make
// it (bytes counted, a string cut nowhere but where a built-in cuts it).
bool Runner::EvalText(int index, std::string_view* out) {
    const Node& n = f_.nodes[(size_t)index];
    switch (n.op) {
    case Op::Read: {
        const CString* text = Text(f_.slots[(size_t)n.slot]);
        if (!text) return false;
        *out = text->view();
        return true;
    }
    case Op::Text: *out = f_.texts[(size_t)n.slot]; return true;
    case Op::Concat: {
        std::string_view l, r;
        if (!TextLeaf(n.left, &l) || !TextLeaf(n.right, &r)) return false;
        if (l.size() + r.size() > (size_t)INT32_MAX) return false;  // the text's report
        try {
            std::string& sum = Buffer(index);
            sum.assign(l);
            sum.append(r);
            *out = sum;
        } catch (const std::exception&) {  // no memory: the text reports it
            return false;
        }
        return true;
    }
    case Op::Left:
    case Op::Right:
    case Op::MidText: return Piece(n, out);
    case Op::Str: {
        double x;
        if (!Operand(n.left, &x)) return false;
        char digits[72];
        const int length = platform::FormatNumber15(x, digits);
        try {
            std::string& text = Buffer(index);
            text.assign(digits, (size_t)length);
            *out = text;
        } catch (const std::exception&) {
            return false;
        }
        return true;
    }
    default: return false;
    }
}

// A string as the step's value, and with AssignText stored into the slot's
// variable when the run is over (as the text's store makes it into a record
// that holds no pointer, which must be there already). Not where the stores
// are held in numbers (a loop form's slots, the held stores of a run that
// calls).
__attribute__((noinline)) bool Runner::TextValue(const Step& step, Outcome* out) {
    std::string_view text;
    if (!TextOperand(step.node, &text)) return false;
    Slot* s = nullptr;
    QoLVarDefine* record = nullptr;
    if (step.kind == StepKind::AssignText) {
        s = &f_.slots[(size_t)step.slot];
        if (tx_ || loop_ || s->pending) return false;
        record = Resolve(*s);
        if (!record || record->m_cType == 'P') return false;
    }
    try {
        f_.textValue = CString(text.data(), (int)text.size());
    } catch (const std::exception&) {  // no memory: the text reports it
        return false;
    }
    if (s) {
        s->record = record;
        s->storedText = f_.textValue;
        s->textPending = true;
    }
    out->type = 'S';
    out->texted = true;
    return true;
}

void Runner::CommitText(Slot& s, bool store) {
    s.textPending = false;
    if (store) {
        // A number a loop held for it is not written after it.
        if (held_) held_->Forget(s.record);
        s.record->m_cType = 'S';
        s.record->m_strDef = s.storedText;
    }
    s.storedText.Empty();
}

// A string compared with a string, as the operator loop compares them: as
// C strings (each ends at its first zero byte), byte for byte.
bool Runner::CompareText(const Node& n, double* out) {
    std::string_view l, r;
    if (!TextOperand(n.left, &l) || !TextLeaf(n.right, &r)) return false;
    *out = CompareOutcome(n.compare, n.second, CompareAsC(l, r)) ? 1.0 : 0.0;
    return true;
}

// The numbers find and val give of strings.
bool Runner::NumberOfText(const Node& n, double* out) {
    std::string_view s;
    if (n.op == Op::Find) {
        std::string_view sub;
        double from = 0;
        if (!TextLeaf(n.slot, &s) || !TextLeaf(n.left, &sub) || (n.right >= 0 && !Operand(n.right, &from)))
            return false;
        const int start = ToInt32(from);
        const size_t hit = textutil::FindText(s, sub, (size_t)(start < 0 ? 0 : start));
        *out = hit == textutil::kNotFound ? -1.0 : (double)hit;
        return true;
    }
    if (!TextLeaf(n.left, &s)) return false;
    // val: the digits up to the first zero byte, as C text.
    s = UpToZero(s);
    char digits[64];
    if (s.size() < sizeof digits) {
        memcpy(digits, s.data(), s.size());
        digits[s.size()] = 0;
        *out = platform::ParseDouble(digits);
        return true;
    }
    try {
        *out = platform::ParseDouble(std::string(s).c_str());
    } catch (const std::exception&) {
        return false;
    }
    return true;
}

bool Runner::Eval(int index, double* out) {
    const Node& n = f_.nodes[(size_t)index];
    double l, r;
    switch (n.op) {
    // The commonest first, with one dispatch.
    case Op::Add:
        if (!Operand(n.left, &l) || !Operand(n.right, &r)) return false;
        *out = l + r;
        return true;
    case Op::Compare: {
        if (!Operand(n.left, &l) || !Operand(n.right, &r)) return false;
        int order = l < r ? -1 : l > r ? 1 : 0;
        if (l != l || r != r) order = 2;  // unordered
        *out = CompareOutcome(n.compare, n.second, order) ? 1.0 : 0.0;
        return true;
    }
    case Op::Number: *out = n.value; return true;
    case Op::Read: return Read(f_.slots[(size_t)n.slot], out);
    case Op::ReadCell: return ReadCell(n, out);
    case Op::Param: *out = frame_[n.slot]; return true;
    case Op::Call: return Call(f_.calls[(size_t)n.slot], out);
    case Op::Length: {
        const Node& of = f_.nodes[(size_t)n.left];
        if (of.op == Op::Read) {  // a variable's string, read in place
            const CString* text = Text(f_.slots[(size_t)of.slot]);
            if (!text) return false;
            *out = text->GetLength();
            return true;
        }
        std::string_view text;
        if (!TextOperand(n.left, &text)) return false;
        *out = (double)text.size();
        return true;
    }
    case Op::Find:
    case Op::Val: return NumberOfText(n, out);
    case Op::TextCompare: return CompareText(n, out);
    case Op::Limit: {
        // The upper bound is read only when x is not below the lower one.
        if (!Operand(n.left, &l) || !Operand(n.right, &r)) return false;
        if (l < r) {
            *out = r;
            return true;
        }
        double hi;
        if (!Operand(n.slot, &hi)) return false;
        *out = l > hi ? hi : l;
        return true;
    }
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
    case Op::BitAnd: *out = (double)(ToInt32(l) & ToInt32(r)); return true;
    case Op::BitOr: *out = (double)(ToInt32(l) | ToInt32(r)); return true;
    case Op::BitXor: *out = (double)(ToInt32(l) ^ ToInt32(r)); return true;
    case Op::Max: *out = r > l ? r : l; return true;
    case Op::Min: *out = r < l ? r : l; return true;
    default: return false;
    }
}

// Runs the steps from `from` until one moves past `to` (a return: to the
// end); false when one gives up.
[[gnu::always_inline]] inline bool Runner::Steps(size_t from, size_t count, Outcome* out) {
    bool ok = true;
    const Step* steps = f_.steps.data();
    for (size_t pc = from; pc < count && ok;) {
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
        case StepKind::Append: ok = PendAppend(f_.slots[(size_t)step.slot], step.node, out); break;
        case StepKind::TextValue:
        case StepKind::AssignText: ok = TextValue(step, out); break;
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
    return ok;
}

// The cell stores of a run or a part, made when store holds, else dropped.
void Runner::MakeCellStores(bool store) {
    const int n = f_.cellsPending;
    f_.cellsPending = 0;
    for (int i = 0; store && i < n; ++i) {
        CellStore& c = f_.cellStores[i];
        // A cell made already stays where it is (a form removes no rows
        // and records do not move when the array grows).
        if (!c.record) {
            c.array->Grow((int64_t)c.row + 1, (int64_t)c.column + 1);
            if (c.stored.SmallWhole() >= 0 && c.array->StoreSmallWholeCell(c.row, c.column, c.stored.SmallWhole()))
                continue;
            c.record = c.array->Cell(c.row, c.column);
        }
        c.stored.WriteTo(c.record);
    }
}

int Runner::Loop(int part, char* const bases[3], Outcome* out) {
    loop_ = true;
    QoLRunContext* run = qo_->m_pRun;
    const bool stepped = f_.parts[2] != nullptr;
    if (part == 2 && !stepped) part = 0;
    bool check = true;
    int blocksLeft = 0;
    out_ = out;
    for (;;) {
        // Checked once a pass: only the debugger, an interrupt or a budget
        // can change it meanwhile, and they are met at the next pass.
        if ((part == 0 || check) && !CompiledFormsAllowed(qo_)) return part;
        check = false;
        if (StepsCounted() && !TakeStep()) return part;  // spent: the text's sentence reports it
        Form* form = f_.parts[part];
        out->type = 'Z';
        out->valued = out->freed = false;
        out->mark = -1;
        out->blocks = 0;
        raised = nullptr;
        // The value must have the type asked for; the text reports it
        // otherwise.
        if (!Steps((size_t)f_.partFrom[part], (size_t)f_.partTo[part], out) ||
            (form->expectedType && form->expectedType != out->type)) {
            if (raised) {
                dirty_ = 0;
                if (f_.cellsPending) MakeCellStores(true);
                raisedPart = part;
                return kLoopRaised;
            }
            DropPart();
            if (++form->fallbacks > kFallbacksTolerated && form->fallbacks > form->runs) form->usable = false;
            return part;
        }
        dirty_ = 0;
        if (f_.cellsPending) MakeCellStores(true);
        ++form->runs;
        // What the part's form leaves, as RunSteps leaves it; the blocks
        // leave the same tables pass after pass.
        if (out->blocks > blocksLeft) {
            LeaveBlocks(qo_, out->blocks);
            blocksLeft = out->blocks;
        }
        if (out->mark >= 0) run->statementStart = bases[part] + out->mark;
        if (out->freed) qo_->m_cControl = 0;
        if (out->valued) qo_->m_dValue = out->value;
        qo_->m_cType = out->type;
        if (part == 0) {
            if (qo_->m_dValue == 0) return kLoopDone;
            qo_->m_cControl = 0;
            run->statementStart = bases[1];
            part = 1;
        } else {
            part = part == 1 && stepped ? 2 : 0;
        }
    }
}

void Runner::DropPart() {
    for (uint64_t d = dirty_; d; d &= d - 1) {
        Slot& s = f_.slots[(size_t)__builtin_ctzll(d)];
        s.pending = s.savedPending;
        s.clean = s.savedClean;
        if (s.clean)
            s.stored.number = s.stored.readBack = s.savedNumber;
        else if (s.pending)
            s.stored.Set(s.savedNumber);
    }
    dirty_ = 0;
    f_.cellsPending = 0;
}

void Runner::WriteSlots() {
    for (Slot& s : f_.slots) {
        if (s.pending && !s.clean) s.stored.WriteTo(s.record);
        s.pending = s.clean = false;
    }
}

bool Runner::Run(Outcome* out) {
    out_ = out;
    // A run that calls user functions gathers every store of its own and of
    // the calls' bodies in one place.
    HeldStores ownTx;
    if (!tx_ && !f_.calls.empty()) tx_ = &ownTx;
    bool ok = Steps(0, f_.steps.size(), out);
    // The value must have the type asked for; the text reports it otherwise.
    if (ok && f_.expectedType && f_.expectedType != out->type) ok = false;
    // What a run that meets a zero divisor stores: what ran before it.
    bool store = ok || raised;
    // The one store that may find no memory goes first.
    if (__builtin_expect(f_.appendRecord != nullptr, 0)) {
        // No memory for it: nothing is stored and the text reports it.
        if (store && !CommitAppend()) store = ok = false;
        if (!store) raised = nullptr;
        f_.appendRecord = nullptr;
        f_.appendMore = std::string_view();
    }
    if (__builtin_expect(f_.storesText, 0))
        for (Slot& s : f_.slots)
            if (s.textPending) CommitText(s, store);
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
    if (f_.cellsPending) MakeCellStores(store);
    return ok;
}

}  // namespace qotool::engine::forms
