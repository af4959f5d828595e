// The seam between the executor and the table objects: a word qualified
// with "::" (such as Array::rules.Locate) is offered to the rule-table
// handler before labels, keywords and calls. The handler lives with the
// tables (src/tables/).
#ifndef QOTOOL_ENGINE_TABLE_HOOK_H
#define QOTOOL_ENGINE_TABLE_HOOK_H

#include "engine/builtin_hook.h"

class CQoLanguage;

namespace qotool::engine {

// Runs the table call named by word (cursor just after the word). None
// when the handler does not take the word (the cursor is then unchanged);
// Statement when nothing written after the call applies to its result.
Dispatched OfferQualifiedWord(CQoLanguage* qo, char*& cursor, const char* word);

}  // namespace qotool::engine

#endif
