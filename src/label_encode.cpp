#include "label_encode.hpp"

#include <cstring>
#include <limits>
#include <string_view>

#include "boundary/fatal.hpp"
#include "pool/pool.hpp"

namespace tarnix {

namespace {

// Byte order: unsigned bytes up to the shorter length, then the shorter first.
// std::string_view's comparison is exactly that (char_traits<char>::compare
// compares as unsigned char).
bool byte_less(std::string_view a, std::string_view b) noexcept { return a < b; }

constexpr double kMissingCode = std::numeric_limits<double>::quiet_NaN();

}  // namespace

LabelEncoding label_encode(std::span<const std::string> labels) {
    std::vector<std::string_view> sorted(labels.begin(), labels.end());
    pool::sort_unstable(sorted.begin(), sorted.end(), byte_less);

    std::size_t distinct = 0;
    for (std::size_t i = 0; i < sorted.size(); ++i) {
        if (i == 0 || sorted[i] != sorted[distinct - 1]) sorted[distinct++] = sorted[i];
    }
    sorted.resize(distinct);

    LabelEncoding result;
    result.label_map.reserve(distinct);
    std::uint64_t next_code = 0;
    for (std::string_view label : sorted) {
        if (is_missing_label(label)) {
            result.label_map.emplace(label, std::nullopt);
        } else {
            result.label_map.emplace(label, next_code++);
        }
    }

    result.codes.resize(labels.size());
    const LabelMap& map = result.label_map;
    pool::map_into(labels, std::span<double>(result.codes), [&map](const std::string& label) {
        auto it = map.find(std::string_view(label));
        if (it == map.end()) panic("label missing from its own column's label map");
        return it->second ? static_cast<double>(*it->second) : kMissingCode;
    });
    return result;
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
