// Reading every cell of a table into ColumnCells, column by column.
#pragma once

#include <cstddef>

#include "boundary/python.hpp"
#include "python/column_cells.hpp"

namespace tarnix {

// Cells come from item access source[(row, col)], or, when source is exactly a
// numpy.ndarray / numpy.memmap of that shape, straight from its buffer: object
// cells are the objects item access would return, numeric cells convert as
// float() of the returned scalar would.
void read_cells(PyObject* source, std::size_t rows, std::size_t cols, ColumnCells& cells);

}  // namespace tarnix
