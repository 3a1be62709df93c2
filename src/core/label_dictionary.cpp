#include "core/label_dictionary.hpp"

namespace tarnix {

bool LabelDictionary::add(std::string_view label, const void* identity) {
    auto found = index_.find(label);
    std::int32_t id;
    if (found != index_.end()) {
        id = *found;
    } else {
        if (column_.categories.size() == kMostLabels) return false;
        id = static_cast<std::int32_t>(column_.categories.size());
        column_.categories.emplace_back(label);
        index_.insert(id);
    }
    if (identity != nullptr) recent_[slot_of(identity)] = Recent{identity, id};
    push(id);
    return true;
}

}  // namespace tarnix
