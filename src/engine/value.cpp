// The interpreter's one current value: type letter, number, string,
// pointer with its extended type, and the error text.
#include <cmath>
#include <cstring>

#include "platform/number_text.h"
#include "qotool/qolanguage.h"

using namespace qotool::platform;

int CQoLanguage::SetValueType(char type, const char* extType) {
    m_cType = type;
    if (extType)
        m_strExtType = extType;
    else
        m_strExtType.Empty();
    return 1;
}

const char* CQoLanguage::GetValueExtType() { return m_strExtType.c_str(); }

int CQoLanguage::IsReturnValueOfDoqol() { return m_cControl == 1 ? 1 : 0; }

double CQoLanguage::GetValueNumber() {
    switch (m_cType) {
    case 'N': return m_dValue;
    case 'P': return (double)SignedPointer(m_pValue);
    case 'S': return ParseDouble(m_strValue.c_str());
    default: return 0.0;
    }
}

double CQoLanguage::EvalNumber() const {
    switch (m_cType) {
    case 'N': return m_dValue;
    case 'P': return (double)m_pValue;
    case 'S': return ParseDouble(m_strValue.c_str());
    default: return 0.0;
    }
}

bool CQoLanguage::PointerToText(CString& out) const {
    char digits[24];
    char* end = digits + sizeof digits;
    char* p = end;
    uintptr_t v = m_pValue;
    do {
        *--p = (char)('0' + v % 10);
        v /= 10;
    } while (v);
    out = CString(p, (int)(end - p));
    if (m_strExtType.IsEmpty()) return false;
    out += m_strExtType;
    return true;
}

bool CQoLanguage::PointerFromText(const char* text) {
    m_cType = 'P';
    m_pValue = NarrowPointer(ParseInt64(text));
    const char* ext = text ? strchr(text, '%') : nullptr;
    if (!ext) {
        m_strExtType.Empty();
        return false;
    }
    m_strExtType = ext;
    return true;
}

CString CQoLanguage::GetValueString() {
    switch (m_cType) {
    case 'N': {
        if (std::isinf(m_dValue)) return ErrorString("数值范围超界");
        char buf[32];
        int n = FormatNumber15(m_dValue, buf);
        return CString(buf, n);
    }
    case 'S': return m_strValue;
    case 'P': {
        CString text;
        PointerToText(text);
        return text;
    }
    case 'X': return m_strError;
    default: return CString();
    }
}

const char* CQoLanguage::GetValueString(int& length) {
    if (m_cType != 'S') m_strValue = GetValueString();
    length = m_strValue.GetLength();
    return m_strValue.c_str();
}

const char* CQoLanguage::SetValueString(const char* text, int length) {
    if (!text)
        m_strValue.Empty();
    else if (length >= 0)
        m_strValue = CString(text, length);
    else
        m_strValue = text;
    return text;
}

CString CQoLanguage::ValueString(const char* text) {
    if (text) m_strValue = text;
    return m_strValue;
}

CString CQoLanguage::ErrorString(const char* text) {
    if (text) {
        m_strError = text;
        if (*text) m_cType = 'X';
    }
    return m_strError;
}
