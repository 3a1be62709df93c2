// Storage for the large temporaries of a call (a number per row, a slot per
// label): a block of at least kLargeBytes is mapped from the system on its own
// and unmapped when freed, so that its memory goes back at once. The heap
// keeps what it frees for later, and after freeing a large block of its own
// it serves blocks up to that size from the heap too: a call's peak would be
// what it used plus what the heap kept.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <vector>

#include <sys/mman.h>

#include "core/fatal.hpp"

namespace tarnix {

inline constexpr std::size_t kLargeBytes = std::size_t{1} << 20;

// Under AddressSanitizer every block comes from malloc, which it checks.
#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool kMapLarge = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
inline constexpr bool kMapLarge = false;
#else
inline constexpr bool kMapLarge = true;
#endif
#else
inline constexpr bool kMapLarge = true;
#endif

// Aborts (as operator new does) when the memory is not there.
inline void* allocate_large(std::size_t bytes) {
    void* p = nullptr;
    if (kMapLarge && bytes >= kLargeBytes) {
        p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p == MAP_FAILED) p = nullptr;
    } else {
        p = std::malloc(bytes == 0 ? 1 : bytes);
    }
    if (p == nullptr) handle_alloc_error(bytes);
    return p;
}

// `bytes` as given to allocate_large.
inline void free_large(void* p, std::size_t bytes) noexcept {
    if (kMapLarge && bytes >= kLargeBytes) {
        munmap(p, bytes);
    } else {
        std::free(p);
    }
}

template <class T>
struct LargeAllocator {
    using value_type = T;
    LargeAllocator() noexcept = default;
    template <class U>
    LargeAllocator(const LargeAllocator<U>&) noexcept {}
    T* allocate(std::size_t n) {
        if (n > static_cast<std::size_t>(-1) / sizeof(T)) handle_alloc_error(static_cast<std::size_t>(-1));
        return static_cast<T*>(allocate_large(n * sizeof(T)));
    }
    void deallocate(T* p, std::size_t n) noexcept { free_large(p, n * sizeof(T)); }
    friend bool operator==(const LargeAllocator&, const LargeAllocator&) noexcept { return true; }
};

template <class T>
using LargeVector = std::vector<T, LargeAllocator<T>>;

}  // namespace tarnix
