// The labels of one text column, in row order: packed into one byte buffer,
// where a long label is stored once however many rows repeat it (the memory
// follows the distinct long text, not the total), or views of text that
// lives elsewhere for as long as the column.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include <absl/container/flat_hash_map.h>

#include "core/encoding_info.hpp"

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
        if (label.size() >= kSharedBytes && push_repeat(label)) return;
        bytes_.append(label);
        ends_.push_back(bytes_.size());
    }
    std::size_t size() const noexcept { return viewed_ ? views_.size() : ends_.size(); }
    bool empty() const noexcept { return size() == 0; }
    std::string_view operator[](std::size_t i) const noexcept {
        if (viewed_) return views_[i];
        const std::size_t begin = i == 0 ? 0 : ends_[i - 1];
        if (begin == ends_[i] && !repeats_.empty()) [[unlikely]] {
            if (auto it = repeats_.find(i); it != repeats_.end()) return view(it->second);
        }
        return std::string_view(bytes_).substr(begin, ends_[i] - begin);
    }
    void reserve(std::size_t labels) { ends_.reserve(labels); }

private:
    struct Span {
        std::size_t begin;
        std::size_t size;
    };
    std::string_view view(Span span) const noexcept { return std::string_view(bytes_).substr(span.begin, span.size); }

    // A long label stored before becomes a repeat of it (true); a new one is
    // remembered where it is about to be stored (false).
    bool push_repeat(std::string_view label) {
        const std::uint64_t hash = hash64(label);
        auto [it, inserted] = long_labels_.try_emplace(hash, Span{bytes_.size(), label.size()});
        // Two long labels with one 64-bit hash: the later one is simply stored again.
        if (inserted || view(it->second) != label) return false;
        repeats_.emplace(ends_.size(), it->second);
        ends_.push_back(bytes_.size());
        return true;
    }

    std::string bytes_;
    std::vector<std::size_t> ends_;  // label i is bytes_[ends_[i - 1], ends_[i]), or a repeat
    absl::flat_hash_map<std::size_t, Span> repeats_;           // row -> the stored label it repeats
    absl::flat_hash_map<std::uint64_t, Span> long_labels_;     // hash -> first copy of each long label
    std::vector<std::string_view> views_;                      // the labels, when viewed_
    bool viewed_ = false;
};

}  // namespace tarnix
