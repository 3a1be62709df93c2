// The labels of one text column, in row order, packed into one byte buffer.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace tarnix {

class LabelColumn {
public:
    LabelColumn() = default;
    template <class Strings>
    static LabelColumn of(const Strings& labels) {
        LabelColumn column;
        for (const auto& label : labels) column.push_back(label);
        return column;
    }

    void push_back(std::string_view label) {
        bytes_.append(label);
        ends_.push_back(bytes_.size());
    }
    std::size_t size() const noexcept { return ends_.size(); }
    bool empty() const noexcept { return ends_.empty(); }
    std::string_view operator[](std::size_t i) const noexcept {
        const std::size_t begin = i == 0 ? 0 : ends_[i - 1];
        return std::string_view(bytes_).substr(begin, ends_[i] - begin);
    }
    void reserve(std::size_t labels) { ends_.reserve(labels); }

private:
    std::string bytes_;
    std::vector<std::size_t> ends_;
};

}  // namespace tarnix
