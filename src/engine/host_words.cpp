// The functions a host registers on one interpreter and their calls from
// QOL text.
#include "engine/host_words.h"

#include <cstring>
#include <deque>
#include <string>

#include "engine/debugger_seam.h"
#include "engine/executor.h"
#include "engine/run_context.h"
#include "engine/scanner.h"
#include "qotool/qolanguage.h"

namespace qotool::engine {

namespace {

thread_local HostCallFrame* t_hostCall = nullptr;
thread_local std::deque<std::string>* t_valueTexts = nullptr;
thread_local int t_valueScopes = 0;
thread_local CallArgumentsScope* t_callArguments = nullptr;

bool IsAsciiLetter(unsigned char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// One argument as the host sees it; the texts are copies, so that the host
// may run text on the interpreter (which changes its value) during the call.
struct Argument {
    char type = 'Z';
    double number = 0;
    uintptr_t pointer = 0;
    CString text;
    CString extType;
};

void TakeValue(CQoLanguage* qo, Argument& argument) {
    argument.type = qo->m_cType;
    switch (argument.type) {
    case 'N': argument.number = qo->m_dValue; break;
    case 'S': argument.text = qo->m_strValue; break;
    case 'P':
        argument.pointer = qo->m_pValue;
        argument.extType = qo->m_strExtType;
        break;
    default: argument.type = 'Z'; break;
    }
}

// A list that keeps its first N items in place and the rest on the heap:
// most calls pass a few arguments, and these need no allocation.
template <typename T, size_t N>
class ShortList {
public:
    T& Add() {
        if (size_ < N) return inline_[size_++];
        if (heap_.empty()) heap_.assign(inline_, inline_ + N);
        ++size_;
        return heap_.emplace_back();
    }
    T* Data() { return size_ <= N ? inline_ : heap_.data(); }
    size_t Size() const { return size_; }

private:
    T inline_[N];
    std::vector<T> heap_;
    size_t size_ = 0;
};

// The text of an argument as written, without the blanks and ',' after it.
std::string_view ArgumentText(const char* start, const char* end) {
    while (end > start && (end[-1] == ',' || IsBlank(end[-1]))) --end;
    return std::string_view(start, (size_t)(end - start));
}

// Stores the host's result as the interpreter's value; false with message
// set when the result is malformed.
bool StoreResult(CQoLanguage* qo, const QoValue& result, const std::string& name, std::string* message) {
    if (!IsValidHostValue(result)) {
        if (result.type == 'S')
            *message = "宿主函数" + name + "返回的文本非法（长度" + std::to_string(result.length) + "）";
        else
            *message = "宿主函数" + name + "返回的值类型非法（" + std::to_string((int)(unsigned char)result.type) + "）";
        return false;
    }
    LoadHostValue(qo, result);
    return true;
}

}  // namespace

void LoadHostValue(CQoLanguage* qo, const QoValue& value) {
    switch (value.type) {
    case 'N':
        qo->m_dValue = value.number;
        qo->m_cType = 'N';
        break;
    case 'S':
        qo->SetValueString(value.text ? value.text : "", (int)value.length);
        qo->m_cType = 'S';
        break;
    case 'P':
        qo->m_pValue = value.pointer;
        qo->SetValueType('P', value.extType && *value.extType ? value.extType : nullptr);
        break;
    default: qo->m_cType = 'Z'; break;
    }
}

bool IsValidHostValue(const QoValue& value) {
    switch (value.type) {
    case 'N':
    case 'P':
    case 'Z': return true;
    case 'S': return value.length >= 0 && (value.text || value.length == 0);
    default: return false;
    }
}

const char kCallArgumentWord[] = "ruqo_CallArgument";

CallArgumentsScope::CallArgumentsScope(int argc, const QoValue* argv)
    : argc_(argc), argv_(argv), outer_(t_callArguments) {
    t_callArguments = this;
}

CallArgumentsScope::~CallArgumentsScope() { t_callArguments = outer_; }

bool CallArgumentsScope::Reads(CQoLanguage* qo, char*& cursor, const char* word) const {
    const int argc = argc_;
    const QoValue* argv = argv_;
    if (strcmp(word, kCallArgumentWord) != 0) return false;
    char* end = cursor;
    const long index = strtol(cursor, &end, 10);
    if (end == cursor || *end != ')' || index < 0 || index >= argc) return false;
    cursor = end;
    qo->FunctionBracketTrace(cursor, ')');
    LoadHostValue(qo, argv[index]);
    return true;
}

void HostFunctionsDeleter::operator()(HostFunctions* functions) const { delete functions; }

HostFunction::~HostFunction() {
    if (!release) return;
    try {
        release(userData);
    } catch (...) {
    }
}

std::string HostFunctions::Key(std::string_view name) {
    std::string key(name);
    for (char& c : key)
        if (c >= 'A' && c <= 'Z') c = (char)(c + 32);
    return key;
}

int HostFunctions::Set(std::string_view name, QoHostFunction function, void* userData, void (*release)(void*)) {
    std::string key = Key(name);
    auto found = functions_.find(key);
    if (!function) {
        if (found == functions_.end()) return QO_NOTFOUND;
        functions_.erase(found);  // the release runs when the last holder lets go
        return QO_OK;
    }
    auto entry = std::make_shared<HostFunction>();
    entry->name = std::string(name);
    entry->function = function;
    entry->userData = userData;
    entry->release = release;
    if (found != functions_.end())
        found->second = std::move(entry);
    else
        functions_.emplace(std::move(key), std::move(entry));
    return QO_OK;
}

std::shared_ptr<HostFunction> HostFunctions::Find(std::string_view word) const {
    if (functions_.empty()) return nullptr;
    char buffer[96];
    if (word.size() >= sizeof buffer) return nullptr;
    for (size_t i = 0; i < word.size(); ++i) {
        const char c = word[i];
        buffer[i] = (c >= 'A' && c <= 'Z') ? (char)(c + 32) : c;
    }
    auto found = functions_.find(std::string(buffer, word.size()));
    return found == functions_.end() ? nullptr : found->second;
}

bool IsHostFunctionName(const char* name) {
    if (!name) return false;
    const size_t length = strnlen(name, 81);
    if (length == 0 || length > 80 || IsDigitChar(name[0])) return false;
    for (size_t i = 0; i < length; ++i) {
        const unsigned char c = (unsigned char)name[i];
        if (c >= 0x81 && c <= 0xFE) {
            const unsigned char trail = (unsigned char)name[i + 1];
            if (trail < 0x40 || trail == 0x7F || trail == 0xFF) return false;
            ++i;
            continue;
        }
        if (!(IsAsciiLetter(c) || IsDigitChar((char)c) || c == '_')) return false;
    }
    return true;
}

HostCallFrame* CurrentHostCall(QoInterp* handle) {
    for (HostCallFrame* frame = t_hostCall; frame; frame = frame->outer)
        if (frame->handle == handle) return frame;
    return nullptr;
}

const char* KeepValueText(const char* text, size_t length) {
    if (!t_valueTexts) t_valueTexts = new std::deque<std::string>();
    t_valueTexts->emplace_back(text, length);
    return t_valueTexts->back().c_str();
}

void DropOuterValueTexts() {
    if (t_valueScopes == 0 && t_valueTexts) t_valueTexts->clear();
}

ValueTextScope::ValueTextScope() : mark_(t_valueTexts ? t_valueTexts->size() : 0) { ++t_valueScopes; }

ValueTextScope::~ValueTextScope() {
    --t_valueScopes;
    if (t_valueTexts && t_valueTexts->size() > mark_) t_valueTexts->resize(mark_);
}

bool CallHostFunction(CQoLanguage* qo, char*& cursor, const char* word) {
    QoLRunContext* run = qo->m_pRun;
    if (CallArgumentsScope* call = t_callArguments; call && call->Reads(qo, cursor, word)) return true;
    HostFunctions* table = run->hostFunctions.get();
    std::shared_ptr<HostFunction> entry = table ? table->Find(word) : nullptr;
    if (!entry) return false;

    // The arguments, evaluated as a call of the language evaluates them; an
    // argument left out (",,") is no value.
    ShortList<Argument, 6> arguments;
    ShortList<std::string_view, 6> texts;
    for (;;) {
        SkipBlanks(cursor);
        if (*cursor == ')') {
            qo->FunctionBracketTrace(cursor, ')');
            break;
        }
        char* const start = cursor;
        if (*cursor == ',') {
            SkipOne(cursor);
            arguments.Add();
            texts.Add();
            continue;
        }
        qo->DoSentence(cursor, "),", 0, ',');
        if (qo->m_cType == 'X') return true;  // only without a catcher: already reported
        if (cursor == start) {
            qo->ReportError("缺)", cursor);
            return true;
        }
        TakeValue(qo, arguments.Add());
        texts.Add() = ArgumentText(start, cursor);
    }
    qotool::diag::Trace(run, cursor, "=变元");
    if (qo->m_bSyntaxCheck) {
        qo->m_cType = '?';
        return true;
    }

    ShortList<QoValue, 6> argv;
    for (size_t i = 0; i < arguments.Size(); ++i) {
        const Argument& a = arguments.Data()[i];
        QoValue& v = argv.Add();
        v = QoValue{a.type, a.number, nullptr, 0, a.pointer, nullptr};
        if (a.type == 'S') {
            v.text = a.text.c_str();
            v.length = a.text.GetLength();
        }
        if (a.type == 'P') v.extType = a.extType.c_str();
    }

    HostCallFrame frame;
    frame.handle = table->Handle();
    frame.name = entry->name.c_str();
    frame.argumentTexts = texts.Data();
    frame.argumentCount = texts.Size();
    frame.outer = t_hostCall;
    QoValue result{};
    result.type = 'Z';
    int rc = QO_ERROR;
    std::string message;
    bool malformed = false;
    {
        ValueTextScope scope;
        t_hostCall = &frame;
        ++table->running;
        try {
            rc = entry->function(frame.handle, (int)argv.Size(), argv.Data(), &result, entry->userData);
        } catch (...) {
            rc = QO_ERROR;
        }
        --table->running;
        t_hostCall = frame.outer;
        if (rc == QO_OK) malformed = !StoreResult(qo, result, entry->name, &message);
    }
    if (rc == QO_OK && !malformed) return true;
    if (!malformed)
        message = frame.errorSet && !frame.error.empty() ? frame.error : "外部扩展函数" + entry->name + "执行错误";
    qo->ReportError(message.c_str(), cursor);
    return true;
}

}  // namespace qotool::engine
