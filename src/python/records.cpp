#include "python/records.hpp"

#include <cstdint>

#include "boundary/fatal.hpp"

namespace tarnix {

namespace {

std::size_t byte_count(std::size_t count) {
    if (count > SIZE_MAX / sizeof(double)) panic("capacity overflow");
    return count * sizeof(double);
}

}  // namespace

DoubleBuffer DoubleBuffer::zeroed(std::size_t count) {
    DoubleBuffer buffer;
    if (count == 0) return buffer;
    auto* p = static_cast<double*>(std::calloc(count, sizeof(double)));
    if (p == nullptr) handle_alloc_error(byte_count(count));
    buffer.data_.reset(p);
    buffer.size_ = count;
    return buffer;
}

DoubleBuffer DoubleBuffer::uninitialized(std::size_t count) {
    DoubleBuffer buffer;
    if (count == 0) return buffer;
    auto* p = static_cast<double*>(std::malloc(byte_count(count)));
    if (p == nullptr) handle_alloc_error(byte_count(count));
    buffer.data_.reset(p);
    buffer.size_ = count;
    return buffer;
}

}  // namespace tarnix
