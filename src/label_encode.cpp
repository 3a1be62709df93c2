#include "label_encode.hpp"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <numeric>
#include <string_view>

#include "boundary/fatal.hpp"
#include "pool/pool.hpp"

namespace tarnix {

namespace {

constexpr double kMissingCode = std::numeric_limits<double>::quiet_NaN();

// Byte order: unsigned bytes up to the shorter length, then the shorter first.
// std::string_view compares exactly so (char_traits<char> compares as
// unsigned char).
bool byte_less(std::string_view a, std::string_view b) noexcept { return a < b; }

// The first eight bytes of a label, zero-padded, as a big-endian integer:
// when two prefixes differ they order the labels as their bytes do.
std::uint64_t prefix_of(std::string_view label) noexcept {
    unsigned char bytes[8] = {};
    std::memcpy(bytes, label.data(), std::min<std::size_t>(label.size(), 8));
    std::uint64_t prefix = 0;
    for (unsigned char byte : bytes) prefix = (prefix << 8) | byte;
    return prefix;
}

template <class Id>
struct SortKey {
    std::uint64_t prefix;
    Id id;
};

// Each label is hashed once: the first pass gives every row the number of its
// distinct label (in order of first appearance); only the distinct labels are
// sorted; the codes of the rows are then read off by number.
template <class Id>
LabelEncoding encode(const LabelColumn& labels) {
    const std::size_t n = labels.size();
    absl::flat_hash_map<std::string_view, Id, SeededHash, StringEq> first_seen;
    std::vector<std::string_view> distinct;
    std::vector<Id> ids(n);
    for (std::size_t i = 0; i < n; ++i) {
        const std::string_view label = labels[i];
        auto [it, inserted] = first_seen.try_emplace(label, static_cast<Id>(distinct.size()));
        if (inserted) distinct.push_back(label);
        ids[i] = it->second;
    }

    // Sorting compares the first eight bytes as one integer and the whole
    // labels only when those are equal.
    std::vector<SortKey<Id>> order(distinct.size());
    for (std::size_t id = 0; id < distinct.size(); ++id) {
        order[id] = SortKey<Id>{prefix_of(distinct[id]), static_cast<Id>(id)};
    }
    pool::sort_unstable(order.begin(), order.end(), [&](const SortKey<Id>& a, const SortKey<Id>& b) {
        if (a.prefix != b.prefix) return a.prefix < b.prefix;
        return byte_less(distinct[a.id], distinct[b.id]);
    });

    LabelEncoding result;
    result.label_map.reserve(distinct.size());
    std::vector<double> code_of_id(distinct.size());
    std::uint64_t next_code = 0;
    for (const SortKey<Id>& key : order) {
        const Id id = key.id;
        const std::string_view label = distinct[id];
        if (is_missing_label(label)) {
            result.label_map.emplace(label, std::nullopt);
            code_of_id[id] = kMissingCode;
        } else {
            result.label_map.emplace(label, next_code);
            code_of_id[id] = static_cast<double>(next_code++);
        }
    }

    result.codes.resize(n);
    pool::map_into(std::span<const Id>(ids), std::span<double>(result.codes),
                   [&code_of_id](Id id) { return code_of_id[id]; });
    return result;
}

}  // namespace

LabelEncoding label_encode(const LabelColumn& labels) {
    if (labels.size() <= std::numeric_limits<std::uint32_t>::max()) {
        return encode<std::uint32_t>(labels);
    }
    return encode<std::uint64_t>(labels);
}

CodeMap code_map_of(const LabelMap& label_map) {
    CodeMap codes;
    codes.reserve(label_map.size());
    for (const auto& [label, code] : label_map) {
        if (code) codes.emplace(*code, label);
    }
    return codes;
}

}  // namespace tarnix
