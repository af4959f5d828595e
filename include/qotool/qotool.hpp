// A header-only C++17 view of the C API of qotool.h: an interpreter that
// frees itself, values that own their texts, host functions written as
// lambdas, and errors as exceptions only when the host asks for them.
//
//   qotool::Interp qo;                                  // errors as values
//   qo.Register("twice", [](qotool::Args& a) { return qotool::Value(a.Number(0) * 2); });
//   qotool::Value v = qo.Eval("twice(21)");              // v.number == 42
//
//   qotool::Interp strict(qotool::Errors::Throw);       // errors as qotool::Error
//
// Texts are GBK byte strings, as everywhere in the library. Nothing here
// throws unless the host chose Errors::Throw, except std::bad_alloc.
#ifndef QOTOOL_QOTOOL_HPP
#define QOTOOL_QOTOOL_HPP

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <functional>
#include <new>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "qotool/qotool.h"

namespace qotool {

// A value that owns its text: type 'N', 'S', 'P', 'Z', or 'X' for an error
// whose message is the text.
struct Value {
    char type = 'Z';
    double number = 0;
    std::string text;
    uintptr_t pointer = 0;
    std::string extType;

    Value() = default;
    Value(double n) : type('N'), number(n) {}
    Value(int n) : type('N'), number(n) {}
    Value(std::string_view t) : type('S'), text(t) {}
    Value(const char* t) : type('S'), text(t ? t : "") {}
    static Value Object(uintptr_t p, std::string_view ext) {
        Value v;
        v.type = 'P';
        v.pointer = p;
        v.extType = ext;
        return v;
    }
    static Value From(const QoValue& v) {
        Value out;
        out.type = v.type;
        out.number = v.number;
        if (v.text && v.length > 0) out.text.assign(v.text, (size_t)v.length);
        out.pointer = v.pointer;
        if (v.extType) out.extType = v.extType;
        return out;
    }
    // A view for the C API, valid while this value lives unchanged.
    QoValue View() const {
        QoValue v{type, number, nullptr, 0, pointer, nullptr};
        if (type == 'S' || type == 'X') {
            v.text = text.data();
            v.length = (long)text.size();
        }
        if (type == 'P' && !extType.empty()) v.extType = extType.c_str();
        return v;
    }
    bool IsError() const { return type == 'X'; }
};

// An error of a run, in parts (ruqo_ErrorInfo); what() is the whole message
// as the system gives it.
class Error : public std::runtime_error {
public:
    Error(std::string whole, std::string message, std::string fileName, int line, int column, std::string sourceLine)
        : std::runtime_error(std::move(whole)), message(std::move(message)), fileName(std::move(fileName)),
          line(line), column(column), sourceLine(std::move(sourceLine)) {}
    std::string message;  // the bare message
    std::string fileName;
    int line, column;     // 0 when the error has no place in the text
    std::string sourceLine;
};

enum class Errors { Return, Throw };

namespace detail {
struct Raised {};  // a checker has set the script's error already
}  // namespace detail

// The arguments of a host function. The checkers throw nothing the host
// sees: a wrong type ends the function with the system's message.
class Args {
public:
    Args(QoInterp* interp, int argc, const QoValue* argv) : interp_(interp), argc_(argc), argv_(argv) {}
    int size() const { return argc_; }
    const QoValue& operator[](int i) const { return argv_[i]; }
    QoInterp* interp() const { return interp_; }
    double Number(int i) const {
        double n = 0;
        if (ruqo_CheckNumber(interp_, argc_, argv_, i, &n) != QO_OK) throw detail::Raised{};
        return n;
    }
    std::string_view Text(int i) const {
        const char* t = nullptr;
        size_t n = 0;
        if (ruqo_CheckText(interp_, argc_, argv_, i, &t, &n) != QO_OK) throw detail::Raised{};
        return std::string_view(t, n);
    }
    uintptr_t Pointer(int i, const char* extType = nullptr) const {
        uintptr_t p = 0;
        if (ruqo_CheckPointer(interp_, argc_, argv_, i, extType, &p) != QO_OK) throw detail::Raised{};
        return p;
    }
    bool Has(int i) const { return i >= 0 && i < argc_ && argv_[i].type != 'Z'; }

private:
    QoInterp* interp_;
    int argc_;
    const QoValue* argv_;
};

// A host function: returns its value; an exception it throws becomes the
// script's error with what() as the message.
using Function = std::function<Value(Args&)>;

class Interp {
public:
    explicit Interp(Errors errors = Errors::Return) : handle_(ruqo_CreateInterp()), errors_(errors) {
        if (!handle_) throw std::bad_alloc();
    }
    ~Interp() {
        if (handle_) ruqo_FreeInterp(handle_);
    }
    Interp(const Interp&) = delete;
    Interp& operator=(const Interp&) = delete;
    Interp(Interp&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)), errors_(other.errors_) {}
    Interp& operator=(Interp&& other) noexcept {
        if (this != &other) {
            if (handle_) ruqo_FreeInterp(handle_);
            handle_ = std::exchange(other.handle_, nullptr);
            errors_ = other.errors_;
        }
        return *this;
    }
    QoInterp* handle() const { return handle_; }

    // Runs text (as the file fileName when given).
    Value Eval(std::string_view text, const char* fileName = nullptr) {
        const int rc = ruqo_Eval(handle_, text.data(), (long)text.size(), fileName);
        char type = 'Z';
        const char* value = nullptr;
        size_t length = 0;
        ruqo_GetResult(handle_, &type, &value, &length);
        Value out;
        out.type = type;
        if (value) out.text.assign(value, length);
        if (type == 'N') out.number = std::strtod(out.text.c_str(), nullptr);
        return Checked(rc, std::move(out));
    }

