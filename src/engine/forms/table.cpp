// The table of compiled forms: its deleter, the function forms it makes,
// the words the text tells it about, and the switch that turns forms off.
#include "engine/forms/table.h"

#include <cstdlib>
#include <cstring>

#include "engine/compiled_form.h"
#include "engine/executor.h"
#include "engine/number_memo.h"

namespace qotool::engine {

void CompiledFormsDeleter::operator()(CompiledForms* forms) const { delete forms; }

namespace forms {
Form* FunctionFormFor(CQoLanguage* qo, const char* definition) {
    return qo->m_pRun->compiledForms->Function(definition);
}
}  // namespace forms

void NoteAskedWord(CQoLanguage* qo, const char* word, bool userFunction) {
    if (CompiledForms* forms = qo->m_pRun->compiledForms.get())
        forms->words.Note(word, userFunction ? forms::CallWords::kUser : forms::CallWords::kOther);
}

namespace {
bool ReadCompileSwitch() {
    const char* value = std::getenv("QO_NOCOMPILE");
    const bool off = value != nullptr && value[0] != '\0' && std::strcmp(value, "0") != 0;
    return !off && !CachesOff();
}
}  // namespace

const bool g_compiledFormsOn = ReadCompileSwitch();

}  // namespace qotool::engine
