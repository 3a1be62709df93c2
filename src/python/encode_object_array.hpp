// Reading a table cell by cell and encoding its text columns on the pool.
#pragma once

#include <memory>
#include <optional>

#include "boundary/python.hpp"
#include "core/records.hpp"

namespace tarnix {

struct EncodedTable {
    Matrix matrix;  // column-major for a DataFrame, else row-major
    std::unique_ptr<EncodingInfo> info;
};

// Cells come from obj itself, or from its "values" for a DataFrame. Every
// failure is a fatal internal error.
EncodedTable encode_object_array(PyObject* obj, const OUT& kind);

// The cells of a tall pandas frame whose every column is a float64 NumPy
// array; nothing for any other frame. The cells are those the frame's
// "values" would give: viewed where they lie when the columns are evenly
// spaced (`keep_alive` then holds the arrays), else copied column-major.
std::optional<Matrix> float_frame_matrix(PyObject* frame, std::shared_ptr<void>& keep_alive);

}  // namespace tarnix
