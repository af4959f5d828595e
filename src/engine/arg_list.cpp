// Argument lists: ReadPara evaluates the arguments of a call against a
// format of codes and stores them into typed destinations; WritePara copies
// the destinations of by-reference arguments back into their variables.
#include <cstdarg>
#include <cstdint>
#include <cstring>
#include <string>

#include "engine/executor.h"
#include "engine/run_context.h"
#include "engine/scanner.h"
#include "engine/var_store.h"
#include "platform/number_text.h"
#include "qotool/qolanguage.h"
#include "qotool/qolvardefine.h"

using namespace qotool::engine;

namespace {

// Integer part of a number through 64 bits, as the processor converts it:
// a number outside the 64-bit range (or NaN) gives the integer indefinite.
inline int64_t Trunc64(double d) {
    if (!(d > -9223372036854775808.0 && d < 9223372036854775808.0)) return INT64_MIN;
    return (int64_t)d;
}

// Does a value of this type fit the code without conversion?
inline bool Fits(char type, char code) {
    switch (code) {
    case 's':
    case 'S': return type == 'S';
    case 'p': return type == 'P';
    case 'b':
    case '1':
    case '2':
    case '4':
    case 'f':
    case 'g': return type == 'N';
    default: return false;
    }
}

// Restores the external-call mode bit on every way out of ReadPara.
class ExternalBit {
public:
    explicit ExternalBit(unsigned char& flags) : flags_(flags), saved_(flags & 0x01) { flags_ &= (unsigned char)~0x01; }
    ~ExternalBit() { flags_ = (unsigned char)((flags_ & ~0x01) | saved_); }
    bool WasSet() const { return saved_ != 0; }

private:
    unsigned char& flags_;
    unsigned char saved_;
};

const char kHelpText[] =
    "ReadPara第2个变元为参数格式化符，不能为：%%%c，只能取\r\n"
    "  %%s:CString %%sn:char[n]\r\n"
    "  %%b:bool(0~1)\r\n"
    "  %%1:__int8,char(-128~127),byte(0~255)\r\n"
    "  %%2:__int16,short(-32768~32767),UINT,WORD(0~65535)\r\n"
    "  %%4:__int32,int,long(-2147483648~2147483647),DWORD,指针(0~4294967295)\r\n"
    "  %%f:float(+/-1.401298E-45~3.402823E38)\r\n"
    "  %%g:double(+/-4.94065645841247E-324~1.79769313486231E308)\r\n"
    "  %%p:void*(0~4294967295)\r\n"
    "  %%v任意型到CString %%vn:任意型到char[n]\r\n"
    "出错处：\r\n%s";

}  // namespace

