// Functions a host registers on one interpreter (ruqo_RegisterFunction):
// the table each interpreter keeps, the call of one from QOL text, and the
// frame of the host call in progress that the argument checkers and
// ruqo_Error read.
#ifndef QOTOOL_ENGINE_HOST_WORDS_H
#define QOTOOL_ENGINE_HOST_WORDS_H

#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "qotool/qotool.h"

class CQoLanguage;

namespace qotool::engine {

struct HostFunction {
    std::string name;  // as registered
    QoHostFunction function = nullptr;
    void* userData = nullptr;
    void (*release)(void*) = nullptr;
    ~HostFunction();  // runs release once
};

// One interpreter's host functions, found by the lower-cased name.
class HostFunctions {
public:
    explicit HostFunctions(QoInterp* handle) : handle_(handle) {}
    // Adds, replaces (the old release runs) or, with a null function,
    // removes. QO_NOTFOUND when removing a name that is not there.
    int Set(std::string_view name, QoHostFunction function, void* userData, void (*release)(void*));
    // The function called word, or null. Held by the caller for the call:
    // a removal meanwhile releases it afterwards.
    std::shared_ptr<HostFunction> Find(std::string_view word) const;
    QoInterp* Handle() const { return handle_; }
    // Host functions of this interpreter running now (nested calls count).
    int running = 0;

private:
    static std::string Key(std::string_view name);
    QoInterp* handle_;
    std::unordered_map<std::string, std::shared_ptr<HostFunction>> functions_;
};

// Whether a value from the host may be used: type 'N', 'S', 'P' or 'Z', and
// a text's length not negative (and its pointer set when not empty).
bool IsValidHostValue(const QoValue& value);

// Sets the interpreter's value from a valid host value.
void LoadHostValue(CQoLanguage* qo, const QoValue& value);

// Whether name may be registered: 1 to 80 bytes of ASCII letters, digits,
// '_' and two-byte characters, not starting with a digit.
bool IsHostFunctionName(const char* name);

// The call of a host function in progress on this thread (innermost first).
struct HostCallFrame {
    QoInterp* handle = nullptr;
    const char* name = nullptr;
    const std::string_view* argumentTexts = nullptr;  // source of each argument ("" when none)
    size_t argumentCount = 0;
    std::string error;                            // set by ruqo_Error
    bool errorSet = false;
    HostCallFrame* outer = nullptr;
};
HostCallFrame* CurrentHostCall(QoInterp* handle);

// Calls word when it is a host function of qo: evaluates the arguments up
// to and over the ')' (cursor just after '('), calls, and leaves the result
// as the interpreter's value, or reports the function's error at the call
// (no wrapper text). False (cursor unchanged) when word is no host function.
bool CallHostFunction(CQoLanguage* qo, char*& cursor, const char* word);

// ruqo_Call runs the text "name(ruqo_CallArgument(0),...)": while it runs,
// that word gives the host's argument values (the innermost ruqo_Call's on
// the thread).
extern const char kCallArgumentWord[];
class CallArgumentsScope {
public:
    CallArgumentsScope(int argc, const QoValue* argv);
    ~CallArgumentsScope();
    CallArgumentsScope(const CallArgumentsScope&) = delete;
    CallArgumentsScope& operator=(const CallArgumentsScope&) = delete;
    // The word ruqo_CallArgument(i) at cursor: its value loaded, the cursor
    // past its ')'. False for any other word.
    bool Reads(CQoLanguage* qo, char*& cursor, const char* word) const;

private:
    int argc_;
    const QoValue* argv_;
    CallArgumentsScope* outer_;
};

// The calling thread's value store for ruqo_ValueText: a text made inside a
// host function lives until that function has returned; one made outside
// every host function, until DropOuterValueTexts.
const char* KeepValueText(const char* text, size_t length);
void DropOuterValueTexts();  // no-op while a host function runs on the thread
// Marks the store for a host call; the destructor drops what it made.
class ValueTextScope {
public:
    ValueTextScope();
    ~ValueTextScope();
    ValueTextScope(const ValueTextScope&) = delete;
    ValueTextScope& operator=(const ValueTextScope&) = delete;

private:
    size_t mark_;
};

}  // namespace qotool::engine

#endif
