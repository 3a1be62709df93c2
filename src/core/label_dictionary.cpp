#include "core/label_dictionary.hpp"

#include <optional>

namespace tarnix {

bool LabelDictionary::add(std::string_view label, const void* identity) {
    const std::uint64_t hash = hash64(label);
    std::optional<std::uint32_t> found = labels_.find(label, hash);
    if (!found) {
        if (labels_.size() == kMostLabels) return false;
        found = labels_.get_or_insert(label, hash);
    }
    const auto id = static_cast<std::int32_t>(*found);
    if (identity != nullptr) recent_[slot_of(identity)] = Recent{identity, id};
    push(id);
    return true;
}

}  // namespace tarnix
