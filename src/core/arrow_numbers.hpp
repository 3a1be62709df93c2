// Number columns in Arrow memory (integers, floats, booleans), chunk after
// chunk, read as float64: a null is NaN, true and false are 1 and 0, and an
// integer converts as a NumPy int64 or uint64 column does (to the nearest
// double).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "core/arrow_strings.hpp"

namespace tarnix {

enum class ArrowNumberType { Int8, UInt8, Int16, UInt16, Int32, UInt32, Int64, UInt64, Float32, Float64, Bool };

// The type of an Arrow format string of a primitive number ("c", "C", "s",
// "S", "i", "I", "l", "L", "f", "g") or of booleans ("b"); nothing for others.
std::optional<ArrowNumberType> arrow_number_type(const char* format) noexcept;

class ArrowNumbers {
public:
    explicit ArrowNumbers(ArrowNumberType type) noexcept : type_(type) {}

    // Checks the chunk's buffers and keeps it; its rows follow those of the
    // chunks before. A malformed chunk is a fatal error.
    void append(ArrowArrayOwned chunk);
    std::size_t size() const noexcept { return rows_; }

    // Rows [begin, end) as doubles into out[0 .. end - begin).
    void write(std::size_t begin, std::size_t end, double* out) const noexcept;

private:
    struct Chunk {
        std::size_t first_row;  // of the column
        std::size_t length;
        std::size_t offset;     // of the chunk's first cell in its buffers
        const std::uint8_t* validity;  // nullptr when no cell is null
        const void* values;
    };
    void write_chunk(const Chunk& chunk, std::size_t from, std::size_t count, double* out) const noexcept;

    ArrowNumberType type_;
    std::size_t rows_ = 0;
    std::vector<Chunk> chunks_;
    std::vector<ArrowArrayOwned> kept_;
};

}  // namespace tarnix
