// The module's own global allocation functions. An allocation that cannot be
// satisfied is not an error the module reports: it writes
// "memory allocation of N bytes failed" and aborts the process. The export
// map keeps these definitions local to the extension, so the host's own
// operator new is untouched.
#include <cstdlib>
#include <new>

#include "core/fatal.hpp"

namespace {

void* allocate(std::size_t bytes) noexcept { return std::malloc(bytes == 0 ? 1 : bytes); }

void* allocate_aligned(std::size_t bytes, std::align_val_t align) noexcept {
    void* p = nullptr;
    auto alignment = static_cast<std::size_t>(align);
    if (alignment < sizeof(void*)) alignment = sizeof(void*);
    return posix_memalign(&p, alignment, bytes == 0 ? 1 : bytes) == 0 ? p : nullptr;
}

void* allocate_or_abort(std::size_t bytes) {
    void* p = allocate(bytes);
    if (p == nullptr) tarnix::handle_alloc_error(bytes);
    return p;
}

void* allocate_aligned_or_abort(std::size_t bytes, std::align_val_t align) {
    void* p = allocate_aligned(bytes, align);
    if (p == nullptr) tarnix::handle_alloc_error(bytes);
    return p;
}

}  // namespace

void* operator new(std::size_t n) { return allocate_or_abort(n); }
void* operator new[](std::size_t n) { return allocate_or_abort(n); }
void* operator new(std::size_t n, std::align_val_t a) { return allocate_aligned_or_abort(n, a); }
void* operator new[](std::size_t n, std::align_val_t a) { return allocate_aligned_or_abort(n, a); }
void* operator new(std::size_t n, const std::nothrow_t&) noexcept { return allocate(n); }
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept { return allocate(n); }
void* operator new(std::size_t n, std::align_val_t a, const std::nothrow_t&) noexcept {
    return allocate_aligned(n, a);
}
void* operator new[](std::size_t n, std::align_val_t a, const std::nothrow_t&) noexcept {
    return allocate_aligned(n, a);
}

void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, std::align_val_t, const std::nothrow_t&) noexcept { std::free(p); }
