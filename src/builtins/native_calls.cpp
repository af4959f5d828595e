// Native library calls. The marshalling reads a declaration and the
// script's arguments (each through ReadPara, one at a time, so by-reference
// arguments are noted for WritePara), makes a typed call through the
// platform's native-call module and turns the result into a value.
//
// Slots: every argument takes one slot, a %g by value two, a returned
// string object one more (its hidden result pointer); a declaration is read
// while fewer than 16 slots are taken, so at most 17 are used.
//
// Caches, per thread (nested calls may run while an outer call holds an
// entry, so entries are never removed; past their caps new ones live for
// one call only): parsed declarations with their prepared call interfaces
// (one per pattern of by-reference arguments), library handles by name,
// function addresses by library and function name, and CallDll call sites
// whose names and declaration are plain literals. While the debugger is
// off, plain string and integer literals are taken from the source without
// evaluating them (the value is the same; only the debugger would see the
// difference).
#include "builtins/native_calls.h"

#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "builtins/args.h"
#include "builtins/native_decl.h"
#include "engine/debugger_seam.h"
#include "engine/run_context.h"
#include "engine/scanner.h"
#include "platform/last_error.h"
#include "platform/memory_probe.h"
#include "platform/module_loader.h"
#include "platform/native_call.h"
#include "platform/number_text.h"
#include "platform/per_thread.h"
#include "qotool/qolanguage.h"
#include "qotool/qotool.h"

