// The encoding record of one table: which columns were label-encoded and,
// for each, how its labels map to codes and back.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <absl/container/flat_hash_map.h>
#include <absl/hash/hash.h>

namespace tarnix {

// Drawn once per process from the OS; every map of the module hashes with it,
// so their iteration order differs from run to run and nothing may rely on it.
std::uint64_t draw_hash_seed() noexcept;
inline std::uint64_t hash_seed() noexcept {
    static const std::uint64_t seed = draw_hash_seed();
    return seed;
}

struct SeededHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view s) const noexcept {
        // absl's own string hash; std::string_view would fall back to std::hash.
        return absl::HashOf(hash_seed(), absl::string_view(s.data(), s.size()));
    }
    std::size_t operator()(std::uint64_t v) const noexcept {
        return absl::HashOf(hash_seed(), v);
    }
};

// A label of up to 8 bytes as a number that, with its length, tells it from
// every other such label: its bytes, the first lowest, zero-padded (what a
// little-endian load of the label gives). Read as two overlapping words of
// four bytes, or byte by byte when it has fewer than four.
inline std::uint64_t short_key(std::string_view label) noexcept {
    const auto* p = reinterpret_cast<const unsigned char*>(label.data());
    const std::size_t n = label.size();
    if (n >= 4) {
        auto word = [](const unsigned char* at) {
            return std::uint64_t{at[0]} | std::uint64_t{at[1]} << 8 | std::uint64_t{at[2]} << 16 |
                   std::uint64_t{at[3]} << 24;
        };
        return word(p) | word(p + n - 4) << (8 * (n - 4));
    }
    if (n == 0) return 0;
    return p[0] | (std::uint64_t{p[n >> 1]} << (8 * (n >> 1))) | (std::uint64_t{p[n - 1]} << (8 * (n - 1)));
}

// MurmurHash3's finalizer: each bit of v flips about half the bits.
inline std::uint64_t mix64(std::uint64_t v) noexcept {
    v ^= v >> 33;
    v *= 0xFF51AFD7ED558CCDULL;
    v ^= v >> 33;
    v *= 0xC4CEB9FE1A85EC53ULL;
    return v ^ (v >> 33);
}

// hash64 of a label of up to 8 bytes, from its short key and length (and
// the seed, which a caller may have read already).
inline std::uint64_t short_hash(std::uint64_t key, std::size_t size, std::uint64_t seed = hash_seed()) noexcept {
    return mix64(key ^ seed ^ (std::uint64_t{size} << 59));
}

// A 64-bit hash of a label on every platform, for code that takes bits of
// it (a size_t is 32 bits on 32-bit targets). A label of up to 8 bytes, as
// most are, is hashed from its short key.
inline std::uint64_t hash64(std::string_view s) noexcept {
    if (s.size() <= 8) return short_hash(short_key(s), s.size());
    const std::uint64_t first = SeededHash{}(s);
    if constexpr (sizeof(std::size_t) >= sizeof(std::uint64_t)) {
        return first;
    } else {
        const std::uint64_t second = absl::HashOf(~hash_seed(), absl::string_view(s.data(), s.size()));
        return (first << 32) | (second & 0xFFFFFFFFu);
    }
}

struct StringEq {
    using is_transparent = void;
    bool operator()(std::string_view a, std::string_view b) const noexcept { return a == b; }
};

// The labels of one encoded column in code order: code c is labels[c]. One
// byte arena and one offset per label, built once and never changed.
class CodedLabels {
public:
    CodedLabels() = default;
    CodedLabels(std::string bytes, std::vector<std::size_t> ends) : bytes_(std::move(bytes)), ends_(std::move(ends)) {}

    std::size_t size() const noexcept { return ends_.size(); }
    std::string_view operator[](std::size_t code) const noexcept {
        const std::size_t begin = code == 0 ? 0 : ends_[code - 1];
        return std::string_view(bytes_).substr(begin, ends_[code] - begin);
    }

private:
    std::string bytes_;
    std::vector<std::size_t> ends_;
};

// The record of one encoded table: which columns hold text and, for each, its
// labels in code order. Missing labels have no code and are not kept.
struct EncodingInfo {
    std::vector<std::size_t> string_columns;  // strictly ascending
    std::vector<CodedLabels> labels;          // labels[i] are those of string_columns[i]

    // The labels of column `col`, or nullptr when it was not encoded.
    const CodedLabels* labels_of(std::size_t col) const noexcept {
        auto it = std::lower_bound(string_columns.begin(), string_columns.end(), col);
        if (it == string_columns.end() || *it != col) return nullptr;
        return &labels[static_cast<std::size_t>(it - string_columns.begin())];
    }
};

}  // namespace tarnix