void CQoLanguage::ReadPara(char resultType, char*& cursor, const char* format, ...) {
    QoLRunContext* run = m_pRun;
    LevelGuard guard(this, 'R', cursor);
    ExternalBit external(m_modeFlags);

    if (resultType >= 'a' && resultType <= 'z')
        resultType = (char)(resultType - 32);
    else if (resultType == '(')
        resultType = ')';
    else
        run->writeBack.clear();

    std::string signature;
    va_list args;
    va_start(args, format);
    struct VaEnd {
        va_list& ap;
        ~VaEnd() { va_end(ap); }
    } vaEnd{args};
    bool listEnded = false;
    auto nextDestination = [&]() -> void* {
        if (listEnded) return nullptr;
        void* destination = va_arg(args, void*);
        if (!destination) listEnded = true;
        return destination;
    };
    // Reads one entry at f: its lead, code and length.
    struct Entry {
        char lead = 0, code = 0;
        int length = 0;
        void* destination = nullptr;
    };
    const char* f = format;
    auto takeEntry = [&](Entry& e) -> bool {
        while (*f && *f != '%' && *f != '?') ++f;
        if (!*f) return false;
        e.lead = *f++;
        e.code = *f;
        if (*f) ++f;
        e.length = 0;
        while (*f >= '0' && *f <= '9') e.length = e.length * 10 + (*f++ - '0');
        e.destination = nextDestination();
        return true;
    };
    // The error path: the message becomes the error text, then the reading
    // is abandoned (an unwind when a catcher is active).
    auto fail = [&](const CString& message) {
        ErrorString(message.c_str());
        m_cType = 'X';
        Unwind("ReadPara()参数不符合类型要求");
    };

    if (format && cursor) {
        for (;;) {
            while (*f && *f != '%' && *f != '?') ++f;
            if (*cursor == ')') {
                if (resultType != ')') FunctionBracketTrace(cursor, ')');
                break;
            }
            Entry e;
            if (!takeEntry(e)) break;
            if (*cursor == ',') {
                SkipOne(cursor);
                signature += '*';
                continue;
            }
            SkipBlanks(cursor);
            char* argStart = cursor;
            DoSentence(cursor, "),", 0, ',');
            if (m_cType == 'X') return;  // only without a catcher: already reported
            if (m_bSyntaxCheck) {
                signature += '?';
                continue;
            }

            auto toText = [&](char code) {
                // v: the value's text; r: its type letter, ':' and text.
                const char type = m_cType;
                CString text = GetValueString();
                if (code == 'r') {
                    CString typed(type, 1);
                    typed += ':';
                    typed += text;
                    text = typed;
                }
                m_strValue = text;
                m_cType = 'S';
            };
            if (e.code == 'v' || e.code == 'r') {
                toText(e.code);
                e.code = 's';
            }

            // The empty value stands for the code's zero: a null pointer, an
            // empty text for 's', the number 0 for every other code.
            if (m_cType == 'Z') {
                if (e.code == 'p') {
                    m_cType = 'P';
                    m_pValue = 0;
                    m_strExtType.Empty();
                } else if (e.code == 's') {
                    m_cType = 'S';
                    m_strValue.Empty();
                } else {
                    m_cType = 'N';
                    m_dValue = 0;
                }
            }

            // A variable's address (&name, or any %qol value read for another
            // code than p) is by reference: p keeps the address itself, the
            // other codes read the variable's value.
            QoLVarDefine* record = nullptr;
            if (m_cType == 'P' && (*argStart == '&' || e.code != 'p') && strcmp(m_strExtType.c_str(), "%qol") == 0) {
                record = reinterpret_cast<QoLVarDefine*>(m_pValue);
                const char type = IsLiveRecord(this, record) ? record->GetType() : 0;
                if (type != 'N' && type != 'S' && type != 'P' && type != 'Z') {
                    ReportError("地址指针取变量值操作非法", argStart);
                    return;
                }
                if (e.code != 'p') {
                    CString text = record->GetDef();
                    m_strValue = text;
                    m_dValue = qotool::platform::ParseDouble(text.c_str());
                    if (type == 'P') PointerFromText(text.c_str());
                    m_cType = type;
                }
            }

            // Optional entries that the value does not fit are passed over
            // with their destinations; v and r fit any value.
            bool formatEnded = false;
            while (e.lead == '?' && !Fits(m_cType, e.code)) {
                signature += '-';
                if (!takeEntry(e)) {
                    formatEnded = true;
                    break;
                }
                if (e.code == 'v' || e.code == 'r') {
                    toText(e.code);
                    e.code = 's';
                }
            }
            if (formatEnded) break;

            if (record && e.destination) {
                char code = e.code;
                if (code == 's' || code == 'S') code = e.length > 0 ? 's' : 'S';
                run->writeBack.push_back({code, record, e.destination});
            }
            signature += m_cType;

            char want = 0;
            switch (e.code) {
            case 'p':
                if (m_cType != 'P') {
                    want = 'P';
                    break;
                }
                if (e.destination) *static_cast<uintptr_t*>(e.destination) = m_pValue;
                break;
            case 's':
            case 'S':
                if (m_cType != 'S') {
                    want = 'S';
                    break;
                }
                if (!e.destination) break;
                if (e.length > 0) {
                    char* buffer = *static_cast<char**>(e.destination);
                    if (buffer) {
                        int n = m_strValue.GetLength();
                        if (n > e.length - 1) n = e.length - 1;
                        memcpy(buffer, m_strValue.c_str(), (size_t)n);
                        buffer[n] = 0;
                    }
                } else {
                    *static_cast<CString*>(e.destination) = m_strValue;
                }
                break;
            case 'b':
            case '1':
            case '2':
            case '4':
            case 'f':
            case 'g': {
                if (m_cType != 'N') {
                    want = 'N';
                    break;
                }
                if (!e.destination) break;
                const double d = m_dValue;
                switch (e.code) {
                case 'b': *static_cast<uint8_t*>(e.destination) = d != 0.0 ? 1 : 0; break;
                case '1': *static_cast<int8_t*>(e.destination) = (int8_t)(uint8_t)(uint64_t)Trunc64(d); break;
                case '2': *static_cast<int16_t*>(e.destination) = (int16_t)(uint16_t)(uint64_t)Trunc64(d); break;
                case '4': *static_cast<int32_t*>(e.destination) = (int32_t)(uint32_t)(uint64_t)Trunc64(d); break;
                case 'f': *static_cast<float*>(e.destination) = (float)d; break;
                default: *static_cast<double*>(e.destination) = d; break;
                }
                break;
            }
            default: {
                CString message;
                message.Format(kHelpText, e.code, argStart);
                fail(message);
                return;
            }
            }
            if (want) {
                CString message;
                message.Format("参数类型不应该是%c型，而应该是%c型：\r\n%s", m_cType, want, argStart);
                fail(message);
                return;
            }
        }
    }

    if (external.WasSet() && m_bSyntaxCheck) {
        m_cType = '?';
        Unwind("禁止执行Readpara之后的外部扩展函数");
        return;
    }
    m_strValue = CString(signature.data(), (int)signature.size());
    m_cType = resultType;
}

