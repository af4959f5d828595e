// The host-function part of the C API: values, the registration of a
// host's functions on one interpreter, their argument checkers and errors,
// and arrays handed in and out whole.
#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "engine/host_words.h"
#include "engine/run_context.h"
#include "engine/var_store.h"
#include "engine/var_tables.h"
#include "host/interp_handle.h"
#include "platform/number_text.h"

using namespace qotool::engine;
using qotool::host::IsHandle;
using qotool::host::SavedValue;

namespace {

// The system's expected-type message for argument index of the host call
// in progress: "参数类型不应该是Z型，而应该是N型：\r\n" "f()第2个参数：x+1".
int ArgumentError(QoInterp* interp, int argc, const QoValue* argv, int index, char want) {
    HostCallFrame* frame = CurrentHostCall(interp);
    if (!frame) return QO_MISUSE;
    const char type = index >= 0 && index < argc && argv ? argv[index].type : 'Z';
    std::string where = std::string(frame->name) + "()第" + std::to_string(index + 1) + "个参数";
    if (index >= 0 && (size_t)index < frame->argumentCount && !frame->argumentTexts[(size_t)index].empty()) {
        where += "：";
        where += frame->argumentTexts[(size_t)index];
    }
    char head[96];
    snprintf(head, sizeof head, "参数类型不应该是%c型，而应该是%c型：\r\n", type, want);
    frame->error = head + where;
    frame->errorSet = true;
    return QO_ERROR;
}

const QoValue* Argument(int argc, const QoValue* argv, int index, char type) {
    if (!argv || index < 0 || index >= argc || argv[index].type != type) return nullptr;
    return &argv[index];
}

}  // namespace

