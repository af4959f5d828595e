// A name/value store kept as QOL text. Each call runs the text in an
// interpreter of its own, reads or changes one variable there and, after a
// change, has the interpreter write all its public variables back out as
// QOL text with its report built-in.
#include <cxxabi.h>

#include <memory>
#include <string>

#include "engine/var_store.h"
#include "platform/number_text.h"
#include "qotool/qolanguage.h"
#include "qotool/textcut.h"

namespace {

constexpr double kReadNumber = 1e+308;

// Runs text on qo. The interpreter reads its source in place, so it gets a
// copy of its own.
void Run(CQoLanguage& qo, const char* text) {
    std::string source(text ? text : "");
    qo.DoQol(source.c_str(), nullptr);
}

// The private interpreter with the property text run in it and name looked
// up (which loads the variable's value); exists tells whether it was found.
std::unique_ptr<CQoLanguage> Open(const CString& property, const char* name, bool& exists) {
    auto qo = std::make_unique<CQoLanguage>();
    Run(*qo, property.c_str());
    exists = qotool::engine::DoVariable(qo.get(), name, 0, 'B') != nullptr;
    return qo;
}

// Stores (type 'S' or 'N', the value already current) or removes name, then
// replaces property with the regenerated QOL text.
void Rewrite(CQoLanguage& qo, CString& property, const char* name, char type, bool exists) {
    if (type)
        qotool::engine::DoVariable(&qo, name, type, 'B');
    else if (exists)
        qotool::engine::DoVariable(&qo, name, 'r', 'B');
    Run(qo, "Report('PublcBasicVarable')");
    if (qo.m_cType == 'S') property = qo.m_strValue;
}

}  // namespace

QO_API CString ruqo_CombPropertyStr(CString& property, const char* name, const char* value) {
    try {
        if (!name || !*name) return CString();
        bool exists = false;
        std::unique_ptr<CQoLanguage> qo = Open(property, name, exists);
        if (!value) return exists ? qo->GetValueString() : CString();
        if (*value) {
            qo->m_cType = 'S';
            qo->m_strValue = value;
            Rewrite(*qo, property, name, 'S', exists);
            return CString(value);
        }
        Rewrite(*qo, property, name, 0, exists);
        return CString();
    } catch (abi::__forced_unwind&) {
        throw;
    } catch (...) {
        return CString();
    }
}

QO_API double ruqo_CombPropertyVal(CString& property, const char* name, double value) {
    try {
        if (!name || !*name) return 0;
        bool exists = false;
        std::unique_ptr<CQoLanguage> qo = Open(property, name, exists);
        if (value == kReadNumber) {
            if (!exists) return 0;
            CString text = qo->GetValueString();
            return qotool::platform::ParseDouble(text.c_str());
        }
        if (value != 0) {
            qo->m_cType = 'N';
            qo->m_dValue = value;
            Rewrite(*qo, property, name, 'N', exists);
        } else {
            Rewrite(*qo, property, name, 0, exists);
        }
        return value;
    } catch (abi::__forced_unwind&) {
        throw;
    } catch (...) {
        return 0;
    }
}
