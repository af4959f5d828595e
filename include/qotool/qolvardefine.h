// QoLVarDefine: one variable or array element of an interpreter: its type
// letter (N, S, P, Z, F for a user function, & for a link) and the text of
// its value.
#ifndef QOTOOL_QOLVARDEFINE_H
#define QOTOOL_QOLVARDEFINE_H

// C++ only: a C file that includes this header gets no declarations from it
// (C hosts use qotool/qotool.h).
#if defined(__cplusplus) && __cplusplus < 201703L
#error "this C++ header of qotool needs C++17; C and older C++ hosts use <qotool/qotool.h>"
#endif
#ifdef __cplusplus

#include "qotool/cstring.h"
#include "qotool/qo_api.h"

class QoLVarDefine {
public:
    QoLVarDefine() = default;
    QoLVarDefine(const char* name, char type, const CString& def) : m_strName(name), m_cType(type), m_strDef(def) {}

    QO_API char GetType();
    QO_API CString& GetDef();
    // Stores a type and text; a pointer value that changes notifies the
    // value-change callbacks carried by the old (-kind) and new (+kind) text.
    QO_API int SetValue(char type, CString text);

    CString m_strName;
    char m_cType = 'Z';
    CString m_strDef;

    // The number the text reads as, kept so that reading it again does not
    // parse it again; valid only while m_strDef holds exactly the bytes it
    // was read from (m_memoText), so no writer of the text can make it stale.
    mutable double m_memoNumber = 0;
    mutable unsigned char m_memoLength = 0;  // 0: no number kept
    mutable char m_memoText[23] = {};
};

#endif  // __cplusplus

#endif
