// Test support: an interpreter's value as ruqo_ExecQol writes it, "T:value"
// (the type letter, ':' and the value's text, zero bytes kept). The text is
// taken first: turning an infinite number into text makes the value an error.
#ifndef QOTOOL_TESTS_SUPPORT_RESULT_TEXT_H
#define QOTOOL_TESTS_SUPPORT_RESULT_TEXT_H

#include <string>

#include "qotool/qolanguage.h"

namespace qotool::test {

inline std::string ResultOf(CQoLanguage& qo) {
    const CString value = qo.GetValueString();
    return std::string(1, qo.m_cType) + ":" + std::string(value.view());
}

// Runs text on qo; its result as ResultOf gives it.
inline std::string RunAndResult(CQoLanguage& qo, const std::string& text) {
    qo.DoQol(text.c_str(), nullptr);
    return ResultOf(qo);
}

}  // namespace qotool::test

#endif
