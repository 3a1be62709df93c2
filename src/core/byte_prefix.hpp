// The first eight bytes of a label as one number, for comparing labels by
// byte order a word at a time.
#pragma once

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace tarnix {

// The first eight bytes of a label, zero-padded, as a big-endian integer:
// when two prefixes differ they order the labels as their bytes do.
inline std::uint64_t prefix_of(std::string_view label) noexcept {
    unsigned char bytes[8] = {};
    // An empty label may view no memory at all (a null pointer).
    if (!label.empty()) std::memcpy(bytes, label.data(), std::min<std::size_t>(label.size(), 8));
    std::uint64_t prefix = 0;
    std::memcpy(&prefix, bytes, 8);
    if constexpr (std::endian::native == std::endian::little) prefix = __builtin_bswap64(prefix);
    return prefix;
}

}  // namespace tarnix
