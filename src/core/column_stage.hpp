// The parallel stage of encoding a table: every text column label-encoded in
// its own task, then every cell written into the row-major matrix.
#pragma once

#include <cstddef>
#include <vector>

#include "core/encoding_info.hpp"
#include "core/send_ptr.hpp"
#include "core/table_cells.hpp"

namespace tarnix {

struct ColumnResult {
    std::size_t col;
    CodedLabels labels;
};

enum class MatrixOrder { RowMajor, ColumnMajor };

// Writes all rows x cols cells through `out` (in `order`) and returns the text
// columns' results in ascending column order. Ends the reading of the cells
// first (TableCells::end_reading).
std::vector<ColumnResult> run_column_stage(TableCells& cells, SendPtr out,
                                           MatrixOrder order = MatrixOrder::RowMajor);

}  // namespace tarnix
