// The "Array::" calls: rule tables (SetDefine, Locate, Output, ...) and
// plain arrays built from a list of texts (Create, Read), all written
// "Array::" + table + "." + method + "(" arguments ")". Tables are ordinary
// array variables of the variable store (layout in rule_set.h), declared
// private in the scope that defines them, so a table defined inside a
// function or block disappears with it.
#ifndef QOTOOL_TABLES_ARRAY_CALLS_H
#define QOTOOL_TABLES_ARRAY_CALLS_H

#include "engine/builtin_hook.h"

class CQoLanguage;

namespace qotool::tables {

// Runs the call when word is "Array::" (any case) + table + "." + method
// and a '(' follows (after blanks); None, with the cursor unchanged, for any
// other word.
engine::Dispatched ArrayCall(CQoLanguage* qo, char*& cursor, const char* word);

}  // namespace qotool::tables

#endif
