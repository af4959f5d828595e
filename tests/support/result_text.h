// Test support: an interpreter's value as ruqo_ExecQol writes it, "T:value"
// (type letter, ':', the value's text with its zero bytes).
#ifndef QOTOOL_TESTS_SUPPORT_RESULT_TEXT_H
#define QOTOOL_TESTS_SUPPORT_RESULT_TEXT_H

#include <string>

#include "qotool/qolanguage.h"

namespace qotool::test {

// The text first: turning an infinite number into text makes the value an error.
inline std::string ResultOf(CQoLanguage& qo) {
    const CString value = qo.GetValueString();
    return std::string(1, qo.m_cType) + ":" + std::string(value.view());
}

inline std::string RunAndResult(CQoLanguage& qo, const std::string& text) {
    qo.DoQol(text.c_str(), nullptr);
    return ResultOf(qo);
}

}  // namespace qotool::test

#endif
