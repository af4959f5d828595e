// QoLVarDefine, and the value-change records that a pointer value carries
// into the variables it is stored in.
//
// Record layout, appended to the extended type of a P value (and so to the
// text of a P variable): a zero byte, the kind byte, the interpreter's
// address (8 bytes) and the callback (8 bytes), in memory order. The zero
// byte hides the record from everyone who reads the text as a C string.
#include <cstdint>
#include <cstring>
#include <mutex>
#include <set>
#include <utility>

#include "platform/number_text.h"
#include "qotool/qolanguage.h"
#include "qotool/qolvardefine.h"

using qotool::platform::NarrowPointer;
using qotool::platform::ParseInt64;

namespace {

using ValueChangeCallback = void (*)(int kindTimesFactor, CQoLanguage* interpreter, intptr_t pointer,
                                     const char* extType);

constexpr int kRecordSize = 1 + 1 + (int)sizeof(void*) + (int)sizeof(void*);

// The (interpreter, callback) pairs hosts have set. A record is only bytes
// in a text, and a script can put any bytes after a zero byte of a text it
// makes (an extended type built from a string with "\0" in it): only a pair
// a host set is ever called.
class RegisteredCallbacks {
public:
    void Add(CQoLanguage* interpreter, ValueChangeCallback callback) {
        std::lock_guard<std::mutex> lock(mutex_);
        pairs_.insert({interpreter, callback});
    }
    bool Has(CQoLanguage* interpreter, ValueChangeCallback callback) {
        std::lock_guard<std::mutex> lock(mutex_);
        return pairs_.count({interpreter, callback}) != 0;
    }

private:
    std::mutex mutex_;
    std::set<std::pair<CQoLanguage*, ValueChangeCallback>> pairs_;
};

RegisteredCallbacks& Registered() {
    static RegisteredCallbacks* registered = new RegisteredCallbacks();  // never destroyed: used at exit
    return *registered;
}

// Calls the callback of the first record carried by the text of a P value,
// when a host set it.
void NotifyValueChange(const CString& text, int factor) {
    const char* p = text.c_str();
    const int length = text.GetLength();
    const int visible = (int)strlen(p);
    if (length - visible < kRecordSize) return;
    const unsigned char kind = (unsigned char)p[visible + 1];
    CQoLanguage* interpreter;
    ValueChangeCallback callback;
    memcpy(&interpreter, p + visible + 2, sizeof interpreter);
    memcpy(&callback, p + visible + 2 + sizeof interpreter, sizeof callback);
    if (!callback || !Registered().Has(interpreter, callback)) return;
    const intptr_t pointer = (intptr_t)NarrowPointer(ParseInt64(p));
    const char* ext = strchr(p, '%');
    try {
        callback((int)kind * factor, interpreter, pointer, ext ? ext : "");
    } catch (...) {
        // Whatever the owner throws stays with the owner.
    }
}

}  // namespace

char QoLVarDefine::GetType() { return m_cType; }

CString& QoLVarDefine::GetDef() { return m_strDef; }

int QoLVarDefine::SetValue(char type, CString text) {
    const bool changed = (m_cType == 'P' || type == 'P') &&
                         (m_cType != type || ParseInt64(m_strDef.c_str()) != ParseInt64(text.c_str()));
    if (changed && m_cType == 'P') {
        CString old = m_strDef;  // keeps the text alive while the owner looks at it
        NotifyValueChange(old, -1);
    }
    m_cType = type;
    m_strDef = std::move(text);
    if (changed && type == 'P') {
        CString now = m_strDef;
        NotifyValueChange(now, +1);
    }
    return 1;
}

int CQoLanguage::SetVariableValueChangeEvent(unsigned char kind, void* callback) {
    if (m_cType != 'P') return 0;
    char record[kRecordSize];
    CQoLanguage* self = this;
    record[0] = 0;
    record[1] = (char)kind;
    memcpy(record + 2, &self, sizeof self);
    memcpy(record + 2 + sizeof self, &callback, sizeof callback);
    m_strExtType.Append(record, kRecordSize);
    if (callback) Registered().Add(this, (ValueChangeCallback)callback);
    return 1;
}
