// The labels of one text column, in row order: packed into one byte buffer,
// where a long label is stored once however many rows repeat it (the memory
// follows the distinct long text, not the total), or views of text that
// lives elsewhere for as long as the column.
#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

#include <absl/container/flat_hash_map.h>

#include "core/memo_table.hpp"

namespace tarnix {

class LabelColumn {
public:
    // Labels at least this long are looked up before they are stored.
    static constexpr std::size_t kSharedBytes = 64;

    LabelColumn() = default;
    template <class Strings>
    static LabelColumn of(const Strings& labels) {
        LabelColumn column;
        for (const auto& label : labels) column.push_back(label);
        return column;
    }

    // A column of views; what they view must outlive the column.
    static LabelColumn of_views(std::vector<std::string_view> views) {
        LabelColumn column;
        column.views_ = std::move(views);
        column.viewed_ = true;
        return column;
    }

    void push_back(std::string_view label) {
        if (label.size() >= kSharedBytes) {
            repeats_.emplace(rows_.size(), long_labels_.get_or_insert(label));
            label = {};
        }
        rows_.push_back(label);
    }
    std::size_t size() const noexcept { return viewed_ ? views_.size() : rows_.size(); }
    bool empty() const noexcept { return size() == 0; }
    std::string_view operator[](std::size_t i) const noexcept {
        if (viewed_) return views_[i];
        const std::string_view label = rows_[i];
        if (label.empty() && !repeats_.empty()) [[unlikely]] {
            if (auto it = repeats_.find(i); it != repeats_.end()) return long_labels_.view(it->second);
        }
        return label;
    }
    void reserve(std::size_t labels) { rows_.reserve(labels); }

private:
    LabelList rows_;                                        // a long label's row holds no bytes
    MemoTable<std::size_t> long_labels_;                    // each long label once
    absl::flat_hash_map<std::size_t, std::size_t> repeats_;  // row -> its long label's id
    std::vector<std::string_view> views_;                   // the labels, when viewed_
    bool viewed_ = false;
};

}  // namespace tarnix
