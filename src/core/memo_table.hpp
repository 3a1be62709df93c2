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

#include "core/byte_prefix.hpp"
#include "core/encoding_info.hpp"
#include "core/large_alloc.hpp"
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
        if (offsets_.empty()) offsets_.push_back(0);
        bytes_.insert(bytes_.end(), label.begin(), label.end());
        offsets_.push_back(bytes_.size());
    }
    std::size_t size() const noexcept { return offsets_.empty() ? 0 : offsets_.size() - 1; }
    bool empty() const noexcept { return offsets_.empty(); }
    std::string_view operator[](std::size_t i) const noexcept {
        return std::string_view(bytes_.data() + offsets_[i], offsets_[i + 1] - offsets_[i]);
    }
    void reserve(std::size_t labels) { offsets_.reserve(labels + 1); }
    // Fetches where label i lies, ahead of reading it.
    void prefetch(std::size_t i) const noexcept { __builtin_prefetch(&offsets_[i]); }

private:
    LargeVector<char> bytes_;
    LargeVector<std::size_t> offsets_;  // label i is bytes_[offsets_[i], offsets_[i + 1]); none while empty
};

// The numbers 0..count-1 in byte order of label_of(number) (std::string_view
// compares bytes as unsigned, the shorter first on a tie); equal labels in any
// order.
template <class Id, class LabelOf>
LargeVector<Id> byte_order(std::size_t count, const LabelOf& label_of) {
    // A label's first 12 bytes, zero-padded: when they differ they order the
    // labels as their bytes do.
    struct Key {
        std::uint64_t prefix;
        std::uint32_t next;
        Id id;
    };
    LargeVector<Key> keys(count);
    for (std::size_t id = 0; id < count; ++id) {
        const std::string_view label = label_of(id);
        const std::uint64_t next = prefix_of(label.substr(std::min<std::size_t>(8, label.size())));
        keys[id] = Key{prefix_of(label), static_cast<std::uint32_t>(next >> 32), static_cast<Id>(id)};
    }
    // The keys decide unless equal; then the whole labels do.
    pool::sort_unstable(keys.begin(), keys.end(), [&](const Key& a, const Key& b) {
        if (a.prefix != b.prefix) return a.prefix < b.prefix;
        if (a.next != b.next) return a.next < b.next;
        return label_of(a.id) < label_of(b.id);
    });
    LargeVector<Id> order(count);
    for (std::size_t at = 0; at < count; ++at) order[at] = keys[at].id;
    return order;
}

// Ids are 0, 1, 2, ... in order of first insertion. The index is open
// addressing with linear probing. A slot holds an id, its label's length and
// either the label itself, when it has up to 8 bytes (its short key: such a
// label is found without reading the arena), or the label's hash; either way
// the index grows without reading a label again. The index is allocated with
// the first label and doubles; the arena is the table's only other
// allocation.
//
// `hash` arguments are hash64(label) (a label of up to 8 bytes is placed by
// its short key, whatever its hash); the overloads without one compute it.
template <class Id = std::uint32_t>
class MemoTable {
    static constexpr Id kEmpty = static_cast<Id>(~Id{0});
    struct Slot {
        std::uint64_t key = 0;  // the short key of a short label, else its hash
        std::uint32_t size = 0;  // the label's length (at most 2^32 - 1: a filter beyond)
        Id id = kEmpty;
    };

public:
    // Nothing is allocated until the first label, unless labels are expected.
    explicit MemoTable(std::size_t expected_labels = 0) {
        if (expected_labels == 0) return;
        resize(slots_for(expected_labels));
        labels_.reserve(expected_labels);
    }
    MemoTable(MemoTable&& other) noexcept { *this = std::move(other); }
    MemoTable& operator=(MemoTable&& other) noexcept {
        labels_ = std::move(other.labels_);
        slots_ = std::move(other.slots_);
        mask_ = std::exchange(other.mask_, 0);
        probe_ = slots_.empty() ? kNoSlots : slots_.data();
        other.probe_ = kNoSlots;
        return *this;
    }

    // The id of `label`; a label not seen before gets the next id (second: true).
    std::pair<Id, bool> insert(std::string_view label, std::uint64_t hash) {
        const Slot wanted = slot_of(label, hash);
        std::size_t at = hash_of(wanted) & mask_;
        for (;; at = (at + 1) & mask_) {
            const Slot& slot = probe_[at];
            if (slot.id == kEmpty) break;
            if (holds(slot, wanted, label)) return {slot.id, false};
        }
        return {add(label, wanted, at), true};
    }
    Id get_or_insert(std::string_view label, std::uint64_t hash) { return insert(label, hash).first; }
    Id get_or_insert(std::string_view label) { return insert(label, hash64(label)).first; }

    // The batch form: ids[i] = get_or_insert(label_of(i)) for i in [0, count).
    // Labels are hashed a group at a time, ahead of their lookups.
    template <class LabelOf>
    void get_or_insert_all(std::size_t count, const LabelOf& label_of, Id* ids) {
        constexpr std::size_t kGroup = 16;
        std::string_view labels[kGroup];
        std::uint64_t hashes[kGroup];
        for (std::size_t first = 0; first < count; first += kGroup) {
            const std::size_t group = std::min(kGroup, count - first);
            for (std::size_t i = 0; i < group; ++i) {
                labels[i] = label_of(first + i);
                hashes[i] = hash64(labels[i]);
            }
            for (std::size_t i = 0; i < group; ++i) ids[first + i] = insert(labels[i], hashes[i]).first;
        }
    }

    // Fetches the label's first slot, ahead of its lookup.
    void prefetch(std::string_view label, std::uint64_t hash) const noexcept {
        __builtin_prefetch(&probe_[hash_of(slot_of(label, hash)) & mask_]);
    }

