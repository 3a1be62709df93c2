// The text of one column read cell by cell, kept as a dictionary: each label
// once, each row its number (see LabelDictionary).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <string_view>
#include <vector>

#include "core/memo_table.hpp"

namespace tarnix {

// The text of a column: each label stored once and numbered as it arrives,
// each row the number of its label (4 bytes). The column stage then sorts
// only those labels and codes the rows from their numbers (code_numbered).
class LabelDictionary {
public:
    // Numbers are int32 (a categorical's codes, -1 for none).
    static constexpr std::size_t kMostLabels = std::numeric_limits<std::int32_t>::max();

    explicit LabelDictionary(std::size_t most_labels = kMostLabels) : most_labels_(most_labels) {}
    // Adds a row; false (and nothing added) when the label would be one too many.
    bool add(std::string_view label, const void* identity);
    // Adds a row whose cell is `identity`, if a cell of that identity was
    // added since forget_identities(); else false.
    bool add_known(const void* identity) {
        const Recent& recent = recent_[slot_of(identity)];
        if (recent.identity != identity) return false;
        push(recent.id);
        return true;
    }
    // The objects seen may be freed from now on, and their addresses reused.
    void forget_identities() noexcept { recent_.fill(Recent{}); }
    void reserve(std::size_t rows) { ids_.reserve(rows); }
    // No label is looked up until the next add: the index is freed, and the
    // next add builds it again.
    void end_lookups() { labels_.drop_index(); }

    const LabelList& labels() const noexcept { return labels_.labels(); }
    // Row r's label is labels()[ids()[r]].
    const LargeVector<std::int32_t>& ids() const noexcept { return ids_; }
    std::size_t size() const noexcept { return ids_.size(); }
    std::string_view operator[](std::size_t row) const noexcept {
        return labels_.view(static_cast<std::uint32_t>(ids_[row]));
    }

private:
    struct Recent {
        const void* identity = nullptr;
        std::int32_t id = 0;
    };
    static std::size_t slot_of(const void* identity) noexcept {
        return (reinterpret_cast<std::uintptr_t>(identity) >> 4) % kRecent;
    }
    void push(std::int32_t id) { ids_.push_back(id); }

    static constexpr std::size_t kRecent = 64;
    std::size_t most_labels_;
    MemoTable<std::uint32_t> labels_;
    LargeVector<std::int32_t> ids_;
    std::array<Recent, kRecent> recent_{};
};

}  // namespace tarnix
