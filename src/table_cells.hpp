// The cells of a table as read, column by column: numbers until the first
// cell of a column that is not one, labels from then on.
#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

#include "label_column.hpp"

namespace tarnix {

// A numeric column left where it lies: its cells are converted when the
// matrix is written. The memory must stay valid and unchanged until then.
struct StridedNumbers {
    const char* first = nullptr;  // the column's first cell
    std::ptrdiff_t stride = 0;    // bytes from one row to the next
    double (*load)(const char* cell, bool swapped) = nullptr;
    bool swapped = false;

    double at(std::size_t row) const noexcept {
        return load(first + static_cast<std::ptrdiff_t>(row) * stride, swapped);
    }
};

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
    // The whole of a numeric column, read later (see StridedNumbers).
    void set_strided(std::size_t col, StridedNumbers numbers) { strided_[col] = numbers; }

    // The column holds text from now on: the numbers read so far become
    // labels (rendered positionally).
    void turn_to_text(std::size_t col);

    bool is_string(std::size_t col) const { return is_string_[col] != 0; }
    // A numeric column's cells are numbers(col), or strided(col) when its load is set.
    const std::vector<double>& numbers(std::size_t col) const { return numbers_[col]; }
    const StridedNumbers& strided(std::size_t col) const { return strided_[col]; }
    const LabelColumn& labels(std::size_t col) const { return labels_[col]; }

private:
    std::size_t rows_;
    std::vector<char> is_string_;
    std::vector<std::vector<double>> numbers_;
    std::vector<StridedNumbers> strided_;
    std::vector<LabelColumn> labels_;
};

}  // namespace tarnix
