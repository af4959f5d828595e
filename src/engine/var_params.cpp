#include "engine/var_params.h"

#include <cstring>
#include <string>

#include "engine/scanner.h"
#include "engine/var_store.h"
#include "engine/var_tables.h"
#include "qotool/qolanguage.h"

namespace qotool::engine {

QoLVarDefine* CreateHiddenParameter(CQoLanguage* qo, const char* formal) {
    const char type = qo->m_cType == 'X' ? 'Z' : qo->m_cType;
    CString text = StoredText(qo);
    CString savedString = qo->m_strValue;
    std::string name = std::string("?") + formal;
    // A link entry is always appended without a search; it becomes the value.
    qo->m_strValue.Empty();
    QoLVarDefine* record = DoVariable(qo, name.c_str(), '&', 'B');
    qo->m_strValue = savedString;
    if (record) record->SetValue(type, text);
    return record;
}

QoLVarDefine* CreateParameter(CQoLanguage* qo, std::string_view formal, bool last) {
    char hidden[96];
    if (formal.size() < sizeof hidden - 1) {
        if (last) {
            if (QoLVarDefine* record = AddValueRecord(qo, formal)) return record;
        } else {
            hidden[0] = '?';
            memcpy(hidden + 1, formal.data(), formal.size());
            if (QoLVarDefine* record = AddValueRecord(qo, std::string_view(hidden, formal.size() + 1)))
                return record;
        }
    }
    return CreateHiddenParameter(qo, std::string(formal).c_str());
}

QoLVarDefine* CreateReferenceParameter(CQoLanguage* qo, const char* formal, const char* target) {
    CString savedString = qo->m_strValue;
    std::string name = std::string("?") + formal;
    qo->m_strValue = (std::string("#") + formal + "=#" + target).c_str();
    QoLVarDefine* record = DoVariable(qo, name.c_str(), '&', 'B');
    qo->m_strValue = savedString;
    return record;
}

void RevealParameters(CQoLanguage* qo, int from) {
    auto& variables = qo->m_pVars->variables;
    for (int i = from; i < variables.size(); ++i) {
        QoLVarDefine* record = variables[i];
        if (record && record->m_strName.GetLength() > 1 && record->m_strName[0] == '?')
            variables.Rename(i, record->m_strName.view().substr(1));
    }
}

int VariableCount(CQoLanguage* qo) { return qo->m_pVars->variables.size(); }

bool NextFormalName(const char*& p, std::string_view* name) {
    while (IsBlank(*p)) ++p;
    if (*p == ',') {
        ++p;
        while (IsBlank(*p)) ++p;
    }
    if (!*p || *p == ')') return false;
    const char* start = p;
    while (*p && *p != '=' && *p != ',' && *p != ')' && (unsigned char)*p > 32) ++p;
    *name = std::string_view(start, (size_t)(p - start));
    while (IsBlank(*p)) ++p;
    return true;
}

}  // namespace qotool::engine
