// Exhausted memory is not a fault that a caller could handle: the module
// writes "memory allocation of <N> bytes failed" and aborts, instead of
// letting std::bad_alloc unwind through its frames.
//
// These replacements are local to the shared object (the version script
// exports nothing but the module's init function), so they serve only the
// module's own allocations, the kernel's included.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <new>

namespace {

[[noreturn]] void allocation_failed(std::size_t size) noexcept {
    char message[64];
    const int length = std::snprintf(message, sizeof message, "memory allocation of %zu bytes failed\n", size);
    if (length > 0) {
        (void)!::write(STDERR_FILENO, message, static_cast<std::size_t>(length));
    }
    std::abort();
}

void* allocate(std::size_t size) noexcept {
    void* memory = std::malloc(size == 0 ? 1 : size);
    if (memory == nullptr) {
        allocation_failed(size);
    }
    return memory;
}

}  // namespace

void* operator new(std::size_t size) { return allocate(size); }
void* operator new[](std::size_t size) { return allocate(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return std::malloc(size == 0 ? 1 : size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return std::malloc(size == 0 ? 1 : size); }
void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete[](void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }
void operator delete[](void* memory, std::size_t) noexcept { std::free(memory); }
void operator delete(void* memory, const std::nothrow_t&) noexcept { std::free(memory); }
void operator delete[](void* memory, const std::nothrow_t&) noexcept { std::free(memory); }
