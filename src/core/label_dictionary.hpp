// The text of one column kept as a dictionary while it has few distinct
// labels (see LabelDictionary).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "core/label_encode.hpp"
#include "core/memo_table.hpp"

namespace tarnix {

// The text of a column while it has few distinct labels: each label stored
// once and numbered as it arrives, each row the number of its label. The
// column stage then sorts only those labels and codes the rows from their
// numbers, like a categorical column.
class LabelDictionary {
public:
    static constexpr std::size_t kMostLabels = 4096;

    LabelDictionary() { refresh(); }
    LabelDictionary(const LabelDictionary&) = delete;  // the column points into it
    LabelDictionary& operator=(const LabelDictionary&) = delete;
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

    const CategoryColumn& as_categories() const noexcept { return column_; }
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
    void push(std::int32_t id) {
        ids_.push_back(id);
        refresh();
    }
    void refresh() noexcept {
        column_.codes = reinterpret_cast<const char*>(ids_.data());
        column_.rows = ids_.size();
    }

    static constexpr std::size_t kRecent = 64;
    MemoTable<std::uint32_t> labels_;
    CategoryColumn column_{&labels_.labels(), nullptr, sizeof(std::int32_t), sizeof(std::int32_t), 0, 0, {}, /*all_used=*/true};
    std::vector<std::int32_t> ids_;
    std::array<Recent, kRecent> recent_{};
};

}  // namespace tarnix