    std::optional<Id> find(std::string_view label, std::uint64_t hash) const noexcept {
        const Slot wanted = slot_of(label, hash);
        for (std::size_t at = hash_of(wanted) & mask_;; at = (at + 1) & mask_) {
            const Slot& slot = probe_[at];
            if (slot.id == kEmpty) return std::nullopt;
            if (holds(slot, wanted, label)) return slot.id;
        }
    }
    std::optional<Id> find(std::string_view label) const noexcept { return find(label, hash64(label)); }

    // Finds labels of 1 to 8 bytes by their short key and length in a table
    // that no label is added to meanwhile: only the index is read, and what
    // locates it is copied (a loop keeps it in registers).
    static constexpr Id kNone = kEmpty;
    class ShortFinder {
    public:
        // The label's id, or kNone when the table lacks it.
        Id operator()(std::uint64_t key, std::uint32_t size) const noexcept {
            for (std::size_t at = short_hash(key, size, seed_) & mask_;; at = (at + 1) & mask_) {
                const Slot& slot = slots_[at];
                // A free slot holds length 0, which no label looked up here has.
                if (slot.key == key && slot.size == size) return slot.id;
                if (slot.id == kEmpty) return kNone;
            }
        }

    private:
        friend class MemoTable;
        ShortFinder(const Slot* slots, std::size_t mask) noexcept : slots_(slots), mask_(mask) {}
        const Slot* slots_;
        std::size_t mask_;
        std::uint64_t seed_ = hash_seed();
    };
    ShortFinder short_finder() const noexcept { return ShortFinder(probe_, mask_); }

    std::size_t size() const noexcept { return labels_.size(); }
    std::string_view view(Id id) const noexcept { return labels_[id]; }
    const LabelList& labels() const noexcept { return labels_; }
    // The ids in byte order of their labels.
    std::vector<Id> ids_in_byte_order() const {
        const LargeVector<Id> order = byte_order<Id>(size(), [this](std::size_t id) { return labels_[id]; });
        return std::vector<Id>(order.begin(), order.end());
    }
    // The labels, in id order, for views that outlive the table.
    LabelList take_labels() && { return std::move(labels_); }

    // Frees the index of a table that no label is looked up in for a while;
    // reindex() builds it again (from hash64 of each label) before the next
    // lookup.
    void drop_index() noexcept {
        LargeVector<Slot>().swap(slots_);
        mask_ = 0;
        probe_ = kNoSlots;
    }
    bool indexed() const noexcept { return !slots_.empty() || labels_.empty(); }
    void reindex() {
        if (indexed()) return;
        resize(slots_for(labels_.size()));
        for (std::size_t id = 0; id < labels_.size(); ++id) {
            Slot slot = slot_of(labels_[id], hash64(labels_[id]));
            slot.id = static_cast<Id>(id);
            slots_[free_slot(hash_of(slot))] = slot;
        }
    }

private:
    static constexpr std::size_t kMinSlots = 16;
    static constexpr std::size_t kShort = 8;  // bytes of a label that its slot holds

    static Slot slot_of(std::string_view label, std::uint64_t hash) noexcept {
        const auto size = static_cast<std::uint32_t>(std::min<std::size_t>(label.size(), ~std::uint32_t{0}));
        return Slot{size <= kShort ? short_key(label) : hash, size, kEmpty};
    }
    // Whether the slot is the label's: a short label by its key and length
    // alone, a longer one by its bytes too.
    bool holds(const Slot& slot, const Slot& wanted, std::string_view label) const noexcept {
        return slot.key == wanted.key && slot.size == wanted.size &&
               (wanted.size <= kShort || labels_[slot.id] == label);
    }
    static std::uint64_t hash_of(const Slot& slot) noexcept {
        return slot.size <= kShort ? short_hash(slot.key, slot.size) : slot.key;
    }

    // Slots per label at least, by the size of the index: a lookup that steps
    // past another label's slot costs a mispredicted branch, which outweighs
    // the memory while the index is small enough for the cache.
    static constexpr std::size_t spread(std::size_t slots) noexcept {
        return slots <= 1024 ? 16 : slots <= 65536 ? 4 : 2;
    }

    static std::size_t slots_for(std::size_t labels) noexcept {
        std::size_t slots = kMinSlots;
        while (slots < labels * spread(slots)) slots *= 2;
        return slots;
    }

    // Stores a new label whose probe ended at the free slot `at`.
    [[gnu::noinline]] Id add(std::string_view label, Slot slot, std::size_t at) {
        if ((labels_.size() + 1) * spread(slots_.size()) > slots_.size()) {
            resize(std::max(kMinSlots, 2 * slots_.size()));
            at = free_slot(hash_of(slot));
        }
        slot.id = static_cast<Id>(labels_.size());
        labels_.push_back(label);
        slots_[at] = slot;
        return slot.id;
    }

    std::size_t free_slot(std::uint64_t hash) const noexcept {
        std::size_t at = hash & mask_;
        while (slots_[at].id != kEmpty) at = (at + 1) & mask_;
        return at;
    }

    void resize(std::size_t count) {
        LargeVector<Slot> old(count);
        old.swap(slots_);
        mask_ = count - 1;
        probe_ = slots_.data();
        for (const Slot& slot : old) {
            if (slot.id != kEmpty) slots_[free_slot(hash_of(slot))] = slot;
        }
    }

    // Probed until the first label: one free slot, never written.
    static constexpr Slot kNoSlots[1] = {};

    LabelList labels_;
    LargeVector<Slot> slots_;
    std::size_t mask_ = 0;
    const Slot* probe_ = kNoSlots;  // slots_, once it has any
};

}  // namespace tarnix
