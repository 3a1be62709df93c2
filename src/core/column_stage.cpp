#include "core/column_stage.hpp"

#include <algorithm>
#include <atomic>
#include <functional>
#include <optional>

#include "core/arrow_many_labels.hpp"
#include "core/label_encode.hpp"
#include "pool/pool.hpp"

namespace tarnix {

namespace {

struct CodedColumn {
    std::size_t col;
    LabelCodes coded;                   // the codes, unless written where they go, and the distinct labels
    std::optional<CodedLabels> labels;  // the labels in code order, when made with the codes
};

// Tasks take blocks of whole rows, so no two of them write the same cache line
// (row-major) and every column is written in runs (column-major).
void write_matrix(const TableCells& cells, const std::vector<CodedColumn>& coded, SendPtr out, MatrixOrder order) {
    const std::size_t cols = cells.cols();
    // Each column's values: an array of doubles, or cells converted as they go.
    std::vector<const double*> sources(cols);
    std::vector<const StridedNumbers*> strided(cols);
    std::vector<const ArrowChunks*> arrow(cols);
    for (std::size_t col = 0; col < cols; ++col) {
        if (cells.is_string(col)) continue;
        if ((arrow[col] = cells.arrow_numbers(col)) != nullptr) continue;
        if (cells.strided(col).load != nullptr) {
            strided[col] = &cells.strided(col);
        } else {
            sources[col] = cells.numbers(col).data();
        }
    }
    for (const CodedColumn& column : coded) sources[column.col] = column.coded.codes.data();
    const std::size_t rows = cells.rows();
    if (order == MatrixOrder::ColumnMajor) {
        return pool::for_each_block(rows, [&](std::size_t begin, std::size_t end) {
            for (std::size_t col = 0; col < cols; ++col) {
                // Text columns got their codes as they were made.
                if (cells.is_string(col)) continue;
                const std::size_t first = col * rows;
                if (const double* source = sources[col]) {
                    for (std::size_t row = begin; row < end; ++row) out.write(first + row, source[row]);
                } else if (arrow[col] != nullptr) {
                    arrow[col]->read_numbers(begin, end, out.at(first + begin));
                } else {
                    strided[col]->read(begin, end, out.at(first + begin));
                }
            }
        });
    }
    pool::for_each_block(rows, [&](std::size_t begin, std::size_t end) {
        for (std::size_t row = begin; row < end; ++row) {
            for (std::size_t col = 0; col < cols; ++col) {
                if (arrow[col] != nullptr) {
                    arrow[col]->read_numbers(row, row + 1, out.at(row * cols + col));
                    continue;
                }
                out.write(row * cols + col, sources[col] != nullptr ? sources[col][row] : strided[col]->at(row));
            }
        }
    });
}

// Runs the tasks on the pool, largest first, each worker taking the next one
// when it is free.
void run_largest_first(std::vector<std::pair<std::size_t, std::function<void()>>>& tasks) {
    std::sort(tasks.begin(), tasks.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
    std::atomic<std::size_t> next{0};
    pool::for_each_index(std::min(tasks.size(), pool::worker_count()), [&](std::size_t) {
        for (std::size_t i = next++; i < tasks.size(); i = next++) tasks[i].second();
    });
}

}  // namespace

std::vector<ColumnResult> run_column_stage(TableCells& cells, SendPtr out, MatrixOrder order) {
    cells.end_reading();
    // First the codes of every text column, each column in its own task...
    std::vector<CodedColumn> coded =
        pool::filter_map<CodedColumn>(cells.cols(), [&](std::size_t col) -> std::optional<CodedColumn> {
            if (!cells.is_string(col)) return std::nullopt;
            // A column-major matrix takes a column's codes as they are made.
            double* into = order == MatrixOrder::ColumnMajor ? out.at(col * cells.rows()) : nullptr;
            if (const LabelDictionary* dictionary = cells.dictionary(col)) {
                CodedColumn column{col, {}, {}};
                if (into == nullptr) {
                    column.coded.codes.resize(cells.rows());
                    into = column.coded.codes.data();
                }
                column.labels = code_numbered(dictionary->labels(), dictionary->ids().data(), dictionary->size(), into);
                return column;
            }
            if (const CategoryColumn* categories = cells.categories(col)) {
                return CodedColumn{col, code_categories(*categories, into), {}};
            }
            if (const ArrowText* text = cells.arrow_text(col)) {
                if (auto few = code_few_labels(*text, into)) return CodedColumn{col, std::move(*few), {}};
                if (text->size() <= kManyLabelsRows) return CodedColumn{col, code_many_labels(*text, into), {}};
                return CodedColumn{col, code_labels(LabelColumn::of_views(text->views()), into), {}};
            }
            return CodedColumn{col, code_labels(cells.labels(col), into), {}};
        });

    // ...then, side by side, the matrix and the labels of every text column in
    // code order, whose sizes (the distinct labels) vary by orders of magnitude.
    std::vector<ColumnResult> results(coded.size());
    std::vector<std::pair<std::size_t, std::function<void()>>> tasks;
    tasks.emplace_back(cells.rows() * cells.cols() / 8, [&] { write_matrix(cells, coded, out, order); });
    for (std::size_t i = 0; i < coded.size(); ++i) {
        results[i].col = coded[i].col;
        if (coded[i].labels) {
            results[i].labels = std::move(*coded[i].labels);
            continue;
        }
        const std::size_t distinct = coded[i].coded.distinct.size();
        tasks.emplace_back(distinct, [&, i] { results[i].labels = coded_labels_of(coded[i].coded); });
    }
    run_largest_first(tasks);
    return results;
}

}  // namespace tarnix