namespace qotool::builtins {

namespace {

using platform::NativeType;

constexpr int kSlotLimit = 16;
constexpr int kMaxParams = 17;
constexpr size_t kCacheCap = 4096;

const char kCountMismatch[] = "参数赋值个数与声明的不一致";
const char kNotFoundHint[] = "  可能在工作目录或可搜索目录下找不到配套的DLL模块";

// ---- caches ----

struct PreparedCall {
    uint32_t byRef = 0;  // bit i: parameter i was passed by reference
    bool ok = false;
    platform::NativeSignature signature;
};

struct DeclEntry {
    std::string text;
    NativeDecl decl;
    std::vector<std::unique_ptr<PreparedCall>> calls;
};

struct Caches {
    std::unordered_map<std::string_view, std::unique_ptr<DeclEntry>> decls;
    std::unordered_map<std::string, void*> libraries;  // library name -> handle
    std::unordered_map<std::string, void*> functions;  // library name '\0' function -> address
    std::string key;                                   // scratch key
};

Caches& ThreadCaches() { return platform::PerThread<Caches>(); }

DeclEntry* FindDeclaration(Caches& caches, std::string_view text, std::unique_ptr<DeclEntry>& oneCall) {
    auto& decls = caches.decls;
    auto it = decls.find(text);
    if (it != decls.end()) return it->second.get();
    auto entry = std::make_unique<DeclEntry>();
    entry->text.assign(text.data(), text.size());
    entry->decl = ParseNativeDecl(entry->text);
    DeclEntry* found = entry.get();
    if (decls.size() < kCacheCap)
        decls.emplace(std::string_view(found->text), std::move(entry));
    else
        oneCall = std::move(entry);
    return found;
}

NativeType ParamType(char code) {
    switch (code) {
    case '1': return NativeType::kInt8;
    case 'b': return NativeType::kUInt8;
    case '2': return NativeType::kInt16;
    case '4': return NativeType::kInt32;
    case 'f': return NativeType::kFloat;
    case 'g': return NativeType::kDouble;
    default: return NativeType::kPointer;  // p, the strings and every reference
    }
}

// A result code has the type of the same parameter code; any other code
// (none, or one only parameters take) returns nothing.
NativeType ResultType(char code) {
    return code != 0 && strchr("1b24fgpsS", code) ? ParamType(code) : NativeType::kVoid;
}

const PreparedCall* FindPrepared(DeclEntry* entry, uint32_t byRef, size_t count) {
    for (const auto& call : entry->calls)
        if (call->byRef == byRef) return call.get();
    auto call = std::make_unique<PreparedCall>();
    call->byRef = byRef;
    NativeType types[kMaxParams + 1];
    int n = 0;
    const NativeDecl& decl = entry->decl;
    if (decl.result == 'S') types[n++] = NativeType::kPointer;
    for (size_t i = 0; i < count; ++i)
        types[n++] = (byRef >> i) & 1 ? NativeType::kPointer : ParamType(decl.params[i].code);
    call->ok = call->signature.Prepare(ResultType(decl.result), types, n);
    entry->calls.push_back(std::move(call));
    return entry->calls.back().get();
}

// ---- loading ----

// Reports a library that did not load: the loader's own reason goes to the
// message log, the script sees its own name.
void ReportLoadFailure(CQoLanguage* qo, const char* library, char* cursor) {
    CString reason;
    platform::LastSystemError(reason);
    ruqo_MessageLog(0, 2, library, " 动态库不能加载：", reason.c_str());
    CString message(library);
    message += " 动态库不能加载";
    qo->ReportError(message, cursor);
}

// LoadLibrary's failure: the system's text for the error, with the hint
// when a module was not found.
void ReportOpenFailure(CQoLanguage* qo, const char* file, char* cursor) {
    CString reason;
    int code = platform::LastSystemError(reason);
    ruqo_MessageLog(0, 2, file, " 动态库不能加载：", reason.c_str());
    CString message(platform::SystemErrorText(code).c_str());
    if (platform::IsModuleNotFound(code)) message += kNotFoundHint;
    qo->ReportError(message, cursor);
}

// The message for a function that library does not have.
CString MissingFunction(std::string_view library, std::string_view name) {
    CString message(library);
    message += " 动态库的 ";
    message += name;
    message += " 函数不存在";
    return message;
}

// The function name of library (by its file name); null after a report.
void* FunctionByName(CQoLanguage* qo, std::string_view library, std::string_view name, char* cursor) {
    Caches& caches = ThreadCaches();
    std::string& key = caches.key;
    key.assign(library.data(), library.size());
    key += '\0';
    key.append(name.data(), name.size());
    auto known = caches.functions.find(key);
    if (known != caches.functions.end()) return known->second;
    const std::string file(library), function(name);
    void* module = nullptr;
    auto lib = caches.libraries.find(file);
    if (lib != caches.libraries.end()) {
        module = lib->second;
    } else {
        module = platform::LoadModule(file.c_str());
        if (!module) {
            ReportLoadFailure(qo, file.c_str(), cursor);
            return nullptr;
        }
        if (caches.libraries.size() < kCacheCap) caches.libraries.emplace(file, module);
    }
    void* address = platform::FindSymbol(module, function.c_str());
    if (!address) {
        qo->ReportError(MissingFunction(library, name), cursor);
        return nullptr;
    }
    if (caches.functions.size() < kCacheCap) caches.functions.emplace(file + '\0' + function, address);
    return address;
}

// A plain string literal argument: quoted bytes without escapes or line
// breaks, not joined to a following literal, followed (after blanks) by
// ',' or ')'. Its value is exactly those bytes, so while the debugger is
// off (it would see the evaluation) they are taken from the source without
// evaluating; the cursor passes a ',' and stops at a ')'.
bool PlainLiteral(char*& cursor, std::string_view* text) {
    if (qotool::diag::g_debugSwitch & 1) return false;
    char* p = cursor;
    engine::SkipBlanks(p);
    const char quote = *p;
    if (quote != '\'' && quote != '"') return false;
    const char* from = ++p;
    for (;; ++p) {
        const char c = *p;
        if (c == quote) break;
        if (c == 0 || c == '\\' || c == '\r') return false;
    }
    const char* to = p++;
    while (*p == ' ' || *p == '\t' || *p == '\n') ++p;
    if (*p != ',' && *p != ')') return false;
    if (*p == ',') ++p;
    *text = std::string_view(from, (size_t)(to - from));
    cursor = p;
    return true;
}

// ---- the call frame ----

// The caller's write-back list is set aside for the call's own and comes
// back on every way out.
class FreshWriteBack {
public:
    explicit FreshWriteBack(QoLRunContext* run) : run_(run) { saved_.swap(run_->writeBack); }
    ~FreshWriteBack() { run_->writeBack.swap(saved_); }

private:
    QoLRunContext* run_;
    std::vector<QoLWriteBack> saved_;
};

using Cell = NativeCell;

// A string object the callee returns through the hidden result pointer.
// It starts as an empty string, so that a callee that writes nothing
// leaves a valid one.
class ReturnedString {
public:
    ReturnedString() { new (storage_) CString(); }
    ~ReturnedString() {
        if (!passed_ || IsValid()) Object()->~CString();
    }
    void* Address() {
        passed_ = true;
        return storage_;
    }
    // The text, when the callee left a valid string object.
    bool Take(CString& text) {
        if (!IsValid()) return false;
        text = *Object();
        return true;
    }

private:
    CString* Object() { return std::launder(reinterpret_cast<CString*>(storage_)); }
    // The object's text pointer must lead to a live string header.
    bool IsValid() {
        const char* data;
        memcpy(&data, storage_, sizeof data);
        constexpr size_t kHeader = 16;
        if ((uintptr_t)data < kHeader || !platform::IsReadable(data - kHeader, kHeader + 1)) return false;
        return Object()->IsValid();
    }
    alignas(CString) unsigned char storage_[sizeof(CString)];
    bool passed_ = false;
};

// String objects made only for the string parameters.
class StringCells {
public:
    StringCells() = default;
    StringCells(const StringCells&) = delete;
    StringCells& operator=(const StringCells&) = delete;
    ~StringCells() {
        for (int i = 0; i < kMaxParams; ++i)
            if ((built_ >> i) & 1) At(i).~CString();
    }
    CString& operator[](int i) {
        if (!((built_ >> i) & 1)) {
            new (storage_[i]) CString();
            built_ |= 1u << i;
        }
        return At(i);
    }

private:
    CString& At(int i) { return *std::launder(reinterpret_cast<CString*>(storage_[i])); }
    alignas(CString) unsigned char storage_[kMaxParams][sizeof(CString)];
    uint32_t built_ = 0;
};

struct CallFrame {
    Cell cells[kMaxParams];
    StringCells strings;
    char* texts[kMaxParams];          // by-reference s: the cell holding the text's address
    void* pointers[kMaxParams + 1];   // pointer arguments: references, strings, the result object
    void* values[kMaxParams + 1];     // what libffi reads each argument from
};

// A plain integer literal argument for a numeric code: [-]digits (at most
// 15), followed after blanks by ',' or ')'. Stored as ReadPara stores the
// number, without evaluating it (while the debugger is off); the cursor
// passes a ',' and stops at a ')'.
bool PlainNumber(char*& cursor, char code, Cell& cell) {
    if (!strchr("124bfg", code) || (qotool::diag::g_debugSwitch & 1)) return false;
    const char* p = cursor;
    while (*p == ' ' || *p == '\t') ++p;
    const bool negative = *p == '-';
    if (negative) ++p;
    int64_t value = 0;
    const char* digits = p;
    while (*p >= '0' && *p <= '9' && p - digits < 15) value = value * 10 + (*p++ - '0');
    if (p == digits) return false;
    while (*p == ' ' || *p == '\t') ++p;
    if (*p != ',' && *p != ')') return false;
    if (negative) value = -value;
    switch (code) {
    case 'b': cell.b = value != 0 ? 1 : 0; break;
    case '1': cell.i1 = (int8_t)(uint8_t)value; break;
    case '2': cell.i2 = (int16_t)(uint16_t)value; break;
    case '4': cell.i4 = (int32_t)(uint32_t)value; break;
    case 'f': cell.f = (float)value; break;
    default: cell.g = (double)value; break;
    }
    cursor = const_cast<char*>(*p == ',' ? p + 1 : p);
    return true;
}

enum class ArgRead { kByValue, kByReference, kFailed };

// Reads argument k for param into slot.
ArgRead ReadArgument(CQoLanguage* qo, char*& cursor, const NativeParam& param, CallFrame& frame, int k, int slot) {
    QoLRunContext* run = qo->m_pRun;
    const char code = param.code;
    const bool isString = code == 's' || code == 'S' || code == 'v' || code == 'r';
    const char format[3] = {'%', code, 0};
    frame.cells[k].g = 0;
    if (PlainNumber(cursor, code, frame.cells[k])) {
        frame.values[slot] = &frame.cells[k];
        return ArgRead::kByValue;
    }
    void* destination = isString ? (void*)&frame.strings[k] : (void*)&frame.cells[k];
    const size_t before = run->writeBack.size();
    qo->ReadPara('(', cursor, format, destination, nullptr);
    if (qo->m_cType == 'X') return ArgRead::kFailed;  // an error without a catcher
    const bool byRef = run->writeBack.size() > before;
    if (isString && code != 'S') {
        CString& text = frame.strings[k];
        char* buffer = param.length > 0 ? text.GetBufferSetLength(param.length) : text.GetBuffer(0);
        if (byRef) {
            frame.texts[k] = buffer;
            run->writeBack.back().code = 's';
            run->writeBack.back().destination = &frame.texts[k];
            frame.pointers[slot] = &frame.texts[k];
        } else {
            frame.pointers[slot] = buffer;
        }
        frame.values[slot] = &frame.pointers[slot];
    } else if (code == 'S') {
        // By value the string object is our own copy, passed by its
        // address as the C++ ABI passes class objects; by reference it is
        // the object that WritePara reads back.
        frame.pointers[slot] = &frame.strings[k];
        frame.values[slot] = &frame.pointers[slot];
    } else if (byRef) {
        frame.pointers[slot] = &frame.cells[k];
        frame.values[slot] = &frame.pointers[slot];
    } else {
        frame.values[slot] = &frame.cells[k];
    }
    return byRef ? ArgRead::kByReference : ArgRead::kByValue;
}

// Step 2 of a call during a syntax check: the arguments are evaluated, the
// type follows from the declaration, nothing is called.
void CheckCall(CQoLanguage* qo, char*& cursor, std::string_view declaration, bool known) {
    if (!engine::CheckArgumentsToClose(qo, cursor)) return;
    qo->FunctionBracketTrace(cursor, ')');
    qo->m_cType = known ? SyntaxCheckType(declaration) : '?';
}

// What a call calls: an address from a script value, else the function
// name in a library handle, else in the library file.
struct CallTarget {
    uintptr_t function = 0;
    uintptr_t module = 0;
    std::string_view library;
    std::string_view name;
    void* resolved = nullptr;  // set once the function is known
};

void CallDeclared(CQoLanguage* qo, char*& cursor, DeclEntry* entry, CallTarget& target);

// The marshalling entry: the declaration is declared (a function value's)
// or the first argument.
void Marshal(CQoLanguage* qo, char*& cursor, CallTarget& target, std::string_view declared) {
    // 1. The declaration.
    std::string_view declaration = declared;
    CString evaluated;
    bool known = true;
    if (!target.function || declared.empty()) {
        if (qo->m_bSyntaxCheck || !PlainLiteral(cursor, &declaration)) {
            qo->DoSentence(cursor, "),", 'S', ',');
            if (qo->m_cType == 'X') return;
            if (qo->m_cType == 'S')
                evaluated = qo->m_strValue;
            else
                known = false;
            declaration = evaluated.view();
        }
    }
    if (qo->m_bSyntaxCheck) {
        CheckCall(qo, cursor, declaration, known);
        return;
    }
    std::unique_ptr<DeclEntry> oneCall;
    CallDeclared(qo, cursor, FindDeclaration(ThreadCaches(), declaration, oneCall), target);
}

// Steps 3 to 11: the arguments by the declaration, the call, the result.
void CallDeclared(CQoLanguage* qo, char*& cursor, DeclEntry* entry, CallTarget& target) {
    const NativeDecl& decl = entry->decl;
    QoLRunContext* run = qo->m_pRun;
    FreshWriteBack fresh(run);
    ReturnedString returned;
    CallFrame frame;

    // Arguments.
    int slots = 0, base = 0;
    if (decl.result == 'S') {
        frame.pointers[0] = returned.Address();
        frame.values[0] = &frame.pointers[0];
        base = 1;
        slots = 1;
    }
    uint32_t byRef = 0;
    size_t count = 0;
    for (; count < decl.params.size(); ++count) {
        engine::SkipBlanks(cursor);
        if (*cursor == ')' || slots >= kSlotLimit) break;
        const NativeParam& param = decl.params[count];
        const ArgRead read = ReadArgument(qo, cursor, param, frame, (int)count, base + (int)count);
        if (read == ArgRead::kFailed) return;
        const bool reference = read == ArgRead::kByReference;
        if (reference) byRef |= 1u << count;
        slots += param.code == 'g' && !reference ? 2 : 1;
    }
    engine::SkipBlanks(cursor);
    if (count < decl.params.size() || !decl.complete || *cursor != ')') {
        qo->ReportError(kCountMismatch, cursor);
        return;
    }
    qo->FunctionBracketTrace(cursor, ')');
    engine::SkipBlanks(cursor);

    // The function. An address from a script value must at least lie in
    // a module's code.
    void* address = target.resolved;
    if (!address && target.function) {
        address = (void*)target.function;
        if (!platform::IsCodeAddress(address)) {
            qo->ReportError("地址操作非法", cursor);
            return;
        }
    } else if (!address && target.module) {
        address = platform::FindSymbol((void*)target.module, std::string(target.name).c_str());
        if (!address) {
            qo->ReportError(MissingFunction(target.library, target.name), cursor);
            return;
        }
    } else if (!address) {
        address = FunctionByName(qo, target.library, target.name, cursor);
        if (!address) return;
    }
    target.resolved = address;

    const PreparedCall* call = FindPrepared(entry, byRef, count);
    if (!call->ok) {
        qo->ReportError(kCountMismatch, cursor);
        return;
    }
    union {
        uint64_t raw;
        float f;
        double g;
        void* pointer;
    } result;
    result.raw = 0;
    call->signature.Call(address, &result, frame.values);

    // The result.
    char type = 'N';
    double number = 0;
    uintptr_t pointer = 0;
    CString string;
    switch (decl.result) {
    case '1': number = (int8_t)result.raw; break;
    case '2': number = (int16_t)result.raw; break;
    case '4': number = (int32_t)result.raw; break;
    case 'b': number = (uint8_t)result.raw; break;
    case 'f': number = result.f; break;
    case 'g': number = result.g; break;
    case 'p':
        type = 'P';
        pointer = (uintptr_t)result.pointer;
        break;
    case 's': {
        const char* p = (const char*)result.pointer;
        size_t length = 0;
        if (!platform::ReadableStringLength(p, &length)) {
            qo->ReportError("函数返回值声明为%s但返回值不是合法的串", cursor);
            return;
        }
        string = CString(p, (int)length);
        type = 'S';
        break;
    }
    case 'S':
        returned.Take(string);
        type = 'S';
        break;
    default: type = 'Z'; break;
    }
    qo->WritePara();
    qo->m_cType = type;
    if (type == 'N') qo->m_dValue = number;
    if (type == 'S') qo->m_strValue = string;
    if (type == 'P') {
        qo->m_pValue = pointer;
        qo->m_strExtType.Empty();
    }
}

// ---- the built-ins ----

// Dll::library::function(declaration, arguments...)
void DllCall(CQoLanguage* qo, char*& cursor, const char* word) {
    const char* library = word + 5;
    const char* separator = strstr(library, "::");
    if (!separator) {
        qo->ReportError("不符合“Dll::库文件名::函数名(参数列表)”格式", cursor);
        return;
    }
    CallTarget target;
    target.library = std::string_view(library, (size_t)(separator - library));
    target.name = separator + 2;
    Marshal(qo, cursor, target, {});
}

// A CallDll call site whose library, function and declaration are plain
// literals: the source bytes up to the arguments, and what they resolved
// to. A site is used again only while the bytes at its place are the
// same; the function stays valid because the library cache never lets
// its libraries go.
struct CallSite {
    const char* at = nullptr;
    std::string text;
    DeclEntry* entry = nullptr;
    void* function = nullptr;
};

constexpr size_t kCallSites = 64;
struct CallSites {
    CallSite slots[kCallSites];
};

CallSite& SiteAt(const char* at) { return platform::PerThread<CallSites>().slots[((uintptr_t)at >> 2) % kCallSites]; }

// CallDll(library, function, declaration, arguments...): the names are
// read with "%s%s".
void CallDll(CQoLanguage* qo, char*& cursor, const char*) {
    if (!qo->m_bSyntaxCheck && !(qotool::diag::g_debugSwitch & 1)) {
        CallSite& site = SiteAt(cursor);
        if (site.at == cursor && strncmp(cursor, site.text.c_str(), site.text.size()) == 0) {
            cursor += site.text.size();
            CallTarget target;
            target.resolved = site.function;
            CallDeclared(qo, cursor, site.entry, target);
            return;
        }
        std::string_view declaration;
        CallTarget target;
        char* start = cursor;
        char* p = cursor;
        if (PlainLiteral(p, &target.library) && PlainLiteral(p, &target.name) && PlainLiteral(p, &declaration)) {
            cursor = p;
            std::unique_ptr<DeclEntry> oneCall;
            DeclEntry* entry = FindDeclaration(ThreadCaches(), declaration, oneCall);
            CallDeclared(qo, cursor, entry, target);
            if (!oneCall && target.resolved && qo->m_cType != 'X') {
                site.at = start;
                site.text.assign(start, (size_t)(p - start));
                site.entry = entry;
                site.function = target.resolved;
            }
            return;
        }
    }
    CString libraryText, functionText;
    qo->ReadPara('(', cursor, "%s%s", &libraryText, &functionText, nullptr);
    if (qo->m_cType == 'X') return;
    CallTarget target;
    target.library = libraryText.view();
    target.name = functionText.view();
    Marshal(qo, cursor, target, {});
}

void SetLibrary(CQoLanguage* qo, void* handle) {
    qo->m_cType = 'P';
    qo->m_pValue = (uintptr_t)handle;
    qo->m_strExtType = "%dll";
}

// LoadLibrary(file)
void LoadLibrary(CQoLanguage* qo, char*& cursor, const char*) {
    CString file;
    qo->ReadPara('P', cursor, "%s", &file, nullptr);
    if (qo->m_cType == 'X') return;
    if (qo->m_bSyntaxCheck) {
        SetLibrary(qo, nullptr);
        return;
    }
    void* handle = platform::OpenModule(file.c_str());
    if (!handle) {
        ReportOpenFailure(qo, file.c_str(), cursor);
        return;
    }
    SetLibrary(qo, handle);
}

// LoadFunction(library or file, name, declaration)
void LoadFunction(CQoLanguage* qo, char*& cursor, const char*) {
    qo->DoSentence(cursor, "),", 0, 0);
    if (qo->m_cType == 'X') return;
    const bool check = qo->m_bSyntaxCheck;
    void* module = nullptr;
    if (qo->m_cType == 'P') {
        if (strcmp(qo->m_strExtType.c_str(), "%dll") != 0) {
            qo->ReportError("不是动态库对象", cursor);
            return;
        }
        module = (void*)qo->m_pValue;
    } else if (qo->m_cType == 'S') {
        if (!check) {
            CString file = qo->m_strValue;
            module = platform::OpenModule(file.c_str());
            if (!module) {
                ReportOpenFailure(qo, file.c_str(), cursor);
                return;
            }
        }
    } else if (!Undetermined(qo)) {
        qo->ReportError("LoadFunction()的第一个参数只能是动态库对象或其文件", cursor);
        return;
    }
    if (!Comma(qo, cursor)) return;
    CString name, declaration;
    qo->ReadPara('P', cursor, "%s%s", &name, &declaration, nullptr);
    if (qo->m_cType == 'X') return;
    void* address = check ? nullptr : platform::FindSymbol(module, name.c_str());
    int length = declaration.GetLength();
    CString ext("%func:");
    ext += declaration;
    DollarsForPercents(ext.GetBuffer(0) + 6, (size_t)length);
    ext.ReleaseBuffer(6 + length);
    qo->m_cType = 'P';
    qo->m_pValue = (uintptr_t)address;
    qo->m_strExtType = ext;
}

// FreeLibrary(module name, handle or library value)
void FreeLibrary(CQoLanguage* qo, char*& cursor, const char*) {
    if (!SoleArg(qo, cursor, 0)) return;
    void* module = nullptr;
    switch (qo->m_cType) {
    case 'S': module = qo->m_bSyntaxCheck ? nullptr : platform::LoadedModuleHandle(qo->m_strValue.c_str()); break;
    case 'N': module = (void*)platform::NarrowPointer(Trunc64(qo->m_dValue)); break;
    case 'P': module = (void*)qo->m_pValue; break;
    default:
        if (!Undetermined(qo)) {
            qo->ReportError("未给定DLL名称或句炳", cursor);
            return;
        }
    }
    SetNumber(qo, !qo->m_bSyntaxCheck && module && platform::CloseModule(module) ? 1 : 0);
}

inline bool StartsWithNoCase(const char* word, const char* prefix) {
    return strncasecmp(word, prefix, strlen(prefix)) == 0;
}

}  // namespace

Dispatched NativeCalls(CQoLanguage* qo, char*& cursor, const char* word) {
    if (StartsWithNoCase(word, "Dll::")) {
        DllCall(qo, cursor, word);
        return Dispatched::Statement;
    }
    if (Is(word, "CallDll")) {
        CallDll(qo, cursor, word);
        return Dispatched::Statement;
    }
    using Handler = void (*)(CQoLanguage*, char*&, const char*);
    static const struct {
        const char* name;
        Handler handler;
    } kNames[] = {{"LoadLibrary", LoadLibrary}, {"LoadFunction", LoadFunction}, {"FreeLibrary", FreeLibrary}};
    for (const auto& entry : kNames)
        if (Is(word, entry.name)) {
            entry.handler(qo, cursor, word);
            return Dispatched::Value;
        }
    return Dispatched::None;
}

}  // namespace qotool::builtins

namespace qotool::engine {

void CallNative(CQoLanguage* qo, char*& cursor, uintptr_t function, uintptr_t module, const char* text,
                const char* name) {
    builtins::CallTarget target;
    target.function = function;
    target.module = module;
    target.name = name ? name : "";
    std::string_view given(text ? text : "");
    if (!function) target.library = given;
    builtins::Marshal(qo, cursor, target, function ? given : std::string_view());
}

}  // namespace qotool::engine
