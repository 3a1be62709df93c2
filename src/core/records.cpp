#include "core/records.hpp"

#include <cstdint>
#include <cstring>

#if defined(__GLIBC__)
#include <malloc.h>
#endif
#if defined(__linux__)
#include <sys/mman.h>
#endif

#include "core/fatal.hpp"
#include "core/large_alloc.hpp"
#include "pool/pool.hpp"

namespace tarnix {

namespace {

std::size_t byte_count(std::size_t count) {
    if (count > SIZE_MAX / sizeof(double)) panic("capacity overflow");
    return count * sizeof(double);
}

// A large block is backed by transparent huge pages where the system offers
// them on request: its first write faults in 2 MiB at a time instead of 4 KiB,
// which makes writing a fresh result a fraction of the kernel's work. Only the
// whole huge pages inside the block are marked; the block stays the
// allocator's, and a system that declines keeps its small pages.
void ask_for_huge_pages(void* block, std::size_t bytes) noexcept {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    constexpr std::size_t kLeast = std::size_t{8} << 20;
    constexpr std::uintptr_t kHuge = std::uintptr_t{2} << 20;
    if (bytes < kLeast) return;
    const auto first = (reinterpret_cast<std::uintptr_t>(block) + kHuge - 1) & ~(kHuge - 1);
    const auto last = (reinterpret_cast<std::uintptr_t>(block) + bytes) & ~(kHuge - 1);
    if (first < last) madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
#else
    (void)block;
    (void)bytes;
#endif
}

}  // namespace

void give_back_freed_memory() noexcept {
#if defined(__GLIBC__)
    malloc_trim(0);
#endif
}

DoubleBuffer DoubleBuffer::borrowed(const double* data) noexcept {
    DoubleBuffer buffer;
    buffer.data_ = std::unique_ptr<double[], FreeIfOwned>(const_cast<double*>(data), FreeIfOwned{false});
    return buffer;
}

namespace {

// In front of a block: its mapping's size, padded so the doubles stay aligned
// to a cache line.
constexpr std::size_t kHeader = 64;

}  // namespace

double* allocate_doubles(std::size_t count, bool zeroed) {
    const std::size_t bytes = byte_count(count);
    if (bytes > SIZE_MAX - kHeader) panic("capacity overflow");
    auto* base = static_cast<char*>(allocate_large(kHeader + bytes));
    ask_for_huge_pages(base, kHeader + bytes);
    // A mapped block's pages come zeroed.
    if (zeroed && !(kMapLarge && kHeader + bytes >= kLargeBytes)) std::memset(base + kHeader, 0, bytes);
    std::memcpy(base, &bytes, sizeof bytes);
    return reinterpret_cast<double*>(base + kHeader);
}

void free_doubles(double* p) noexcept {
    if (p == nullptr) return;
    char* base = reinterpret_cast<char*>(p) - kHeader;
    std::size_t bytes;
    std::memcpy(&bytes, base, sizeof bytes);
    free_large(base, kHeader + bytes);
}

DoubleBuffer DoubleBuffer::zeroed(std::size_t count) {
    DoubleBuffer buffer;
    if (count == 0) return buffer;
    buffer.data_.reset(allocate_doubles(count, true));
    return buffer;
}

DoubleBuffer DoubleBuffer::uninitialized(std::size_t count) {
    DoubleBuffer buffer;
    if (count == 0) return buffer;
    buffer.data_.reset(allocate_doubles(count, false));
    return buffer;
}

Matrix Matrix::view(const char* first, std::size_t rows, std::size_t cols, std::ptrdiff_t row_bytes,
                    std::ptrdiff_t col_bytes) {
    constexpr std::ptrdiff_t kItem = sizeof(double);
    // The data pointer is the lowest address: a reversed axis ends there.
    const char* lowest = first;
    if (row_bytes < 0 && rows > 0) lowest += row_bytes * static_cast<std::ptrdiff_t>(rows - 1);
    if (col_bytes < 0 && cols > 0) lowest += col_bytes * static_cast<std::ptrdiff_t>(cols - 1);
    return Matrix{DoubleBuffer::borrowed(reinterpret_cast<const double*>(lowest)), rows, cols, row_bytes / kItem,
                  col_bytes / kItem};
}

namespace {

// Whether an outer x inner matrix with these strides (in elements) lies in
// memory as one row-major block. An axis of length 1 may carry any stride.
bool lies_row_major(std::size_t outer, std::size_t inner, std::ptrdiff_t outer_stride,
                    std::ptrdiff_t inner_stride) noexcept {
    return outer == 0 || inner == 0 ||
           ((inner == 1 || inner_stride == 1) &&
            (outer == 1 || outer_stride == static_cast<std::ptrdiff_t>(inner)));
}

}  // namespace

bool Matrix::is_row_major_block() const noexcept {
    return lies_row_major(rows, cols, row_stride, col_stride);
}

bool Matrix::is_column_major_block() const noexcept {
    return lies_row_major(cols, rows, col_stride, row_stride);
}

bool Matrix::copy_into(double* out) const {
    const bool row_major = is_row_major_block();
    const bool column_major = !row_major && is_column_major_block();
    if (row_major || column_major) {
        pool::copy_doubles(out, origin(), rows * cols);
        return column_major;
    }
    const double* first = origin();
    for (std::size_t r = 0; r < rows; ++r) {
        const double* row = first + static_cast<std::ptrdiff_t>(r) * row_stride;
        for (std::size_t c = 0; c < cols; ++c) *out++ = row[static_cast<std::ptrdiff_t>(c) * col_stride];
    }
    return false;
}

}  // namespace tarnix
