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

// `count` numbers of some binary type, the first at `first` and each `stride`
// bytes after the one before, as doubles into out[0, count): what the type's
// NumberLoader gives for each, a whole run per call.
using NumberRunLoader = void (*)(const char* first, std::ptrdiff_t stride, std::size_t count, bool swapped,
                                 double* out);

// The run loader of a type whose NumberLoader is Load; numbers lying side by
// side in native byte order are read in a loop the compiler can vectorise.
template <class T, double (*Load)(const char*, bool)>
void load_run(const char* first, std::ptrdiff_t stride, std::size_t count, bool swapped, double* out) noexcept {
    if (!swapped && stride == static_cast<std::ptrdiff_t>(sizeof(T))) {
        for (std::size_t i = 0; i < count; ++i) out[i] = Load(first + i * sizeof(T), false);
        return;
    }
    for (std::size_t i = 0; i < count; ++i) out[i] = Load(first + static_cast<std::ptrdiff_t>(i) * stride, swapped);
}

template <class T>
void load_run_as_double(const char* first, std::ptrdiff_t stride, std::size_t count, bool swapped,
                        double* out) noexcept {
    load_run<T, load_as_double<T>>(first, stride, count, swapped, out);
}

// IEEE binary16. The conversion is exact; a NaN keeps its payload in the top
// bits of the double's, as NumPy moves it.
double load_half(const char* at, bool swapped);

// One byte: any value but 0 is true (1.0).
double load_bool(const char* at, bool swapped);

void load_run_half(const char* first, std::ptrdiff_t stride, std::size_t count, bool swapped, double* out) noexcept;
void load_run_bool(const char* first, std::ptrdiff_t stride, std::size_t count, bool swapped, double* out) noexcept;

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