extern "C" {

QO_API QoValue ruqo_ValueNone(void) { return QoValue{'Z', 0, nullptr, 0, 0, nullptr}; }

QO_API QoValue ruqo_ValueNumber(double number) { return QoValue{'N', number, nullptr, 0, 0, nullptr}; }

QO_API QoValue ruqo_ValueText(const char* text, long length) {
    if (!text) text = "";
    const size_t n = length < 0 ? strlen(text) : (size_t)length;
    try {
        return QoValue{'S', 0, KeepValueText(text, n), (long)n, 0, nullptr};
    } catch (...) {
        return QoValue{'S', 0, nullptr, -1, 0, nullptr};  // refused where it is used
    }
}

QO_API QoValue ruqo_ValueObject(uintptr_t pointer, const char* extType) {
    return QoValue{'P', 0, nullptr, 0, pointer, extType};
}

QO_API int ruqo_RegisterFunction(QoInterp* interp, const char* name, QoHostFunction function, void* userData,
                                 void (*release)(void* userData)) {
    if (!IsHandle(interp) || !IsHostFunctionName(name)) return QO_MISUSE;
    QoLRunContext* run = interp->qo->m_pRun;
    if (run->hostFunctions && run->hostFunctions->running > 0) return QO_MISUSE;
    try {
        if (!run->hostFunctions) {
            if (!function) return QO_NOTFOUND;
            run->hostFunctions.reset(new HostFunctions(interp));
        }
        return run->hostFunctions->Set(name, function, userData, release);
    } catch (const std::bad_alloc&) {
        return QO_NOMEM;
    }
}

QO_API int ruqo_Error(QoInterp* interp, const char* format, ...) {
    HostCallFrame* frame = IsHandle(interp) ? CurrentHostCall(interp) : nullptr;
    if (!frame) return QO_MISUSE;
    if (!format) format = "";
    try {
        va_list args;
        va_start(args, format);
        char small[256];
        va_list again;
        va_copy(again, args);
        const int n = vsnprintf(small, sizeof small, format, args);
        va_end(args);
        if (n < 0) {
            frame->error = format;
        } else if ((size_t)n < sizeof small) {
            frame->error.assign(small, (size_t)n);
        } else {
            frame->error.assign((size_t)n + 1, '\0');
            vsnprintf(&frame->error[0], (size_t)n + 1, format, again);
            frame->error.resize((size_t)n);
        }
        va_end(again);
    } catch (...) {
        frame->error = "内存资源不足";
    }
    frame->errorSet = true;
    return QO_ERROR;
}

QO_API int ruqo_CheckNumber(QoInterp* interp, int argc, const QoValue* argv, int index, double* number) {
    const QoValue* v = Argument(argc, argv, index, 'N');
    if (!v) return ArgumentError(interp, argc, argv, index, 'N');
    if (number) *number = v->number;
    return QO_OK;
}

QO_API int ruqo_CheckInteger(QoInterp* interp, int argc, const QoValue* argv, int index, long long* number) {
    const QoValue* v = Argument(argc, argv, index, 'N');
    if (!v) return ArgumentError(interp, argc, argv, index, 'N');
    // The integer part, as the language's integer conversions take it.
    const double d = v->number;
    if (number) *number = (d > -9223372036854775808.0 && d < 9223372036854775808.0) ? (long long)d : INT64_MIN;
    return QO_OK;
}

QO_API int ruqo_CheckText(QoInterp* interp, int argc, const QoValue* argv, int index, const char** text,
                          size_t* length) {
    const QoValue* v = Argument(argc, argv, index, 'S');
    if (!v) return ArgumentError(interp, argc, argv, index, 'S');
    if (text) *text = v->text ? v->text : "";
    if (length) *length = v->length > 0 ? (size_t)v->length : 0;
    return QO_OK;
}

QO_API int ruqo_CheckPointer(QoInterp* interp, int argc, const QoValue* argv, int index, const char* extType,
                             uintptr_t* pointer) {
    const QoValue* v = Argument(argc, argv, index, 'P');
    if (v && extType && strcmp(v->extType ? v->extType : "", extType) != 0) v = nullptr;
    if (!v) return ArgumentError(interp, argc, argv, index, 'P');
    if (pointer) *pointer = v->pointer;
    return QO_OK;
}

QO_API int ruqo_GetArray(QoInterp* interp, const char* name, int* rows, int* columns, QoValue* cells,
                         size_t capacity) {
    if (rows) *rows = 0;
    if (columns) *columns = 0;
    if (!IsHandle(interp) || !name || !*name) return QO_MISUSE;
    CQoLanguage* qo = interp->qo;
    try {
        SavedValue saved(qo);
        VarArray* array = FindArray(qo, name);
        if (!array) return QO_NOTFOUND;
        const int r = array->Rows(), c = array->Columns();
        if (rows) *rows = r;
        if (columns) *columns = c;
        if (!cells) return QO_OK;
        interp->arrayTexts.clear();
        size_t k = 0;
        for (int i = 0; i < r && k < capacity; ++i) {
            for (int j = 0; j < c && k < capacity; ++j, ++k) {
                QoValue& cell = cells[k];
                cell = QoValue{'Z', 0, nullptr, 0, 0, nullptr};
                const QoLVarDefine* record = array->CellIfCreated(i, j);
                if (!record) continue;
                LoadRecord(qo, record);
                switch (qo->m_cType) {
                case 'N':
                    cell.type = 'N';
                    cell.number = qo->m_dValue;
                    break;
                case 'S':
                    interp->arrayTexts.emplace_back(qo->m_strValue.view());
                    cell.type = 'S';
                    cell.text = interp->arrayTexts.back().c_str();
                    cell.length = (long)interp->arrayTexts.back().size();
                    break;
                case 'P':
                    cell.type = 'P';
                    cell.pointer = qo->m_pValue;
                    if (!qo->m_strExtType.IsEmpty()) {
                        interp->arrayTexts.emplace_back(qo->m_strExtType.view());
                        cell.extType = interp->arrayTexts.back().c_str();
                    }
                    break;
                default: break;
                }
            }
        }
        return QO_OK;
    } catch (const std::bad_alloc&) {
        return QO_NOMEM;
    } catch (...) {
        return QO_ERROR;
    }
}

QO_API int ruqo_SetArray(QoInterp* interp, const char* name, int rows, int columns, const QoValue* cells) {
    struct Drop {
        ~Drop() { DropOuterValueTexts(); }
    } drop;
    if (!IsHandle(interp) || !IsHostFunctionName(name) || rows < 1 || columns < 0 || columns > 255 || !cells)
        return QO_MISUSE;
    const size_t count = (size_t)rows * (size_t)(columns ? columns : 1);
    if (count > VarArray::kMaxCells) return QO_MISUSE;
    for (size_t k = 0; k < count; ++k)
        if (!IsValidHostValue(cells[k])) return QO_MISUSE;
    CQoLanguage* qo = interp->qo;
    try {
        std::string error;
        {
            SavedValue saved(qo);
            qo->m_strError.Empty();
            try {
                CatchScope catchScope(qo->m_pRun);
                const std::string whole = std::string(name) + "[]";
                if (FindArray(qo, name)) DoVariable(qo, whole.c_str(), 'r', 'B');
                std::string cell;
                for (size_t k = 0; k < count && qo->m_cType != 'X'; ++k) {
                    const QoValue& v = cells[k];
                    cell = name;
                    if (columns)
                        cell += "[" + std::to_string(k / (size_t)columns) + "," + std::to_string(k % (size_t)columns) + "]";
                    else
                        cell += "[" + std::to_string(k) + "]";
                    LoadHostValue(qo, v);
                    DoVariable(qo, cell.c_str(), qo->m_cType, 'B');
                }
            } catch (const QolUnwind&) {
            }
            if (qo->m_cType == 'X') error = std::string(qo->m_strError.view());
        }
        return qotool::host::StoreAnswer(interp, error);
    } catch (const std::bad_alloc&) {
        return QO_NOMEM;
    } catch (...) {
        return QO_ERROR;
    }
}

}  // extern "C"
