// operator new over malloc, throwing std::bad_alloc when malloc returns
// null. Under AddressSanitizer the library's own operator new reports an
// allocation it cannot make as a crash; with this one, and ASAN_OPTIONS
// allocator_may_return_null=1 with a max_allocation_size_mb, a script that
// exhausts memory reaches the interpreter's out-of-memory handling exactly
// as it does in a normal build.
#include <cstdlib>
#include <new>

namespace {
void* Allocate(std::size_t n) {
    if (void* p = std::malloc(n ? n : 1)) return p;
    throw std::bad_alloc();
}
}  // namespace

void* operator new(std::size_t n) { return Allocate(n); }
void* operator new[](std::size_t n) { return Allocate(n); }
void* operator new(std::size_t n, const std::nothrow_t&) noexcept { return std::malloc(n ? n : 1); }
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept { return std::malloc(n ? n : 1); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
