// The two kinds of the error unwind.
//
// Every DoSentence activation and every block is a catcher, but most of them
// can only pass the unwind on: what they put back (catch depth, bracket
// depth, level, level start, block scope) their destructors put back just
// as well. Only the error skip (mode bit 0x02) and the trace hook need the
// activation to stop the unwind. So an unwind is thrown as QolUnwindStop,
// which the activations and blocks catch, whenever one of them could act on
// it; otherwise as the plain QolUnwind, which passes them and stops only at
// the catchers that name it (try, SkipError, function calls, run entries,
// built-ins with a catcher of their own). Those catch QolUnwindStop too.
#ifndef QOTOOL_ENGINE_UNWIND_H
#define QOTOOL_ENGINE_UNWIND_H

#include "engine/run_context.h"

namespace qotool::engine {

struct QolUnwindStop : QolUnwind {};

// Throws the error unwind of qo with text, of the kind that qo's state asks
// for now. Callers have checked the catch depth where that matters.
[[noreturn]] void ThrowUnwind(CQoLanguage* qo, const char* text);

// ReportError(message, position) as the sentence that starts at start would
// make it when run now, from inside its own activation: that activation
// takes the current level's start while it runs. For a caller that stands
// in for the sentence and its activation; the catch depth must be above 0.
// With unwind false the report is made without the unwind: for a caller
// whose caller is the catcher and takes the error as the value.
void ReportFromSentence(CQoLanguage* qo, const char* message, const char* position, const char* start, bool unwind);

}  // namespace qotool::engine

#endif
