// A raw pointer into the matrix buffer that column tasks write through. Each
// task writes only its own column, so the writes never overlap; the pool's
// join orders them before the buffer is read. It does not own the buffer.
#pragma once

#include <cstddef>

namespace tarnix {

class SendPtr {
public:
    explicit SendPtr(double* base) noexcept : base_(base) {}
    void write(std::size_t index, double value) const noexcept { base_[index] = value; }
    // Where a task writing a whole run of elements starts.
    double* at(std::size_t index) const noexcept { return base_ + index; }

private:
    double* base_;
};

}  // namespace tarnix
