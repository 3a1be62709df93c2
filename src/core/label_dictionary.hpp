// The text of one column read cell by cell, kept as a dictionary: each label
// once, each row its number (see LabelDictionary).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>

#include "core/large_alloc.hpp"
#include "core/memo_table.hpp"

namespace tarnix {

// The text of a column: each label stored once and numbered as it arrives,
// each row the number of its label (4 bytes). The column stage then sorts
// only those labels and codes the rows from their numbers (code_numbered).
//
// A label is looked up a few rows after it arrives, its slot of the index
// fetched meanwhile: a large dictionary's index does not fit in the cache,
// and the cells read in between hide the wait. flush() looks up every label
// that waits; what reads the rows (size, ids, operator[]) wants it done.
class LabelDictionary {
public:
    // Numbers are int32 (a categorical's codes, -1 for none).
    static constexpr std::size_t kMostLabels = std::numeric_limits<std::int32_t>::max();

    explicit LabelDictionary(std::size_t most_labels = kMostLabels) : most_labels_(most_labels) {}
    // Adds a row; false (and nothing added) when the label would be one too many.
    bool add(std::string_view label, const void* identity);
    // Adds a row whose cell is `identity`, if a cell of that identity was
    // added (and looked up) since forget_identities(); else false.
    bool add_known(const void* identity) {
        const Recent recent = recent_[slot_of(identity)];
        if (recent.identity != identity) return false;
        Waiting& row = next_waiting();
        row.identity = nullptr;
        row.id = recent.id;
        return true;
    }
    // The objects seen may be freed from now on, and their addresses reused.
    void forget_identities() noexcept {
        recent_.fill(Recent{});
        for (Waiting& waiting : waiting_) waiting.identity = nullptr;
    }
    void reserve(std::size_t rows) { ids_.reserve(rows); }
    void flush();
    // No label is looked up until the next add: every waiting one is, and the
    // index is freed (the next add builds it again).
    void end_lookups() {
        flush();
        labels_.drop_index();
    }

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
    // A row whose label waits to be looked up, or whose number is known.
    struct Waiting {
        std::string label;  // a copy: the text it viewed may be gone by then
        std::uint64_t hash = 0;
        const void* identity = nullptr;
        std::int32_t id = -1;  // -1 until looked up
    };
    static std::size_t slot_of(const void* identity) noexcept {
        return (reinterpret_cast<std::uintptr_t>(identity) >> 4) % kRecent;
    }
    // Room for the next row at the end of the queue, made by looking up the
    // oldest waiting one when the queue is full.
    Waiting& next_waiting();
    void look_up_oldest();
    std::int32_t look_up(std::string_view label, std::uint64_t hash, const void* identity);

    static constexpr std::size_t kRecent = 64;
    static constexpr std::size_t kWaiting = 8;
    std::size_t most_labels_;
    MemoTable<std::uint32_t> labels_;
    LargeVector<std::int32_t> ids_;
    std::array<Recent, kRecent> recent_{};
    std::array<Waiting, kWaiting> waiting_{};
    std::size_t first_waiting_ = 0;
    std::size_t waiting_count_ = 0;
};

}  // namespace tarnix
