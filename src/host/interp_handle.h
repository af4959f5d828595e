// The interpreter handle of the C API (QoInterp) and what every entry of
// the API uses to check one.
#ifndef QOTOOL_HOST_INTERP_HANDLE_H
#define QOTOOL_HOST_INTERP_HANDLE_H

#include <cstdint>
#include <deque>
#include <string>

#include "qotool/qolanguage.h"
#include "qotool/qotool.h"

struct QoInterp {
    CQoLanguage* qo = nullptr;
    bool owned = false;
    std::string source;     // the text of the last run or check, as it ran
    char resultType = 'Z';
    std::string result;     // its value's text
    std::string variable;   // the text of the last ruqo_GetVar
    std::string error;      // the last error's message; empty: none
    long errorOffset = -1;  // where it happened in source; -1: unknown
    std::string fileName;   // the file name of the last ruqo_Eval
    bool hasFileName = false;
    std::string errorHead;  // texts handed out by ruqo_ErrorInfo
    std::string errorLine;
    std::string resultExtType;          // the extended type of ruqo_Call's pointer result
    std::deque<std::string> arrayTexts; // texts handed out by ruqo_GetArray
};

namespace qotool::host {

// True when interp is a live handle of this library.
bool IsHandle(QoInterp* interp);
// True when qo is a live interpreter with a run context.
bool IsInterpreter(CQoLanguage* qo);
// The answer of a write to the store: QO_OK when error is empty, else
// QO_ERROR with the store's message kept as the handle's error.
int StoreAnswer(QoInterp* interp, const std::string& error);

// The interpreter's whole value, kept aside while the API reads or writes
// variables or calls.
struct SavedValue {
    explicit SavedValue(CQoLanguage* qo)
        : qo(qo), type(qo->m_cType), number(qo->m_dValue), pointer(qo->m_pValue), text(qo->m_strValue),
          extType(qo->m_strExtType), error(qo->m_strError) {}
    ~SavedValue() {
        qo->m_cType = type;
        qo->m_dValue = number;
        qo->m_pValue = pointer;
        qo->m_strValue = text;
        qo->m_strExtType = extType;
        qo->m_strError = error;
    }
    CQoLanguage* qo;
    char type;
    double number;
    uintptr_t pointer;
    CString text, extType, error;
};

}  // namespace qotool::host

#endif
