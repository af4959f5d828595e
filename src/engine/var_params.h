// Parameters of user function calls: created hidden under "?" + name while
// the call binds its arguments (so the caller's expressions still see the
// caller's variables), then revealed together. The parameter bound last is
// created under its own name at once: no caller expression runs after it.
#ifndef QOTOOL_ENGINE_VAR_PARAMS_H
#define QOTOOL_ENGINE_VAR_PARAMS_H

#include <string_view>

#include "qotool/qolvardefine.h"

class CQoLanguage;

namespace qotool::engine {

// Appends a new variable "?" + formal at the current scope level holding
// the interpreter's current value (never overwrites an existing one).
QoLVarDefine* CreateHiddenParameter(CQoLanguage* qo, const char* formal);
// The parameter formal holding the interpreter's current value: hidden as
// above, or, when `last` (no argument or default is evaluated after it),
// possibly under its own name already. Either way it is what
// RevealParameters makes of a hidden one.
QoLVarDefine* CreateParameter(CQoLanguage* qo, std::string_view formal, bool last);
// Appends the reference "?" + formal of type '&' with the text
// "#formal=#target".
QoLVarDefine* CreateReferenceParameter(CQoLanguage* qo, const char* formal, const char* target);
// Drops the leading '?' of every variable from position `from` on.
void RevealParameters(CQoLanguage* qo, int from);
// Number of variable records (the position the next one takes).
int VariableCount(CQoLanguage* qo);
// The next name of a function's formal list at p (after its '(', or after a
// name and its default): blanks and one ',' are passed, the name runs to
// '=', ',', ')' or a blank, and the blanks after it are passed. False at the
// list's end (a ')' or the text's end), with p there.
bool NextFormalName(const char*& p, std::string_view* name);

}  // namespace qotool::engine

#endif
