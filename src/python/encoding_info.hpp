// The encoding record of one table: which columns were label-encoded and,
// for each, how its labels map to codes and back.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <absl/container/flat_hash_map.h>
#include <absl/hash/hash.h>

namespace tarnix {

// Drawn once per process from the OS; every map of the module hashes with it,
// so their iteration order differs from run to run and nothing may rely on it.
std::uint64_t hash_seed() noexcept;

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

// A 64-bit hash of a label on every platform, for code that takes bits of
// it (a size_t is 32 bits on 32-bit targets).
inline std::uint64_t hash64(std::string_view s) noexcept {
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

// label -> code; missing labels ("nan", "NaN", "<NA>") are present without one.
using LabelMap = absl::flat_hash_map<std::string, std::optional<std::uint64_t>, SeededHash, StringEq>;
// code -> label, the inverse of a LabelMap over the labels that have a code.
using CodeMap = absl::flat_hash_map<std::uint64_t, std::string, SeededHash>;

template <class V>
using ColumnMap = absl::flat_hash_map<std::size_t, V, SeededHash>;

struct EncodingInfo {
    ColumnMap<LabelMap> label_to_code;
    ColumnMap<CodeMap> code_to_label;
    std::vector<std::size_t> string_columns;  // strictly ascending
};

inline bool is_missing_label(std::string_view label) noexcept {
    return label == "nan" || label == "NaN" || label == "<NA>";
}

}  // namespace tarnix
