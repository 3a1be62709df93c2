// Classifying the cells of a table as they are read.
#pragma once

#include <cstddef>

#include "boundary/python.hpp"
#include "table_cells.hpp"

namespace tarnix {

// One cell of column col: a number while the column is numeric and the cell
// converts to a double (an exact float directly, anything else through
// float()); otherwise the column turns to text and takes str() of the cell.
void add_cell(TableCells& cells, std::size_t col, PyObject* cell);

}  // namespace tarnix
