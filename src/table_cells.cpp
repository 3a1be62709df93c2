#include "table_cells.hpp"

#include "python/render.hpp"

namespace tarnix {

void TableCells::turn_to_text(std::size_t col) {
    Column& target = column(col);
    target.is_string = true;
    target.labels.reserve(reserved_rows());
    for (double number : target.numbers) target.labels.push_back(render_double(number));
    std::vector<double>().swap(target.numbers);
}

void TableCells::settle_all() {
    for (std::size_t col : unsettled_) {
        Column& target = columns_[col];
        std::vector<double> numbers(rows_);
        for (std::size_t row = 0; row < rows_; ++row) numbers[row] = target.strided.at(row);
        target.numbers = std::move(numbers);
        target.strided = StridedNumbers{};
    }
    unsettled_.clear();
}

}  // namespace tarnix
