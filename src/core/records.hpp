// The records one conversion produces: what kind of object the table came
// from, the table of doubles, and (for tables read cell by cell) the encoding
// record.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "core/encoding_info.hpp"

namespace tarnix {

// What the input was. Keeps no Python object.
struct OUT {
    struct Array {};
    struct DataFrame {
        std::vector<std::string> columns;
    };
    std::variant<Array, DataFrame> kind;

    bool is_dataframe() const noexcept { return std::holds_alternative<DataFrame>(kind); }
};

// An owned block of doubles is mapped from the system on its own when it is
// large (see large_alloc.hpp): dropping it gives its memory back whatever
// the heap holds. Its size lies in front of it.
double* allocate_doubles(std::size_t count, bool zeroed);
void free_doubles(double* p) noexcept;

struct FreeIfOwned {
    bool owned = true;
    void operator()(double* p) const noexcept {
        if (owned) free_doubles(p);
    }
};

// A block of doubles: owned (uninitialised or zero-filled), or borrowed from
// memory someone else keeps alive.
class DoubleBuffer {
public:
    DoubleBuffer() = default;
    static DoubleBuffer zeroed(std::size_t count);
    static DoubleBuffer uninitialized(std::size_t count);
    static DoubleBuffer borrowed(const double* data) noexcept;

    double* data() noexcept { return data_.get(); }
    // Hands an owned block over: the caller frees it with free_doubles.
    double* release() noexcept { return data_.release(); }
    const double* data() const noexcept { return data_.get(); }
    bool owned() const noexcept { return data_.get_deleter().owned; }

private:
    std::unique_ptr<double[], FreeIfOwned> data_;
};

// rows x cols doubles; element (r, c) lies at origin + r*row_stride + c*col_stride,
// where the origin is shifted to the far end of every axis with a negative stride.
struct Matrix {
    DoubleBuffer data;
    std::size_t rows = 0;
    std::size_t cols = 0;
    std::ptrdiff_t row_stride = 0;
    std::ptrdiff_t col_stride = 1;

    static Matrix row_major(DoubleBuffer data, std::size_t rows, std::size_t cols) {
        return Matrix{std::move(data), rows, cols, static_cast<std::ptrdiff_t>(cols), 1};
    }
    static Matrix column_major(DoubleBuffer data, std::size_t rows, std::size_t cols) {
        return Matrix{std::move(data), rows, cols, 1, static_cast<std::ptrdiff_t>(rows)};
    }
    // A view of memory someone else keeps alive: element (0, 0) at `first`,
    // strides in bytes, whole doubles (either sign).
    static Matrix view(const char* first, std::size_t rows, std::size_t cols, std::ptrdiff_t row_bytes,
                       std::ptrdiff_t col_bytes);

    const double* origin() const noexcept {
        std::ptrdiff_t offset = 0;
        if (row_stride < 0 && rows > 0) offset -= row_stride * static_cast<std::ptrdiff_t>(rows - 1);
        if (col_stride < 0 && cols > 0) offset -= col_stride * static_cast<std::ptrdiff_t>(cols - 1);
        return data.data() + offset;
    }
    double at(std::size_t r, std::size_t c) const noexcept {
        return origin()[static_cast<std::ptrdiff_t>(r) * row_stride +
                        static_cast<std::ptrdiff_t>(c) * col_stride];
    }

    // Whether the elements form one gap-free block in row-major order (a
    // reversed axis does not) or in column-major order.
    bool is_row_major_block() const noexcept;
    bool is_column_major_block() const noexcept;

    // Writes every element to `out`: a row-major or column-major block in one
    // copy in its own order, anything else element by element in row-major
    // order. Returns whether `out` is in column-major order.
    bool copy_into(double* out) const;
};

// After a call that read a table of at least this many cells, the heap
// memory its temporaries freed is given back to the system (glibc keeps it
// otherwise; musl gives large blocks back by itself and has no way to ask).
inline constexpr std::size_t kTrimAfterCells = std::size_t{1} << 20;
void give_back_freed_memory() noexcept;

struct ConversionResult {
    OUT out;
    Matrix matrix;
    std::unique_ptr<EncodingInfo> info;  // absent for a float64 array copied as is
    std::shared_ptr<void> keep_alive;  // what a borrowed matrix views, when held here
};

}  // namespace tarnix
