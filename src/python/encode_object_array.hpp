// Reading a table cell by cell and encoding its text columns on the pool.
#pragma once

#include <memory>

#include "boundary/python.hpp"
#include "python/records.hpp"

namespace tarnix {

struct EncodedTable {
    Matrix matrix;  // column-major for a DataFrame, else row-major
    std::unique_ptr<EncodingInfo> info;
};

// Cells come from obj itself, or from its "values" for a DataFrame. Every
// failure is a fatal internal error.
EncodedTable encode_object_array(PyObject* obj, const OUT& kind);

}  // namespace tarnix
