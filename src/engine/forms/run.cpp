// Running compiled forms for the executor: a sentence, the first
// statements of a list, and the passes of for and while loops, leaving the
// state the text leaves (cursor, value, statement start, control mark,
// blocks, a zero divisor's report).
#include <algorithm>
#include <cstring>

#include "engine/compiled_form.h"
#include "engine/executor.h"
#include "engine/forms/runner.h"
#include "engine/forms/table.h"
#include "engine/scanner.h"
#include "engine/unwind.h"
#include "engine/var_store.h"

namespace qotool::engine {

using namespace forms;

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

}  // namespace

// What the blocks a run entered leave behind: the scope table entries they
// wrote and the tables cut back to where the outer level ends.
void forms::LeaveBlocks(CQoLanguage* qo, int blocks) {
    auto& scopes = qo->m_scopeTable;
    const size_t level = (size_t)qo->m_nScopeLevel;
    for (size_t d = 1; d <= (size_t)blocks; ++d) {
        if (scopes.size() < level + d + 2) scopes.resize(level + d + 2);
        scopes[level + d + 1] = scopes[level + d];
    }
    const std::pair<int, int> start = scopes[level + 1];
    qo->m_pVars->CutBack(start.first, start.second);
}

namespace {

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

// Makes runner ready for form: false when the form uses arrays and their
// visible end cannot be had.
bool PrepareRunner(CQoLanguage* qo, const Form* form, Runner& runner) {
    if (form->arrays.empty()) return true;
    runner.arrayEnd = VisibleArrayEnd(qo);
    return runner.arrayEnd >= 0;
}

// Runs form's steps for the sentence at cursor and leaves the state the text
// leaves at the form's end (before any closer): the cursor, the value, the
// statement start, the control mark and what blocks leave behind. False
// (nothing changed) when the form gives up.
// With quiet, a zero divisor's error becomes the value (out.raised) instead
// of unwinding.
// The runner is made ready for the form (PrepareRunner); a loop prepares
// one per part once and runs it pass after pass.
[[gnu::always_inline]] inline bool RunSteps(CQoLanguage* qo, Form* form, Runner& runner, char*& cursor, Outcome& out,
                                            HeldStores* held = nullptr, bool quiet = false) {
    if (StepsCounted() && !TakeStep()) return false;  // spent: the text's sentence reports it
    QoLRunContext* run = qo->m_pRun;
    runner.raised = nullptr;
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
    if (__builtin_expect(out.texted, 0)) {
        // A string step's value, unless a later step gave another.
        if (out.type == 'S' && !out.returned && !out.wentTo) qo->m_strValue = form->textValue;
        form->textValue.Empty();
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
    Runner runner(qo, *form, end, nullptr);
    if (!PrepareRunner(qo, form, runner) ||
        !RunSteps(qo, form, runner, cursor, out, nullptr, run->catchDepth == run->quietCatchDepth))
        return false;
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
    if (end < 0) return PrefixEnd::GaveUp;
    Runner runner(qo, *form, end, nullptr);
    runner.InsideActivation();
    if (!PrepareRunner(qo, form, runner) || !RunSteps(qo, form, runner, cursor, out)) return PrefixEnd::GaveUp;
    return out.returned ? PrefixEnd::Returned : PrefixEnd::Resume;
}

namespace {

// The passes of a loop whose parts make one loop form (a for loop's, or a
// while loop's without a step), from the condition, the body or the step.
LoopPhase LoopPasses(CQoLanguage* qo, Form* loop, char* const bases[3], LoopPhase from, int end) {
    static constexpr LoopPhase kPhases[3] = {LoopPhase::Condition, LoopPhase::Body, LoopPhase::Step};
    const int first = from == LoopPhase::Step ? 2 : from == LoopPhase::Body ? 1 : 0;
    Runner runner(qo, *loop, end, nullptr);
    if (!PrepareRunner(qo, loop, runner)) return kPhases[first];
    Outcome out;
    int part;
    try {
        part = runner.Loop(first, bases, &out);
        runner.WriteSlots();
        if (part == Runner::kLoopRaised) {
            char* cursor = bases[runner.raisedPart];
            RaiseZeroDivisor(qo, cursor, out, *runner.raised, runner.divisor, nullptr, false);
            return LoopPhase::Done;  // not reached: the report unwinds
        }
    } catch (...) {
        runner.WriteSlots();
        throw;
    }
    return part == Runner::kLoopDone ? LoopPhase::Done : kPhases[part];
}

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
    if (Form* loop = LoopFormFor(conditionForm, bodyForm, stepForm)) {
        char* const bases[3] = {condition, body, step};
        return LoopPasses(qo, loop, bases, from, end);
    }
    Runner conditionRunner(qo, *conditionForm, end, &held);
    Runner bodyRunner(qo, *bodyForm, end, &held);
    Runner stepRunner(qo, step ? *stepForm : *bodyForm, end, &held);
    if (!PrepareRunner(qo, conditionForm, conditionRunner) || !PrepareRunner(qo, bodyForm, bodyRunner) ||
        (step && !PrepareRunner(qo, stepForm, stepRunner)))
        return none;
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
            if (!RunSteps(qo, conditionForm, conditionRunner, p, out, &held)) return LoopPhase::Condition;
            if (qo->m_dValue == 0) return LoopPhase::Done;
            qo->m_cControl = 0;
            qo->m_pRun->statementStart = body;
            p = body;
            out = Outcome();
            if (!RunSteps(qo, bodyForm, bodyRunner, p, out, &held)) return LoopPhase::Body;
        }
        fromStep = false;
        p = step;
        out = Outcome();
        if (step && !RunSteps(qo, stepForm, stepRunner, p, out, &held)) return LoopPhase::Step;
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
    if (Form* loop = LoopFormFor(conditionForm, bodyForm, nullptr)) {
        // The body's pass starts as the text starts it; the condition's
        // brackets are passed over and closed again on every pass, which
        // leaves the count as it was.
        qo->m_cControl = 0;
        run->statementStart = body;
        char* const bases[3] = {condition, body, nullptr};
        return LoopPasses(qo, loop, bases, LoopPhase::Body, end);
    }
    Runner bodyRunner(qo, *bodyForm, end, &held);
    Runner conditionRunner(qo, *conditionForm, end, &held);
    if (!PrepareRunner(qo, bodyForm, bodyRunner) || !PrepareRunner(qo, conditionForm, conditionRunner))
        return LoopPhase::Body;
    for (;;) {
        // Checked once a pass: only the debugger, an interrupt or a budget
        // can change it meanwhile, and they are met at the next pass.
        if (!CompiledFormsAllowed(qo)) return LoopPhase::Body;
        qo->m_cControl = 0;
        run->statementStart = body;
        char* p = body;
        Outcome out;
        if (!RunSteps(qo, bodyForm, bodyRunner, p, out, &held)) return LoopPhase::Body;
        // The condition is read through the statement's cursor, as the text
        // reads it.
        cursor = condition;
        const short savedBracket = run->bracketDepth;
        qo->FunctionBracketTrace(cursor, '+');
        out = Outcome();
        if (!RunSteps(qo, conditionForm, conditionRunner, cursor, out, &held)) {
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
