// Memory blocks: "%mem" pointers into a variable's own bytes (MemBuffer),
// and reads and writes through them. A script can forge any "%mem"
// pointer, or keep one past its block's end or its variable's life, so
// every access must lie inside a live block of the store (TextBlockAccess);
// what a field leads to beyond it (the text of a string object) goes
// through the platform's memory probe. An address that is not there is an
// error message, never a fault.
//
// Record fields (MemRead, MemWrite): b 1 byte, 1 1, 2 2, 4 4, f 4 (float),
// g 8 (double), p 8 (an address), s<n> n bytes of text, S 8 (a string
// object, that is its text pointer).
#include <cstdint>
#include <cstring>
#include <new>

#include "builtins/args.h"
#include "builtins/native_calls.h"
#include "engine/run_context.h"
#include "engine/scanner.h"
#include "engine/var_store.h"
#include "platform/memory_probe.h"
#include "platform/string_block.h"
#include "qotool/qolanguage.h"
#include "qotool/qolvardefine.h"

namespace qotool::builtins {

namespace {

const char kNotMemPointer[] = "地址参数必须是P型%mem扩展类型的参数";
const char kBadAddress[] = "地址操作非法";

// The pointer argument of the Mem functions; false after a report, and
// during a syntax check (nothing is read or written then).
bool MemPointer(CQoLanguage* qo, char*& cursor, uintptr_t* address) {
    if (!Arg(qo, cursor, 0)) return false;
    if (Undetermined(qo)) return false;
    if (qo->m_cType != 'P' || strcmp(qo->m_strExtType.c_str(), "%mem") != 0) {
        qo->ReportError(kNotMemPointer, cursor);
        return false;
    }
    *address = qo->m_pValue;
    return !qo->m_bSyntaxCheck;
}

// Evaluates the remaining arguments up to ')' without using them (syntax
// check); consumes the ')'.
void SkipRemaining(CQoLanguage* qo, char*& cursor) {
    engine::SkipBlanks(cursor);
    if (*cursor == ',') ++cursor;
    if (engine::CheckArgumentsToClose(qo, cursor)) qo->FunctionBracketTrace(cursor, ')');
}

// Consumes the ',' that must follow an argument; reports the missing
// argument otherwise.
bool RequireComma(CQoLanguage* qo, char*& cursor) {
    engine::SkipBlanks(cursor);
    if (*cursor == ',') {
        ++cursor;
        return true;
    }
    qo->ReportError("函数缺参数", cursor);
    return false;
}

// Reads a bare word (the word reader's characters, at most 80) at the
// cursor into name; its length.
int BareWord(char*& cursor, char* name) {
    engine::SkipBlanks(cursor);
    int n = engine::ScanWordChars(cursor, name);
    cursor += n;
    engine::SkipBlanks(cursor);
    return n;
}

// ---- string objects in memory ----

// A string object whose text pointer sits at field (any alignment). Its
// bytes are read through the memory probe only, and never released or
// counted: a script can make the field lead anywhere (a variable's own text
// through a %p write, memory freed since).
class StringAt {
public:
    explicit StringAt(uintptr_t field) : field_(field) {}
    // Reads the field; true when it leads to a string, whose text Text()
    // then holds.
    bool Valid() {
        return platform::TryRead(&data_, (const void*)field_, sizeof data_) && platform::ProbeText(data_, text_);
    }
    const char* Data() const { return data_; }
    const CString& Text() const { return text_; }
    // Makes the field hold a new string object with text; false when the
    // field cannot be written. The old text is left to its owner (the
    // native function that made the record).
    bool Assign(const CString& text) {
        alignas(CString) unsigned char made[sizeof(CString)];
        CString* object = new (made) CString(text);  // the field's from here on
        if (platform::TryWrite((void*)field_, made, sizeof made)) return true;
        object->~CString();
        return false;
    }

private:
    uintptr_t field_;
    char* data_ = nullptr;
    CString text_;
};

// ---- fields ----

enum class FieldResult { kOk, kAccess, kNoLength, kBadString, kUnknown };

size_t FieldSize(char code, int length) {
    switch (code) {
    case 'b':
    case '1': return 1;
    case '2': return 2;
    case '4':
    case 'f': return 4;
    case 'g':
    case 'p':
    case 'S': return 8;
    case 's': return (size_t)length;
    default: return 0;
    }
}

// Whether code (with its length) is a field the record codes know, and
// that field lies within room bytes (0 outside every live block).
FieldResult FieldFits(char code, int length, size_t room) {
    if (code == 's' && length <= 0) return FieldResult::kNoLength;
    const size_t size = FieldSize(code, length);
    if (size == 0) return FieldResult::kUnknown;
    return size <= room ? FieldResult::kOk : FieldResult::kAccess;
}

// Reads the field at address into the interpreter's value.
FieldResult ReadField(CQoLanguage* qo, char code, int length, uintptr_t address) {
    const engine::TextBlockAccess block(qo, address);
    if (FieldResult fits = FieldFits(code, length, block.Room()); fits != FieldResult::kOk) return fits;
    const void* at = (const void*)address;
    NativeCell cell;
    switch (code) {
    case 'b':
    case '1':
    case '2':
    case '4':
    case 'f':
    case 'g':
    case 'p':
        if (!platform::TryRead(&cell, at, FieldSize(code, 0))) return FieldResult::kAccess;
        break;
    case 's': {
        if (length <= 0) return FieldResult::kNoLength;
        CString text;
        char* buffer = text.GetBufferSetLength(length);
        if (!platform::TryRead(buffer, at, (size_t)length)) return FieldResult::kAccess;
        text.ReleaseBuffer((int)strnlen(buffer, (size_t)length));
        SetString(qo, text);
        return FieldResult::kOk;
    }
    case 'S': {
        StringAt object(address);
        if (!platform::IsReadable(at, 8)) return FieldResult::kAccess;
        if (!object.Valid()) return FieldResult::kBadString;
        SetString(qo, object.Text());
        return FieldResult::kOk;
    }
    default: return FieldResult::kUnknown;
    }
    switch (code) {
    case 'b': SetNumber(qo, cell.b); break;
    case '1': SetNumber(qo, cell.i1); break;
    case '2': SetNumber(qo, cell.i2); break;
    case '4': SetNumber(qo, cell.i4); break;
    case 'f': SetNumber(qo, cell.f); break;
    case 'g': SetNumber(qo, cell.g); break;
    default:
        qo->m_cType = 'P';
        qo->m_pValue = cell.p;
        qo->m_strExtType.Empty();
        break;
    }
    return FieldResult::kOk;
}

// Stores the interpreter's value into the field at address.
FieldResult WriteField(CQoLanguage* qo, char code, int length, uintptr_t address) {
    const engine::TextBlockAccess block(qo, address);
    // A text field writes the bytes of its text only (below its length).
    const size_t room = code == 's' ? SIZE_MAX : block.Room();
    if (FieldResult fits = FieldFits(code, length, room); fits != FieldResult::kOk) return fits;
    void* at = (void*)address;
    const double d = qo->m_cType == 'N' ? qo->m_dValue : 0;
    NativeCell cell;
    switch (code) {
    case 'b': cell.b = d != 0.0 ? 1 : 0; break;
    case '1': cell.i1 = (int8_t)(uint8_t)(uint64_t)Trunc64(d); break;
    case '2': cell.i2 = (int16_t)(uint16_t)(uint64_t)Trunc64(d); break;
    case '4': cell.i4 = (int32_t)(uint32_t)(uint64_t)Trunc64(d); break;
    case 'f': cell.f = (float)d; break;
    case 'g': cell.g = d; break;
    case 'p': cell.p = qo->m_cType == 'P' ? qo->m_pValue : 0; break;
    case 's': {
        if (length <= 0) return FieldResult::kNoLength;
        const CString text = StringValue(qo);
        size_t n = (size_t)text.GetLength();
        if (n > (size_t)length - 1) n = (size_t)length - 1;
        if (!block.Holds(n)) return FieldResult::kAccess;
        return platform::TryWrite(at, text.c_str(), n) ? FieldResult::kOk : FieldResult::kAccess;
    }
    case 'S': {
        if (!platform::IsReadable(at, 8)) return FieldResult::kAccess;
        StringAt object(address);
        // A field that leads to the text of a variable (a memory block's)
        // holds no string object of a record's.
        if (!object.Valid() || engine::TextBlockAccess(qo, (uintptr_t)object.Data()).Holds(0))
            return FieldResult::kBadString;
        return object.Assign(StringValue(qo)) ? FieldResult::kOk : FieldResult::kAccess;
    }
    default: return FieldResult::kUnknown;
    }
    return platform::TryWrite(at, &cell, FieldSize(code, 0)) ? FieldResult::kOk : FieldResult::kAccess;
}

// Reports a field that failed; false.
bool ReportField(CQoLanguage* qo, FieldResult result, char code, char* cursor) {
    CString message;
    switch (result) {
    case FieldResult::kOk: return true;
    case FieldResult::kAccess: message.Format("数据区操作%%%c参数非法", code); break;
    case FieldResult::kNoLength: message = "参数格式%s缺少长度声明"; break;
    case FieldResult::kBadString: message = "引用CString地址非法"; break;
    case FieldResult::kUnknown: message.Format("非法参数类型：%c", code); break;
    }
    qo->ReportError(message, cursor);
    return false;
}

// ---- the built-ins ----

// MemBuffer(name, size): the variable becomes size zero bytes; the result
// points at its own text.
void MemBuffer(CQoLanguage* qo, char*& cursor) {
    char name[96];
    if (BareWord(cursor, name) == 0) {
        qo->ReportError("缺变量名", cursor);
        return;
    }
    if (!RequireComma(qo, cursor)) return;
    if (!SoleArg(qo, cursor, 'N')) return;
    int size = IntValue(qo);
    if (size < 0) size = 0;
    CString bytes;
    bytes.GetBufferSetLength(size);
    SetString(qo, bytes);
    QoLVarDefine* record = engine::DoVariable(qo, name, 'S', 'B');
    if (!record || !engine::IsLiveRecord(qo, record)) return;
    // A buffer of its own, never the shared empty text.
    char* data = record->GetDef().GetBuffer(0);
    engine::AddTextBlock(qo, record, (size_t)size);
    qo->m_cType = 'P';
    qo->m_pValue = (uintptr_t)data;
    qo->m_strExtType = "%mem";
}

// MemInt(pointer [, index]): the signed 32-bit integer at pointer + 4 index.
void MemInt(CQoLanguage* qo, char*& cursor) {
    uintptr_t address = 0;
    const bool have = MemPointer(qo, cursor, &address);
    if (qo->m_cType == 'X') return;
    int index = 0;
    if (*cursor == ',') {
        ++cursor;
        if (!SoleArg(qo, cursor, 'N')) return;
        index = IntValue(qo);
    } else {
        engine::SkipBlanks(cursor);
        qo->FunctionBracketTrace(cursor, ')');
    }
    if (!have) {
        SetNumber(qo, 0);
        return;
    }
    const uintptr_t at = address + (uintptr_t)((intptr_t)index * 4);
    const engine::TextBlockAccess block(qo, at);
    int32_t value;
    if (!block.Holds(sizeof value) || !platform::TryRead(&value, (const void*)at, sizeof value)) {
        qo->ReportError(kBadAddress, cursor);
        return;
    }
    SetNumber(qo, value);
}

// MemStr(pointer [, length]): length bytes, or the zero-terminated text.
void MemStr(CQoLanguage* qo, char*& cursor) {
    uintptr_t address = 0;
    const bool have = MemPointer(qo, cursor, &address);
    if (qo->m_cType == 'X') return;
    int length = -1;
    if (*cursor == ',') {
        ++cursor;
        if (!SoleArg(qo, cursor, 'N')) return;
        length = Undetermined(qo) ? -1 : IntValue(qo);
    } else {
        engine::SkipBlanks(cursor);
        qo->FunctionBracketTrace(cursor, ')');
    }
    if (!have) {
        SetString(qo, CString());
        return;
    }
    const char* at = (const char*)address;
    const engine::TextBlockAccess block(qo, address);
    size_t n = 0;
    if (length >= 0) {
        if (!block.Holds((size_t)length)) {
            qo->ReportError(kBadAddress, cursor);
            return;
        }
        n = (size_t)length;
    } else if (block.Holds(0)) {
        // The text up to its zero byte, at most to the block's end (where
        // the variable's text has its terminator).
        n = strnlen(at, block.Room());
    } else {
        qo->ReportError(kBadAddress, cursor);
        return;
    }
    CString text;
    char* buffer = text.GetBufferSetLength((int)n);
    if (!platform::TryRead(buffer, at, n)) {
        qo->ReportError(kBadAddress, cursor);
        return;
    }
    SetString(qo, text);
}

// MemRead(pointer, codes, names...) and MemWrite(pointer, codes, values...).
void MemRecord(CQoLanguage* qo, char*& cursor, bool write) {
    uintptr_t address = 0;
    const bool have = MemPointer(qo, cursor, &address);
    if (qo->m_cType == 'X') return;
    if (!RequireComma(qo, cursor)) return;
    if (!Arg(qo, cursor, 'S')) return;
    if (Undetermined(qo)) {
        SkipRemaining(qo, cursor);
        SetNumber(qo, 0);
        return;
    }
    const CString codes = qo->m_strValue;
    const uintptr_t start = address;
    for (const char* c = codes.c_str(); *c;) {
        if (*c != '%') {
            ++c;
            continue;
        }
        const char code = c[1];
        if (!code) break;
        c += 2;
        int length = 0;
        while (*c >= '0' && *c <= '9') {
            if (length < 100000000) length = length * 10 + (*c - '0');
            ++c;
        }
        engine::SkipBlanks(cursor);
        if (*cursor == ',') ++cursor;
        engine::SkipBlanks(cursor);
        if (*cursor == ')') {
            qo->ReportError("类型声明多于参数", cursor);
            return;
        }
        if (write) {
            const char type = code == 's' || code == 'S' ? 'S' : code == 'p' ? 'P' : 'N';
            if (!Arg(qo, cursor, type)) return;
            if (have && !ReportField(qo, WriteField(qo, code, length, address), code, cursor)) return;
        } else {
            if (have) {
                if (!ReportField(qo, ReadField(qo, code, length, address), code, cursor)) return;
            } else {
                qo->m_cType = 'Z';
            }
            char name[96];
            if (BareWord(cursor, name) == 0) {
                qo->ReportError("缺接收值的变量", cursor);
                return;
            }
            if (*cursor == ',') ++cursor;
            engine::DoVariable(qo, name, qo->m_cType, 'B');
            if (qo->m_cType == 'X') return;
        }
        address += FieldSize(code, length);
    }
    engine::SkipBlanks(cursor);
    if (*cursor != ')') {
        qo->ReportError("参数多余类型声明", cursor);
        return;
    }
    qo->FunctionBracketTrace(cursor, ')');
    SetNumber(qo, (double)(address - start));
}

}  // namespace

Dispatched MemoryBlocks(CQoLanguage* qo, char*& cursor, const char* word) {
    if (strncasecmp(word, "Mem", 3) != 0) return Dispatched::None;
    const char* rest = word + 3;
    if (strcasecmp(rest, "Buffer") == 0)
        MemBuffer(qo, cursor);
    else if (strcasecmp(rest, "Int") == 0)
        MemInt(qo, cursor);
    else if (strcasecmp(rest, "Str") == 0)
        MemStr(qo, cursor);
    else if (strcasecmp(rest, "Read") == 0)
        MemRecord(qo, cursor, false);
    else if (strcasecmp(rest, "Write") == 0)
        MemRecord(qo, cursor, true);
    else
        return Dispatched::None;
    return Dispatched::Statement;
}

}  // namespace qotool::builtins
