#include "table_cells.hpp"

#include "python/render.hpp"

namespace tarnix {

TableCells::TableCells(std::size_t rows, std::size_t cols)
    : rows_(rows), is_string_(cols), numbers_(cols), strided_(cols), labels_(cols) {}

void TableCells::turn_to_text(std::size_t col) {
    is_string_[col] = 1;
    LabelColumn& labels = labels_[col];
    labels.reserve(rows_);
    for (double number : numbers_[col]) labels.push_back(render_double(number));
    std::vector<double>().swap(numbers_[col]);
}

}  // namespace tarnix
