#include "core/table_cells.hpp"

#include <algorithm>

#include "core/render.hpp"

namespace tarnix {

void TableCells::turn_to_text(std::size_t col) {
    Column& target = column(col);
    target.is_string = true;
    for (double number : target.numbers) add_label(col, render_double(number));
    std::vector<double>().swap(target.numbers);
}

void TableCells::add_label(std::size_t col, std::string_view label, const void* identity) {
    Column& target = column(col);
    // Labels are stored one by one only once the dictionary had too many.
    if (target.labels.empty()) {
        if (!target.dictionary) {
            target.dictionary = std::make_unique<LabelDictionary>(dictionary_labels_);
            target.dictionary->reserve(reserved_rows());
            with_dictionary_.push_back(col);
        }
        if (target.dictionary->add(label, identity)) return;
        // One label too many: the rows so far are stored label by label.
        const LabelDictionary& few = *target.dictionary;
        target.labels.reserve(std::max(reserved_rows(), few.size() + 1));
        for (std::size_t row = 0; row < few.size(); ++row) target.labels.push_back(few[row]);
        target.dictionary.reset();
    }
    target.labels.push_back(label);
}

void TableCells::forget_identities() {
    for (std::size_t col : with_dictionary_) {
        if (auto& dictionary = columns_[col].dictionary) dictionary->forget_identities();
    }
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
