#include "core/numbers.hpp"

#include <bit>
#include <cmath>

namespace tarnix {

double load_half(const char* at, bool swapped) {
    const auto half = load<std::uint16_t>(at, swapped);
    const std::uint64_t sign = static_cast<std::uint64_t>(half >> 15) << 63;
    const unsigned exponent = (half >> 10) & 0x1f;
    const std::uint64_t mantissa = half & 0x3ff;
    if (exponent == 0x1f) return std::bit_cast<double>(sign | (0x7ffULL << 52) | (mantissa << 42));
    if (exponent == 0) {
        const double magnitude = std::ldexp(static_cast<double>(mantissa), -24);
        return sign ? -magnitude : magnitude;
    }
    return std::bit_cast<double>(sign | (static_cast<std::uint64_t>(exponent - 15 + 1023) << 52) |
                                 (mantissa << 42));
}

double load_bool(const char* at, bool) { return *at != 0 ? 1.0 : 0.0; }

void load_run_half(const char* first, std::ptrdiff_t stride, std::size_t count, bool swapped, double* out) noexcept {
    load_run<std::uint16_t, load_half>(first, stride, count, swapped, out);
}

void load_run_bool(const char* first, std::ptrdiff_t stride, std::size_t count, bool swapped, double* out) noexcept {
    load_run<bool, load_bool>(first, stride, count, swapped, out);
}

}  // namespace tarnix
