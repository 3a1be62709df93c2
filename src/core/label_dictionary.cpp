#include "core/label_dictionary.hpp"

#include <optional>

namespace tarnix {

bool LabelDictionary::add(std::string_view label, const void* identity) {
    if (!labels_.indexed()) labels_.reindex();
    const std::uint64_t hash = hash64(label);
    // Near the limit a label is looked up at once, to know whether it is one
    // too many.
    if (labels_.size() + waiting_count_ + 1 > most_labels_) {
        flush();
        if (labels_.size() == most_labels_ && !labels_.find(label, hash)) return false;
        ids_.push_back(look_up(label, hash, identity));
        return true;
    }
    labels_.prefetch(label, hash);
    Waiting& row = next_waiting();
    row.label.assign(label);
    row.hash = hash;
    row.identity = identity;
    row.id = -1;
    return true;
}

LabelDictionary::Waiting& LabelDictionary::next_waiting() {
    if (waiting_count_ == kWaiting) look_up_oldest();
    return waiting_[(first_waiting_ + waiting_count_++) % kWaiting];
}

void LabelDictionary::look_up_oldest() {
    Waiting& row = waiting_[first_waiting_];
    ids_.push_back(row.id >= 0 ? row.id : look_up(row.label, row.hash, row.identity));
    first_waiting_ = (first_waiting_ + 1) % kWaiting;
    --waiting_count_;
}

std::int32_t LabelDictionary::look_up(std::string_view label, std::uint64_t hash, const void* identity) {
    const auto id = static_cast<std::int32_t>(labels_.get_or_insert(label, hash));
    if (identity != nullptr) recent_[slot_of(identity)] = Recent{identity, id};
    return id;
}

void LabelDictionary::flush() {
    while (waiting_count_ > 0) look_up_oldest();
}

}  // namespace tarnix
