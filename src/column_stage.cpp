#include "column_stage.hpp"

#include <optional>

#include "label_encode.hpp"
#include "pool/pool.hpp"

namespace tarnix {

namespace {

std::vector<ColumnResult> encode_text_columns(const TableCells& cells) {
    return pool::filter_map<ColumnResult>(cells.cols(), [&](std::size_t col) -> std::optional<ColumnResult> {
        if (!cells.is_string(col)) return std::nullopt;
        LabelEncoding encoded = label_encode(cells.labels(col));
        CodeMap code_map = code_map_of(encoded.label_map);
        return ColumnResult{col, std::move(encoded.codes), std::move(encoded.label_map), std::move(code_map)};
    });
}

// Tasks take blocks of whole rows, so no two of them write the same cache line.
void write_matrix(const TableCells& cells, const std::vector<ColumnResult>& encoded, SendPtr out) {
    const std::size_t cols = cells.cols();
    std::vector<const double*> sources(cols);
    for (std::size_t col = 0; col < cols; ++col) {
        if (!cells.is_string(col)) sources[col] = cells.numbers(col).data();
    }
    for (const ColumnResult& result : encoded) sources[result.col] = result.codes.data();
    pool::for_each_block(cells.rows(), [&](std::size_t begin, std::size_t end) {
        for (std::size_t row = begin; row < end; ++row) {
            for (std::size_t col = 0; col < cols; ++col) out.write(row * cols + col, sources[col][row]);
        }
    });
}

}  // namespace

std::vector<ColumnResult> run_column_stage(const TableCells& cells, SendPtr out) {
    std::vector<ColumnResult> encoded = encode_text_columns(cells);
    if (cells.cols() > 0) write_matrix(cells, encoded, out);
    return encoded;
}

}  // namespace tarnix
