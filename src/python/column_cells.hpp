// The cells of a table as read, column by column: numbers until the first
// cell of a column that does not convert to a double, labels from then on.
#pragma once

#include <cstddef>
#include <vector>

#include "boundary/python.hpp"
#include "label_column.hpp"

namespace tarnix {

class ColumnCells {
public:
    ColumnCells(std::size_t cols, std::size_t rows);

    // Classifies one cell of column col (cells of a column arrive in row order).
    void add(std::size_t col, PyObject* cell);
    // A cell known to be a number (read straight from a numeric buffer).
    void add_number(std::size_t col, double value) {
        if (numbers_[col].capacity() == 0) numbers_[col].reserve(rows_);
        numbers_[col].push_back(value);
    }

    bool is_string(std::size_t col) const { return is_string_[col] != 0; }
    const std::vector<double>& numbers(std::size_t col) const { return numbers_[col]; }
    const LabelColumn& labels(std::size_t col) const { return labels_[col]; }

private:
    void add_text(std::size_t col, PyObject* cell);
    void turn_to_text(std::size_t col);

    std::size_t rows_;
    std::vector<char> is_string_;
    std::vector<std::vector<double>> numbers_;
    std::vector<LabelColumn> labels_;
};

}  // namespace tarnix
