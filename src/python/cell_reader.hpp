// Reading every cell of a table into TableCells, column by column.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "boundary/python.hpp"
#include "core/table_cells.hpp"

namespace tarnix {

// Cells come from item access source[(row, col)], or, when source is exactly a
// numpy.ndarray / numpy.memmap of that shape, straight from its buffer: object
// cells are the objects item access would return, numeric cells convert as
// float() of the returned scalar would. Numeric columns of such an array are
// left in its buffer and converted by the column stage, so the source (or the
// column array) must be kept alive until that stage is done.
void read_cells(PyObject* source, std::size_t rows, std::size_t cols, TableCells& cells);

// Whether `column` is a plain 1-D ndarray of `rows` cells whose dtype
// read_column reads from the buffer.
bool readable_column(PyObject* column, std::size_t rows);

// The cells of one such column into column `into`.
void read_column(PyObject* column, std::size_t rows, std::size_t into, TableCells& cells);

// A column of Arrow strings, coded where it lies (the cells keep its
// arrays). Nulls read as NaN numbers or as pandas.NA, as `nan_nulls` says.
void read_arrow_texts(ArrowChunks chunks, bool nan_nulls, std::size_t into, TableCells& cells);

// A column of pandas' masked numbers from its values and mask (1-D arrays of
// `rows` readable numbers and of bools, kept alive by the caller until the
// column stage is done; `rows` each): numbers whatever they hold, NaN where
// masked.
void read_masked_column(PyObject* values, PyObject* mask, std::size_t into, TableCells& cells);

// A column of Arrow numbers (the cells keep its arrays): numbers whatever
// they hold, NaN for nulls.
void read_arrow_numbers(ArrowChunks chunks, std::size_t into, TableCells& cells);

// A categorical column from its categories' text and its codes (a 1-D
// ndarray of signed integers, one per row, kept alive by the caller until the
// column stage is done); missing cells read as NaN numbers.
void read_categorical_column(PyObject* codes, LabelList categories, std::size_t rows,
                             std::size_t into, TableCells& cells);

}  // namespace tarnix
