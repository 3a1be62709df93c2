#include "core/label_dictionary.hpp"

#include <optional>

namespace tarnix {

bool LabelDictionary::add(std::string_view label, const void* identity) {
    if (!labels_.indexed()) labels_.reindex();
    const std::uint64_t hash = hash64(label);
    std::uint32_t id;
    if (labels_.size() < most_labels_) {
        id = labels_.get_or_insert(label, hash);
    } else {
        const std::optional<std::uint32_t> found = labels_.find(label, hash);
        if (!found) return false;
        id = *found;
    }
    if (identity != nullptr) recent_[slot_of(identity)] = Recent{identity, static_cast<std::int32_t>(id)};
    push(static_cast<std::int32_t>(id));
    return true;
}

}  // namespace tarnix
