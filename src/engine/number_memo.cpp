#include "engine/number_memo.h"

#include <cstdlib>
#include <cstring>

#include "platform/number_text.h"

namespace qotool::engine {

bool CachesOff() {
    static const bool off = [] {
        const char* value = std::getenv("QO_NOCACHE");
        return value != nullptr && value[0] != '\0' && std::strcmp(value, "0") != 0;
    }();
    return off;
}

void KeepNumber(const QoLVarDefine* record, const char* text, int length, double number) {
    if (length <= 0 || length > (int)sizeof record->m_memoText || CachesOff()) {
        record->m_memoLength = 0;
        return;
    }
    std::memcpy(record->m_memoText, text, (size_t)length);
    record->m_memoLength = (unsigned char)length;
    record->m_memoNumber = number;
}

double RecordNumber(const QoLVarDefine* record) {
    const char* text = record->m_strDef.c_str();
    const int length = record->m_strDef.GetLength();
    if (length > 0 && length == record->m_memoLength && std::memcmp(text, record->m_memoText, (size_t)length) == 0)
        return record->m_memoNumber;
    const double number = platform::ParseDouble(text);
    KeepNumber(record, text, length, number);
    return number;
}

}  // namespace qotool::engine
