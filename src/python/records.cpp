#include "python/records.hpp"

#include <cstdint>

#include "boundary/fatal.hpp"
#include "pool/pool.hpp"

namespace tarnix {

namespace {

std::size_t byte_count(std::size_t count) {
    if (count > SIZE_MAX / sizeof(double)) panic("capacity overflow");
    return count * sizeof(double);
}

}  // namespace

DoubleBuffer DoubleBuffer::borrowed(const double* data) noexcept {
    DoubleBuffer buffer;
    buffer.data_ = std::unique_ptr<double[], FreeIfOwned>(const_cast<double*>(data), FreeIfOwned{false});
    return buffer;
}

DoubleBuffer DoubleBuffer::zeroed(std::size_t count) {
    DoubleBuffer buffer;
    if (count == 0) return buffer;
    auto* p = static_cast<double*>(std::calloc(count, sizeof(double)));
    if (p == nullptr) handle_alloc_error(byte_count(count));
    buffer.data_.reset(p);
    return buffer;
}

DoubleBuffer DoubleBuffer::uninitialized(std::size_t count) {
    DoubleBuffer buffer;
    if (count == 0) return buffer;
    auto* p = static_cast<double*>(std::malloc(byte_count(count)));
    if (p == nullptr) handle_alloc_error(byte_count(count));
    buffer.data_.reset(p);
    return buffer;
}

bool Matrix::is_row_major_block() const noexcept {
    return rows == 0 || cols == 0 ||
           ((cols == 1 || col_stride == 1) && (rows == 1 || row_stride == static_cast<std::ptrdiff_t>(cols)));
}

bool Matrix::is_column_major_block() const noexcept {
    return rows == 0 || cols == 0 ||
           ((rows == 1 || row_stride == 1) && (cols == 1 || col_stride == static_cast<std::ptrdiff_t>(rows)));
}

void Matrix::make_owned() {
    if (data.owned()) return;
    const std::size_t count = rows * cols;
    const auto length = [](std::ptrdiff_t stride) { return stride < 0 ? -stride : stride; };
    const auto r = static_cast<std::ptrdiff_t>(rows);
    const auto c = static_cast<std::ptrdiff_t>(cols);
    const bool row_block = (cols == 1 || length(col_stride) == 1) && (rows == 1 || length(row_stride) == c);
    const bool column_block = (rows == 1 || length(row_stride) == 1) && (cols == 1 || length(col_stride) == r);
    const bool block = count > 0 && (row_block || column_block);
    DoubleBuffer copy = DoubleBuffer::uninitialized(count);
    if (block) {
        // The lowest address of a block is the start of its data.
        pool::copy_doubles(copy.data(), data.data(), count);
        data = std::move(copy);
        return;
    }
    double* out = copy.data();
    for (std::size_t r = 0; r < rows; ++r) {
        for (std::size_t c = 0; c < cols; ++c) *out++ = at(r, c);
    }
    *this = row_major(std::move(copy), rows, cols);
}

}  // namespace tarnix
