// One object of type T per thread, made on the thread's first use and
// destroyed when the thread ends. The library's thread-local block holds
// only its pointer: hosts load the library at run time (dlopen, foreign
// function interfaces), where a big block does not fit glibc's small static
// reserve, so per-thread tables larger than a pointer or two live here.
#pragma once

#include <memory>

namespace qotool::platform {

template <class T>
T& PerThread() {
    thread_local std::unique_ptr<T> object;
    if (!object) object = std::make_unique<T>();
    return *object;
}

}  // namespace qotool::platform
