// The executor's entry to the compiled sentence forms (src/engine/forms/):
// a per-interpreter side table of sentences already read once, run from
// their forms while the text there still holds the same bytes. What a form
// covers and the rules it keeps are described in forms/form.h.
#ifndef QOTOOL_ENGINE_COMPILED_FORM_H
#define QOTOOL_ENGINE_COMPILED_FORM_H

#include "engine/debugger_seam.h"
#include "engine/run_context.h"
#include "engine/step_budget.h"

namespace qotool::engine {

// False when the environment variable QO_NOCOMPILE (or QO_NOCACHE, which
// turns every cache off) was set to a non-empty value other than "0" when
// first asked: sentences are then always read from their text.
extern const bool g_compiledFormsOn;
inline bool CompiledFormsOn() { return g_compiledFormsOn; }

// Runs the sentence at cursor from its compiled form when it has one that
// still matches the text: Ran (the cursor is then past it and the value set,
// as DoSentence leaves them). None: nothing was changed and the caller reads
// the text. Prefix: a statement list whose first statements have a form and
// the rest not; nothing was changed, and DoSentence, once it has entered its
// level, runs them with RunCompiledPrefix.
enum class FormRun { None, Ran, Prefix };
FormRun RunCompiledForm(CQoLanguage* qo, char*& cursor, const char* terminators, char expectedType, char closer);

// The first statements of the list RunCompiledForm found at cursor: GaveUp
// (nothing changed: the text runs the whole list), Resume (they ran; the
// cursor is where the text goes on), Returned (a return ended the list; the
// cursor is where the text's return leaves it).
enum class PrefixEnd { GaveUp, Resume, Returned };
PrefixEnd RunCompiledPrefix(CQoLanguage* qo, char*& cursor);

// Loops whose sentences all have forms run here pass after pass; each
// sentence's stores are made when it has run whole. The phase the text
// takes over at: the condition, the body or the step of the pass under way,
// or Done once the condition has given 0 (the value is then that 0).
// again is set when the text may hand the loop back after the part it
// runs: every part had a form and one gave up on the way (a value no form
// takes), or a part waits for the text to call a word it calls first.
enum class LoopPhase { Condition, Body, Step, Done };
// A for loop: condition (null when empty), body, step (null when empty),
// from the condition of a pass, or from its step once the text ran the body.
LoopPhase RunCompiledFor(CQoLanguage* qo, char* condition, char* body, char* step, LoopPhase from, bool* again);
// A while loop whose condition has held: from its body on. cursor is
// the while statement's, which the text moves through the condition on every
// pass (a zero divisor there leaves it at the error, as the text does).
LoopPhase RunCompiledWhile(CQoLanguage* qo, char*& cursor, char* condition, char* body, bool* again);

// The text has met a call of word: a user function takes it, or not (a
// built-in, an extension, a native function value). A call in a form
// compiles only once its word is known to be a user function's.
void NoteAskedWord(CQoLanguage* qo, const char* word, bool userFunction);
inline void NoteCalledWord(CQoLanguage* qo, const char* word, bool userFunction) {
    if (__builtin_expect(qo->m_pRun->callWordsAsked, 0)) NoteAskedWord(qo, word, userFunction);
}

// Whether a form may run now: never while the debugger traces or steps,
// during a syntax check, in error-skip or read-only mode, or while a goto,
// break, continue or return is pending. Under a step budget each
// form's run spends one step, and a spent budget leaves the sentence to the
// text, which reports it.
inline bool CompiledFormsAllowed(const CQoLanguage* qo) {
    return !qo->m_bSyntaxCheck && !(qo->m_modeFlags & 0x12) && (qo->m_cControl == 0 || qo->m_cControl == 1) &&
           !(diag::g_debugSwitch & 1) && !diag::g_pauseKeyWatch && !diag::g_interruptRequest && CompiledFormsOn();
}

}  // namespace qotool::engine

#endif
