#include "platform/native_call.h"

#include <ffi.h>

namespace qotool::platform {

struct NativeSignature::Interface {
    ffi_cif cif;
    ffi_type* types[kMaxNativeArgs];
};

namespace {

ffi_type* FfiType(NativeType type) {
    switch (type) {
    case NativeType::kVoid: return &ffi_type_void;
    case NativeType::kInt8: return &ffi_type_sint8;
    case NativeType::kUInt8: return &ffi_type_uint8;
    case NativeType::kInt16: return &ffi_type_sint16;
    case NativeType::kInt32: return &ffi_type_sint32;
    case NativeType::kFloat: return &ffi_type_float;
    case NativeType::kDouble: return &ffi_type_double;
    case NativeType::kPointer: return &ffi_type_pointer;
    }
    return &ffi_type_void;
}

}  // namespace

NativeSignature::NativeSignature() = default;
NativeSignature::~NativeSignature() = default;

bool NativeSignature::Prepare(NativeType result, const NativeType* args, int count) {
    if (count < 0 || count > kMaxNativeArgs) return false;
    auto made = std::make_unique<Interface>();
    for (int i = 0; i < count; ++i) {
        if (args[i] == NativeType::kVoid) return false;
        made->types[i] = FfiType(args[i]);
    }
    // Every declared argument counts as fixed: a declaration cannot say
    // where a variadic function's fixed part ends, and on x86-64 the two
    // conventions agree on every argument the declaration codes can make.
    ffi_status status = count > 0 ? ffi_prep_cif_var(&made->cif, FFI_DEFAULT_ABI, (unsigned)count, (unsigned)count,
                                                     FfiType(result), made->types)
                                  : ffi_prep_cif(&made->cif, FFI_DEFAULT_ABI, 0, FfiType(result), made->types);
    if (status != FFI_OK) return false;
    interface_ = std::move(made);
    return true;
}

void NativeSignature::Call(void* function, void* result, void** args) const {
    if (!interface_ || !function) return;
    ffi_call(&interface_->cif, FFI_FN(function), result, args);
}

}  // namespace qotool::platform
