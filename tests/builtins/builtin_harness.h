// Calling the interpreter control and interaction built-ins in tests.
//
// CallBuiltin runs one call the way the executor does: the '(' consumed
// through the bracket tracer, the handler, the missing-argument marker, the
// ')' a handler leaves. Whole QOL texts reach the same built-ins through
// the dispatch (RunAndResult of support/result_text.h); compare exact
// messages through CallBuiltin, which runs outside any extension call.
#ifndef QOTOOL_TESTS_BUILTINS_BUILTIN_HARNESS_H
#define QOTOOL_TESTS_BUILTINS_BUILTIN_HARNESS_H

#include <strings.h>

#include <string>

#include "builtins/control.h"
#include "builtins/interaction.h"
#include "engine/run_context.h"
#include "engine/scanner.h"
#include "qotool/qolanguage.h"
#include "qotool/qotool.h"
#include "support/result_text.h"

namespace qotool::test {

using BuiltinHandler = void (*)(CQoLanguage*, char*&, const char*);

inline BuiltinHandler FindBuiltin(const char* word) {
    static const struct {
        const char* name;
        BuiltinHandler handler;
    } kBuiltins[] = {
        {"BindTableBuffer", builtins::BindTableBuffer}, {"Check", builtins::Check},
        {"docmd", builtins::DoCmd},                     {"EditData", builtins::EditData},
        {"ErrorCheck", builtins::ErrorCheck},           {"get", builtins::Get},
        {"MessageBox", builtins::MessageBox},           {"MessageLog", builtins::MessageLog},
        {"PromptText", builtins::PromptText},           {"QolCreate", builtins::QolCreate},
        {"QolRelease", builtins::QolRelease},           {"QolRun", builtins::QolRun},
        {"QolHandle", builtins::QolHandle},             {"report", builtins::Report},
        {"set", builtins::Set},
    };
    for (const auto& entry : kBuiltins)
        if (strcasecmp(word, entry.name) == 0) return entry.handler;
    return nullptr;
}

// What the dispatch does around a handler once the '(' is consumed.
inline void InvokeBuiltin(CQoLanguage* qo, BuiltinHandler handler, char*& cursor, const char* word) {
    const short depth = qo->m_pRun->bracketDepth;
    handler(qo, cursor, word);
    if (qo->m_cType == 'f') qo->ReportError("函数缺参数", cursor);
    engine::SkipBlanks(cursor);
    if (qo->m_pRun->bracketDepth >= depth && *cursor == ')') qo->FunctionBracketTrace(cursor, ')');
}

// Runs the call at the start of `call` ("name(arguments)..."), as a run of
// its own; returns its result text; rest (optional) receives what the call
// did not read.
inline std::string CallBuiltin(CQoLanguage& qo, const std::string& call, std::string* rest = nullptr) {
    std::string source = call;
    const size_t open = source.find('(');
    const std::string word = source.substr(0, open);
    const BuiltinHandler handler = FindBuiltin(word.c_str());
    if (!handler || open == std::string::npos) return "no built-in " + word;
    char* cursor = source.data() + open;
    {
        engine::LevelGuard guard(&qo, 'P', source.c_str());
        engine::CatchScope catcher(qo.m_pRun);
        try {
            qo.m_pRun->bracketDepth = 0;
            qo.FunctionBracketTrace(cursor, '(');
            InvokeBuiltin(&qo, handler, cursor, word.c_str());
        } catch (const engine::QolUnwind&) {
        }
    }
    if (rest) *rest = cursor;
    return ResultOf(qo);
}

}  // namespace qotool::test

#endif
