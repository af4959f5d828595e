// Calling native functions whose signature is known only at run time, with
// libffi's typed calls. A NativeSignature is prepared once (the call
// interface that libffi computes from the types) and then called any number
// of times with argument cells of those types.
//
// Every call is prepared for the variadic convention as well (the x86-64
// call sequence that libffi uses always tells the callee how many vector
// registers carry arguments), so printf-like functions work when the
// script declares the promoted types of their variable part (%4 for small
// integers, %g for floating-point numbers).
#ifndef QOTOOL_PLATFORM_NATIVE_CALL_H
#define QOTOOL_PLATFORM_NATIVE_CALL_H

#include <cstddef>
#include <cstdint>
#include <memory>

namespace qotool::platform {

enum class NativeType : uint8_t { kVoid, kInt8, kUInt8, kInt16, kInt32, kFloat, kDouble, kPointer };

// The most arguments a signature takes.
constexpr int kMaxNativeArgs = 24;

class NativeSignature {
public:
    NativeSignature();
    ~NativeSignature();
    NativeSignature(const NativeSignature&) = delete;
    NativeSignature& operator=(const NativeSignature&) = delete;

    // Prepares the call interface; false when libffi refuses the types or
    // count exceeds kMaxNativeArgs.
    bool Prepare(NativeType result, const NativeType* args, int count);

    // Calls function with args[i] pointing at a cell of the i-th type; the
    // result (widened to 64 bits for the integer types, as libffi returns
    // it) goes to result, which must hold 8 bytes.
    void Call(void* function, void* result, void** args) const;

private:
    struct Interface;
    std::unique_ptr<Interface> interface_;
};

// A seam for fuzzing the services: with calls off, Call calls nothing and
// leaves a zero result. A native function that a script declares wrongly
// may do anything to the process, which is what a native call is, not a
// fault of the library's.
void SetNativeCallsForTest(bool on);

}  // namespace qotool::platform

#endif
