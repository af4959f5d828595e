// Function forms: the body of a user function compiled as a form of its
// own, and a call of it run with a frame of numbers for its parameters and
// its own variables.
#include <cmath>
#include <exception>
#include <string>
#include <strings.h>
#include <vector>

#include "engine/compiled_form.h"
#include "engine/forms/compiler.h"
#include "engine/forms/runner.h"

namespace qotool::engine::forms {

// The body of a user function (p where ExecuteStatementAt puts the text's
// cursor), as a function form: it reads its parameters (by the last formal
// of each name) from the call's frame and every other name as the text's
// dynamic scope finds it from inside the call (the caller's visible
// variables, since the frame holds nothing else); it may assign its
// parameters, variables of its callers and variables of its own (a name
// found nowhere when it is first assigned, which the text would make in the
// call's frame and drop at its return). It meets no goto, no array, no
// string stored or made (strings read, cut, measured, compared and found
// are read in place), and no block inside its body when it assigns (a variable made in
// an inner block would be dropped at that block's end); a zero divisor
// gives up.
bool Compiler::FunctionBody(char*& p, const std::vector<std::string>& formals) {
    if (!Root(p, ")", 0)) return false;
    bool stores = false;
    for (const Step& step : f_.steps) {
        if (step.kind == StepKind::AssignCell || step.kind == StepKind::Append || step.kind == StepKind::Goto ||
            step.kind == StepKind::TextValue || step.kind == StepKind::AssignText)
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
        // A node that makes a string keeps it in the form, which a call
        // of the function from inside its own run would overwrite.
        if (node.op == Op::Concat || node.op == Op::Str) return false;
        node.raiseAt = kNoRaise;
        if (ReadsSlot(node.op)) {
            const size_t slot = (size_t)node.slot;
            if (node.op != Op::Read && formalOf[slot] >= 0) return false;  // a parameter holds a number
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
    // Names the call reads or stores are found below the visible end; the
    // text's call, whose frame starts at the table's end, would see entries
    // beyond it too (the parameters a call being bound has made so far).
    if (!callee->slots.empty() && end_ != qo_->m_pVars->variables.size()) return false;
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

}  // namespace qotool::engine::forms
