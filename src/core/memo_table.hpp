// Distinct labels numbered in order of arrival: each label's bytes kept once
// in one arena and found again by its bytes (a memo table). Every
// deduplication of labels goes through one.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "core/encoding_info.hpp"
#include "pool/pool.hpp"

namespace tarnix {

// Labels one after another in one byte arena. Moving the list leaves its
// bytes where they are, so views of its labels stay valid.
class LabelList {
public:
    template <class Strings>
    static LabelList of(const Strings& labels) {
        LabelList list;
        list.reserve(std::size(labels));
        for (const auto& label : labels) list.push_back(label);
        return list;
    }

    void push_back(std::string_view label) {
        bytes_.insert(bytes_.end(), label.begin(), label.end());
        ends_.push_back(bytes_.size());
    }
    std::size_t size() const noexcept { return ends_.size(); }
    bool empty() const noexcept { return ends_.empty(); }
    std::string_view operator[](std::size_t i) const noexcept {
        const std::size_t begin = i == 0 ? 0 : ends_[i - 1];
        return std::string_view(bytes_.data() + begin, ends_[i] - begin);
    }
    void reserve(std::size_t labels) { ends_.reserve(labels); }

private:
    std::vector<char> bytes_;
    std::vector<std::size_t> ends_;  // label i is bytes_[ends_[i - 1], ends_[i])
};

// The first eight bytes of a label, zero-padded, as a big-endian integer:
// when two prefixes differ they order the labels as their bytes do.
inline std::uint64_t prefix_of(std::string_view label) noexcept {
    unsigned char bytes[8] = {};
    // An empty label may view no memory at all (a null pointer).
    if (!label.empty()) std::memcpy(bytes, label.data(), std::min<std::size_t>(label.size(), 8));
    std::uint64_t prefix = 0;
    for (unsigned char byte : bytes) prefix = (prefix << 8) | byte;
    return prefix;
}

// The numbers 0..count-1 in byte order of label_of(number) (std::string_view
// compares bytes as unsigned, the shorter first on a tie); equal labels in any
// order.
template <class Id, class LabelOf>
std::vector<Id> byte_order(std::size_t count, const LabelOf& label_of) {
    struct Key {
        std::uint64_t prefix;
        Id id;
    };
    std::vector<Key> keys(count);
    for (std::size_t id = 0; id < count; ++id) keys[id] = Key{prefix_of(label_of(id)), static_cast<Id>(id)};
    // The prefixes decide unless equal; then the whole labels do.
    pool::sort_unstable(keys.begin(), keys.end(), [&](const Key& a, const Key& b) {
        if (a.prefix != b.prefix) return a.prefix < b.prefix;
        return label_of(a.id) < label_of(b.id);
    });
    std::vector<Id> order(count);
    for (std::size_t at = 0; at < count; ++at) order[at] = keys[at].id;
    return order;
}

// Ids are 0, 1, 2, ... in order of first insertion. The index is open
// addressing with linear probing, at most half full; a slot keeps 32 bits of
// its label's hash, which pick its place, filter the comparisons and let the
// index grow without reading a label again. A table starts small (16 slots)
// and doubles; the arena is its only other allocation.
//
// `hash` arguments are hash64(label); the overloads without one compute it.
template <class Id = std::uint32_t>
class MemoTable {
public:
    // Nothing is allocated until the first label, unless labels are expected.
    explicit MemoTable(std::size_t expected_labels = 0) {
        if (expected_labels == 0) return;
        std::size_t slots = kMinSlots;
        while (slots < 2 * expected_labels) slots *= 2;
        slots_.assign(slots, Slot{});
        mask_ = slots - 1;
        labels_.reserve(expected_labels);
    }

    // The id of `label`; a label not seen before gets the next id (second: true).
    std::pair<Id, bool> insert(std::string_view label, std::uint64_t hash) {
        // Room for one more label, so the probe ends at a free slot.
        if (2 * (labels_.size() + 1) > slots_.size()) grow();
        const auto tag = static_cast<std::uint32_t>(hash);
        for (std::size_t at = tag & mask_;; at = (at + 1) & mask_) {
            Slot& slot = slots_[at];
            if (slot.id == kEmpty) {
                const auto id = static_cast<Id>(labels_.size());
                labels_.push_back(label);
                slot = Slot{tag, id};
                return {id, true};
            }
            if (slot.tag == tag && labels_[slot.id] == label) return {slot.id, false};
        }
    }
    Id get_or_insert(std::string_view label, std::uint64_t hash) { return insert(label, hash).first; }
    Id get_or_insert(std::string_view label) { return insert(label, hash64(label)).first; }

    // The batch form: ids[i] = get_or_insert(label_of(i)) for i in [0, count).
    // Labels are hashed a group at a time, their slots fetched ahead of the
    // lookups.
    template <class LabelOf>
    void get_or_insert_all(std::size_t count, const LabelOf& label_of, Id* ids) {
        constexpr std::size_t kGroup = 16;
        std::string_view labels[kGroup];
        std::uint64_t hashes[kGroup];
        if (slots_.empty()) grow();
        for (std::size_t first = 0; first < count; first += kGroup) {
            const std::size_t group = std::min(kGroup, count - first);
            for (std::size_t i = 0; i < group; ++i) {
                labels[i] = label_of(first + i);
                hashes[i] = hash64(labels[i]);
                __builtin_prefetch(&slots_[static_cast<std::uint32_t>(hashes[i]) & mask_]);
            }
            for (std::size_t i = 0; i < group; ++i) ids[first + i] = insert(labels[i], hashes[i]).first;
        }
    }

    std::optional<Id> find(std::string_view label, std::uint64_t hash) const noexcept {
        if (slots_.empty()) return std::nullopt;
        const auto tag = static_cast<std::uint32_t>(hash);
        for (std::size_t at = tag & mask_;; at = (at + 1) & mask_) {
            const Slot& slot = slots_[at];
            if (slot.id == kEmpty) return std::nullopt;
            if (slot.tag == tag && labels_[slot.id] == label) return slot.id;
        }
    }
    std::optional<Id> find(std::string_view label) const noexcept { return find(label, hash64(label)); }

    std::size_t size() const noexcept { return labels_.size(); }
    std::string_view view(Id id) const noexcept { return labels_[id]; }
    const LabelList& labels() const noexcept { return labels_; }
    // The ids in byte order of their labels.
    std::vector<Id> ids_in_byte_order() const {
        return byte_order<Id>(size(), [this](std::size_t id) { return labels_[id]; });
    }
    // The labels, in id order, for views that outlive the table.
    LabelList take_labels() && { return std::move(labels_); }

private:
    static constexpr Id kEmpty = static_cast<Id>(~Id{0});
    static constexpr std::size_t kMinSlots = 16;
    struct Slot {
        std::uint32_t tag = 0;
        Id id = kEmpty;
    };

    void grow() {
        std::vector<Slot> old(std::max(kMinSlots, 2 * slots_.size()));
        old.swap(slots_);
        mask_ = slots_.size() - 1;
        for (const Slot& slot : old) {
            if (slot.id == kEmpty) continue;
            std::size_t at = slot.tag & mask_;
            while (slots_[at].id != kEmpty) at = (at + 1) & mask_;
            slots_[at] = slot;
        }
    }

    LabelList labels_;
    std::vector<Slot> slots_;
    std::size_t mask_ = 0;
};

}  // namespace tarnix
