// Reading a table cell by cell and encoding its text columns on the pool.
#pragma once

#include <cstddef>
#include <memory>

#include "boundary/python.hpp"
#include "core/records.hpp"

namespace tarnix {

struct Shape {
    std::size_t rows, cols;
};

// obj.shape, a pair of unsigned integers; anything else is a fatal error.
Shape read_shape(PyObject* obj);
// rows x cols, when that many doubles fit the address space with room to
// spare; a fatal error ("capacity overflow") otherwise.
std::size_t checked_cell_count(Shape shape);

struct EncodedTable {
    Matrix matrix;  // column-major for a DataFrame, else row-major
    std::unique_ptr<EncodingInfo> info;
};

// Cells come from obj itself, or from its "values" for a DataFrame. Every
// failure is a fatal internal error.
EncodedTable encode_object_array(PyObject* obj, const OUT& kind);

}  // namespace tarnix