    // Calls the script's function name with the arguments.
    Value Call(const std::string& name, const std::vector<Value>& arguments = {}) {
        std::vector<QoValue> argv;
        argv.reserve(arguments.size());
        for (const Value& a : arguments) argv.push_back(a.View());
        QoValue result{};
        const int rc = ruqo_Call(handle_, name.c_str(), (int)argv.size(), argv.data(), &result);
        if (rc == QO_NOTFOUND || rc == QO_MISUSE) {
            Value out;
            out.type = 'X';
            out.text = ruqo_ErrorMessage(handle_);
            if (errors_ == Errors::Throw) throw std::invalid_argument("no function " + name);
            return out;
        }
        return Checked(rc, Value::From(result));
    }

    // Adds (or replaces) a host function of this interpreter; false for a
    // bad name or while a host function runs.
    bool Register(const std::string& name, Function function) {
        auto* held = new Function(std::move(function));
        const int rc = ruqo_RegisterFunction(handle_, name.c_str(), &Interp::Trampoline, held, &Interp::Release);
        if (rc != QO_OK) delete held;
        return rc == QO_OK;
    }
    bool Unregister(const std::string& name) {
        return ruqo_RegisterFunction(handle_, name.c_str(), nullptr, nullptr, nullptr) == QO_OK;
    }

    // A variable's value, or nothing when there is no such variable.
    std::optional<Value> Get(const std::string& name) const {
        if (name.empty()) return std::nullopt;
        char type = 'Z';
        const char* text = nullptr;
        size_t length = 0;
        if (ruqo_GetVar(handle_, name.c_str(), &type, &text, &length) != QO_OK) return std::nullopt;
        Value out;
        out.type = type;
        out.text.assign(text, length);
        if (type == 'N') out.number = std::strtod(out.text.c_str(), nullptr);
        return out;
    }
    bool Set(const std::string& name, const Value& value) {
        if (value.type == 'N') {
            char digits[32];
            std::snprintf(digits, sizeof digits, "%.17g", value.number);
            return ruqo_SetVar(handle_, name.c_str(), 'N', digits, -1) == QO_OK;
        }
        if (value.type == 'S') return ruqo_SetVar(handle_, name.c_str(), 'S', value.text.data(), (long)value.text.size()) == QO_OK;
        return ruqo_SetVar(handle_, name.c_str(), 'Z', nullptr, 0) == QO_OK;
    }

    // Whole arrays: cells row after row; columns 0 for one subscript.
    bool SetArray(const std::string& name, int rows, int columns, const std::vector<Value>& cells) {
        std::vector<QoValue> views;
        views.reserve(cells.size());
        for (const Value& c : cells) views.push_back(c.View());
        if (views.size() < (size_t)rows * (size_t)(columns ? columns : 1)) return false;
        return ruqo_SetArray(handle_, name.c_str(), rows, columns, views.data()) == QO_OK;
    }
    std::optional<std::vector<Value>> GetArray(const std::string& name, int* rows = nullptr, int* columns = nullptr) {
        int r = 0, c = 0;
        if (ruqo_GetArray(handle_, name.c_str(), &r, &c, nullptr, 0) != QO_OK) return std::nullopt;
        std::vector<QoValue> cells((size_t)r * (size_t)c);
        ruqo_GetArray(handle_, name.c_str(), &r, &c, cells.data(), cells.size());
        if (rows) *rows = r;
        if (columns) *columns = c;
        std::vector<Value> out;
        out.reserve(cells.size());
        for (const QoValue& v : cells) out.push_back(Value::From(v));
        return out;
    }

    // The last error in parts, or nothing when the last run did not fail.
    std::optional<Error> LastError() const {
        QoErrorInfo info;
        if (ruqo_ErrorInfo(handle_, &info) != QO_OK) return std::nullopt;
        return Error(ruqo_ErrorMessage(handle_), info.message, info.fileName ? info.fileName : "", info.line,
                     info.column, info.sourceLine);
    }

private:
    Value Checked(int rc, Value value) {
        if (rc == QO_NOMEM) throw std::bad_alloc();
        if (value.type == 'X' && errors_ == Errors::Throw) {
            if (std::optional<Error> e = LastError()) throw *e;
            throw Error(value.text, value.text, "", 0, 0, "");
        }
        return value;
    }

    static int Trampoline(QoInterp* qo, int argc, const QoValue* argv, QoValue* result, void* data) {
        try {
            Args args(qo, argc, argv);
            Value value = (*static_cast<Function*>(data))(args);
            if (value.type == 'X') return ruqo_Error(qo, "%s", value.text.c_str());
            // The text is copied into the library's value store before the
            // local value goes.
            if (value.type == 'S')
                *result = ruqo_ValueText(value.text.data(), (long)value.text.size());
            else if (value.type == 'P')
                *result = ruqo_ValueObject(value.pointer, value.extType.empty() ? nullptr
                                                                               : ruqo_ValueText(value.extType.c_str(), -1).text);
            else
                *result = value.View();
            return QO_OK;
        } catch (const detail::Raised&) {
            return QO_ERROR;
        } catch (const std::exception& e) {
            return ruqo_Error(qo, "%s", e.what());
        } catch (...) {
            return QO_ERROR;
        }
    }
    static void Release(void* data) { delete static_cast<Function*>(data); }

    QoInterp* handle_;
    Errors errors_;
};

}  // namespace qotool

#endif
