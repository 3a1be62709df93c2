// Numbers in binary buffers read as doubles, and doubles read as codes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <utility>

namespace tarnix {

// The T at `at` (any alignment), its bytes reversed when `swapped`.
template <class T>
T load(const char* at, bool swapped) {
    T value;
    std::memcpy(&value, at, sizeof value);
    if (swapped) {
        unsigned char bytes[sizeof value];
        std::memcpy(bytes, &value, sizeof value);
        for (std::size_t i = 0; i < sizeof value / 2; ++i) std::swap(bytes[i], bytes[sizeof value - 1 - i]);
        std::memcpy(&value, bytes, sizeof value);
    }
    return value;
}

// A number of some binary type at `at`, as a double: what float() of the
// NumPy scalar of that type gives.
using NumberLoader = double (*)(const char* at, bool swapped);

template <class T>
double load_as_double(const char* at, bool swapped) {
    return static_cast<double>(load<T>(at, swapped));
}

// IEEE binary16. The conversion is exact; a NaN keeps its payload in the top
// bits of the double's, as NumPy moves it.
double load_half(const char* at, bool swapped);

// One byte: any value but 0 is true (1.0).
double load_bool(const char* at, bool swapped);

// The code a (non-NaN) cell holds, saturating: negative -> 0, at or above
// 2^64 -> 2^64 - 1, otherwise truncated toward zero. Inline: decoding asks it
// of every cell twice.
inline std::uint64_t code_of(double value) noexcept {
    constexpr double kLargestBelowTwoTo64 = 18446744073709549568.0;
    if (value < 0) return 0;
    if (value > kLargestBelowTwoTo64) return std::numeric_limits<std::uint64_t>::max();
    return static_cast<std::uint64_t>(value);
}

}  // namespace tarnix
