// The cells of a table as read, column by column: numbers until the first
// cell of a column that is not one, labels from then on.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/arrow_arrays.hpp"
#include "core/arrow_text.hpp"
#include "core/label_column.hpp"
#include "core/label_dictionary.hpp"
#include "core/label_encode.hpp"
#include "core/numbers.hpp"

namespace tarnix {

// A numeric column left where it lies: its cells are converted when the
// matrix is written, unless settle() copies them first.
// A masked column (pandas' nullable numbers) adds its mask: one byte per
// row, nonzero where the cell is missing, which reads as NaN.
struct StridedNumbers {
    const char* first = nullptr;  // the column's first cell
    std::ptrdiff_t stride = 0;    // bytes from one row to the next
    NumberLoader load = nullptr;
    NumberRunLoader load_run = nullptr;  // the same for a run of rows
    bool swapped = false;
    const char* missing = nullptr;       // the first row's mask byte, or nullptr
    std::ptrdiff_t missing_stride = 0;

    double at(std::size_t row) const noexcept {
        if (missing != nullptr && missing[static_cast<std::ptrdiff_t>(row) * missing_stride] != 0) {
            return std::numeric_limits<double>::quiet_NaN();
        }
        return load(first + static_cast<std::ptrdiff_t>(row) * stride, swapped);
    }
    // Rows [begin, end) into out[0, end - begin), as at() gives them.
    void read(std::size_t begin, std::size_t end, double* out) const noexcept {
        const auto from = static_cast<std::ptrdiff_t>(begin);
        load_run(first + from * stride, stride, end - begin, swapped, out);
        if (missing == nullptr) return;
        for (std::size_t row = begin; row < end; ++row) {
            if (missing[static_cast<std::ptrdiff_t>(row) * missing_stride] != 0) {
                out[row - begin] = std::numeric_limits<double>::quiet_NaN();
            }
        }
    }
};

// Nothing is sized by the table's claimed shape: columns come into being as
// their cells arrive, and room for a column's cells is reserved only up to a
// modest count unless the row count was proven.
class TableCells {
public:
    // A text column read cell by cell is a dictionary (each label once, a
    // number per row) up to `dictionary_labels` distinct labels, its labels
    // row by row from then on.
    TableCells(std::size_t rows, std::size_t cols, std::size_t dictionary_labels = LabelDictionary::kMostLabels)
        : rows_(rows), cols_(cols), dictionary_labels_(dictionary_labels) {}

    std::size_t rows() const noexcept { return rows_; }
    std::size_t cols() const noexcept { return cols_; }

    // The rows come from memory that holds them all (an array's own buffer).
    void trust_row_count() noexcept { rows_proven_ = true; }

    // Cells of a column arrive in row order, the columns in ascending order.
    void add_number(std::size_t col, double value) {
        auto& numbers = column(col).numbers;
        if (numbers.capacity() == 0) numbers.reserve(reserved_rows());
        numbers.push_back(value);
    }
    // `identity`: the cell the label is the str() of, when that object lives
    // until the cells are dropped and its str() cannot change; else nullptr.
    void add_label(std::size_t col, std::string_view label, const void* identity = nullptr);
    // Adds the label of a cell of this identity added before, if it can.
    bool add_known(std::size_t col, const void* identity) {
        Column& target = column(col);
        return target.dictionary && target.dictionary->add_known(identity);
    }
    // The whole of a numeric column, read later (see StridedNumbers). The
    // memory must stay valid until the matrix is written.
    void set_strided(std::size_t col, StridedNumbers numbers) {
        column(col).strided = numbers;
        unsettled_.push_back(col);
    }
    // Numeric columns left where they lie are copied now: code that could
    // change them is about to run, and a cell's value is the one it had when
    // it was read.
    // Identities of cells are forgotten too: the code may free them.
    void settle() {
        if (!unsettled_.empty()) settle_all();
        if (!with_dictionary_.empty()) forget_identities();
    }

