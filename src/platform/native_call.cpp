#include "platform/native_call.h"

#include <atomic>
#include <cstring>

#include <dlfcn.h>
#include <ffi.h>

#ifndef QOTOOL_FFI_SONAME
#error "QOTOOL_FFI_SONAME must be defined by the build"
#endif

namespace qotool::platform {

struct NativeSignature::Interface {
    ffi_cif cif;
    ffi_type* types[kMaxNativeArgs];
};

namespace {

// libffi, loaded at the first signature prepared: a run that makes no
// native call does not map it. Each native type has its libffi type, found
// by name; a library that cannot be loaded or lacks a name leaves every
// signature unprepared.
struct Ffi {
    decltype(&ffi_prep_cif) prepCif = nullptr;
    decltype(&ffi_prep_cif_var) prepCifVar = nullptr;
    decltype(&ffi_call) call = nullptr;
    ffi_type* types[(int)NativeType::kPointer + 1] = {};
};

const Ffi* LoadFfi() {
    static const Ffi* const ffi = []() -> const Ffi* {
        void* library = dlopen(QOTOOL_FFI_SONAME, RTLD_NOW | RTLD_LOCAL);
        if (!library) return nullptr;
        auto* made = new Ffi;
        made->prepCif = reinterpret_cast<decltype(&ffi_prep_cif)>(dlsym(library, "ffi_prep_cif"));
        made->prepCifVar = reinterpret_cast<decltype(&ffi_prep_cif_var)>(dlsym(library, "ffi_prep_cif_var"));
        made->call = reinterpret_cast<decltype(&ffi_call)>(dlsym(library, "ffi_call"));
        bool complete = made->prepCif && made->prepCifVar && made->call;
        const char* const names[] = {"ffi_type_void",  "ffi_type_sint8", "ffi_type_uint8",  "ffi_type_sint16",
                                     "ffi_type_sint32", "ffi_type_float", "ffi_type_double", "ffi_type_pointer"};
        static_assert(sizeof names / sizeof names[0] == sizeof made->types / sizeof made->types[0]);
        for (size_t i = 0; i < sizeof names / sizeof names[0]; ++i) {
            made->types[i] = static_cast<ffi_type*>(dlsym(library, names[i]));
            complete = complete && made->types[i];
        }
        if (complete) return made;  // stays loaded for the process
        delete made;
        dlclose(library);
        return nullptr;
    }();
    return ffi;
}

// The libffi type of a native type (void for a value outside the list).
ffi_type* TypeOf(const Ffi& ffi, NativeType type) {
    const size_t at = (size_t)type;
    return at < sizeof ffi.types / sizeof ffi.types[0] ? ffi.types[at] : ffi.types[0];
}

}  // namespace

NativeSignature::NativeSignature() = default;
NativeSignature::~NativeSignature() = default;

bool NativeSignature::Prepare(NativeType result, const NativeType* args, int count) {
    if (count < 0 || count > kMaxNativeArgs) return false;
    const Ffi* ffi = LoadFfi();
    if (!ffi) return false;
    auto made = std::make_unique<Interface>();
    for (int i = 0; i < count; ++i) {
        if (args[i] == NativeType::kVoid) return false;
        made->types[i] = TypeOf(*ffi, args[i]);
    }
    // Every declared argument counts as fixed: a declaration cannot say
    // where a variadic function's fixed part ends, and on x86-64 the two
    // conventions agree on every argument the declaration codes can make.
    ffi_type* const returned = TypeOf(*ffi, result);
    ffi_status status = count > 0 ? ffi->prepCifVar(&made->cif, FFI_DEFAULT_ABI, (unsigned)count, (unsigned)count,
                                                    returned, made->types)
                                  : ffi->prepCif(&made->cif, FFI_DEFAULT_ABI, 0, returned, made->types);
    if (status != FFI_OK) return false;
    interface_ = std::move(made);
    return true;
}

namespace {
std::atomic<bool> g_callsOn{true};
}  // namespace

void SetNativeCallsForTest(bool on) { g_callsOn.store(on, std::memory_order_relaxed); }

void NativeSignature::Call(void* function, void* result, void** args) const {
    if (!g_callsOn.load(std::memory_order_relaxed)) {
        memset(result, 0, 8);
        return;
    }
    if (!interface_ || !function) return;
    // A prepared signature means libffi is loaded.
    LoadFfi()->call(&interface_->cif, FFI_FN(function), result, args);
}

}  // namespace qotool::platform