bool qotool::engine::CheckArgumentsToClose(CQoLanguage* qo, char*& cursor) {
    for (;;) {
        SkipBlanks(cursor);
        if (*cursor == ')') return true;
        char* const before = cursor;
        qo->DoSentence(cursor, "),", 0, ',');
        if (qo->m_cType == 'X') return false;  // only without a catcher: already reported
        if (cursor == before) {
            qo->ReportError("缺)", cursor);
            return false;
        }
    }
}

void CQoLanguage::WritePara() {
    std::vector<QoLWriteBack> list;
    list.swap(m_pRun->writeBack);
    for (const QoLWriteBack& w : list) {
        if (!w.destination || !IsLiveRecord(this, w.record)) continue;
        char type = 'N';
        double number = 0;
        CString text;
        switch (w.code) {
        case '1': number = *static_cast<const int8_t*>(w.destination); break;
        case '2': number = *static_cast<const int16_t*>(w.destination); break;
        case '4': number = *static_cast<const int32_t*>(w.destination); break;
        case 'b': number = *static_cast<const uint8_t*>(w.destination); break;
        case 'f': number = *static_cast<const float*>(w.destination); break;
        case 'g': number = *static_cast<const double*>(w.destination); break;
        case 's': {
            const char* buffer = *static_cast<char* const*>(w.destination);
            text = buffer ? buffer : "";
            type = 'S';
            break;
        }
        case 'S':
            text = *static_cast<const CString*>(w.destination);
            type = 'S';
            break;
        case 'p': {
            char digits[24];
            char* end = digits + sizeof digits;
            char* p = end;
            uintptr_t v = *static_cast<const uintptr_t*>(w.destination);
            do {
                *--p = (char)('0' + v % 10);
                v /= 10;
            } while (v);
            text = CString(p, (int)(end - p));
            type = 'P';
            break;
        }
        default: continue;
        }
        if (type == 'N') {
            char buf[32];
            text = CString(buf, qotool::platform::FormatNumber15(number, buf));
        }
        w.record->SetValue(type, text);
    }
    // Records added while writing back (a value-change callback that reads
    // arguments again) belong to the next round.
}