    // No cell is read for a while: every label read is in its column, and
    // what serves only to read them is freed (a later add_label builds it
    // again).
    void end_reading() {
        for (std::size_t col : with_dictionary_) {
            if (auto& dictionary = columns_[col].dictionary) dictionary->end_lookups();
        }
    }

    // A whole categorical column at once, coded in the column stage. The
    // column keeps the text of the categories; codes.categories is set to it.
    void set_categories(std::size_t col, LabelList categories, CategoryColumn codes) {
        Column& target = column(col);
        target.is_string = true;
        target.category_labels = std::make_unique<LabelList>(std::move(categories));
        codes.categories = target.category_labels.get();
        target.categories = std::make_unique<CategoryColumn>(codes);
    }
    // A whole text column in Arrow memory, coded where it lies.
    void set_arrow_text(std::size_t col, ArrowText text) {
        Column& target = column(col);
        target.is_string = true;
        target.arrow_text = std::make_unique<ArrowText>(std::move(text));
    }
    // A whole numeric column in Arrow memory, which never changes.
    void set_arrow_numbers(std::size_t col, ArrowChunks numbers) {
        column(col).arrow_numbers = std::make_unique<ArrowChunks>(std::move(numbers));
    }

    // The column holds text from now on: the numbers read so far become
    // labels (rendered positionally).
    void turn_to_text(std::size_t col);

    bool is_string(std::size_t col) const { return col < columns_.size() && columns_[col].is_string; }
    // A numeric column's cells are numbers(col), strided(col) when its load
    // is set, or arrow_numbers(col) when that is not nullptr.
    const std::vector<double>& numbers(std::size_t col) const { return columns_.at(col).numbers; }
    const StridedNumbers& strided(std::size_t col) const { return columns_.at(col).strided; }
    const ArrowChunks* arrow_numbers(std::size_t col) const { return columns_.at(col).arrow_numbers.get(); }
    // A text column set by set_arrow_text, else nullptr.
    const ArrowText* arrow_text(std::size_t col) const { return columns_.at(col).arrow_text.get(); }
    const LabelColumn& labels(std::size_t col) const { return columns_.at(col).labels; }
    // A text column set by set_categories, else nullptr.
    const CategoryColumn* categories(std::size_t col) const { return columns_.at(col).categories.get(); }
    // A text column read cell by cell and held as a dictionary, else nullptr.
    const LabelDictionary* dictionary(std::size_t col) const { return columns_.at(col).dictionary.get(); }

    // A buffer of the call for text that has to be converted before it is added.
    std::string& scratch() noexcept { return scratch_; }

private:
    struct Column {
        bool is_string = false;
        std::vector<double> numbers;
        StridedNumbers strided;
        std::unique_ptr<ArrowChunks> arrow_numbers;
        std::unique_ptr<ArrowText> arrow_text;
        LabelColumn labels;
        std::unique_ptr<CategoryColumn> categories;
        std::unique_ptr<LabelList> category_labels;  // the text of `categories`
        std::unique_ptr<LabelDictionary> dictionary;  // up to dictionary_labels_ labels; `labels` from then on
    };

    Column& column(std::size_t col) {
        while (columns_.size() <= col) columns_.emplace_back();
        return columns_[col];
    }
    std::size_t reserved_rows() const noexcept {
        constexpr std::size_t kUnprovenRows = std::size_t{1} << 16;
        return rows_proven_ || rows_ < kUnprovenRows ? rows_ : kUnprovenRows;
    }
    void settle_all();
    void forget_identities();

    std::size_t rows_;
    std::size_t cols_;
    std::size_t dictionary_labels_;
    bool rows_proven_ = false;
    std::vector<Column> columns_;
    std::vector<std::size_t> unsettled_;
    std::vector<std::size_t> with_dictionary_;
    std::string scratch_;
};

}  // namespace tarnix
