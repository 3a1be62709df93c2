// The cells of a table as read, column by column: numbers until the first
// cell of a column that is not one, labels from then on.
#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

#include "label_column.hpp"

namespace tarnix {

class TableCells {
public:
    TableCells(std::size_t rows, std::size_t cols);

    std::size_t rows() const noexcept { return rows_; }
    std::size_t cols() const noexcept { return is_string_.size(); }

    // Cells of a column arrive in row order.
    void add_number(std::size_t col, double value) {
        auto& numbers = numbers_[col];
        if (numbers.capacity() == 0) numbers.reserve(rows_);
        numbers.push_back(value);
    }
    void add_label(std::size_t col, std::string_view label) { labels_[col].push_back(label); }

    // The column holds text from now on: the numbers read so far become
    // labels (rendered positionally).
    void turn_to_text(std::size_t col);

    bool is_string(std::size_t col) const { return is_string_[col] != 0; }
    const std::vector<double>& numbers(std::size_t col) const { return numbers_[col]; }
    const LabelColumn& labels(std::size_t col) const { return labels_[col]; }

private:
    std::size_t rows_;
    std::vector<char> is_string_;
    std::vector<std::vector<double>> numbers_;
    std::vector<LabelColumn> labels_;
};

}  // namespace tarnix
