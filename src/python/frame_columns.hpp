// The columns of a pandas DataFrame read one by one, without building the
// frame's 2-D "values" (which boxes every number of a mixed frame and every
// string of an Arrow-backed column).
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "boundary/ref.hpp"

namespace tarnix {

// How one column is read. Each kind gives the cells "values" would give.
struct FrameColumn {
    enum class Kind {
        Array,         // a plain 1-D ndarray: `source`
        Arrow,         // Arrow strings: `source` is an "arrow_array_stream" capsule
        Categorical,   // categories all exact str: `source` holds the codes (1-D ndarray)
        Masked,        // pandas' nullable numbers: `source` the values, `mask` (both 1-D ndarrays)
        ArrowNumbers,  // Arrow integers, floats or booleans: `source` as for Arrow
    };
    Kind kind = Kind::Array;
    Ref source;
    Ref mask;                             // Masked: true where a cell is missing
    bool nan_nulls = false;               // Arrow: nulls read as NaN (else as pandas.NA)
    std::vector<std::string> categories;  // Categorical: UTF-8 text of each category
};

// For an exact pandas.DataFrame: how each column is read. NumPy bool,
// integer, float and object dtypes and pandas' Python-backed strings as
// arrays; pandas' Arrow-backed strings; categoricals of str; pandas' masked
// numbers and Arrow-backed numbers as numbers, whatever they hold. A column of
// any other dtype is read as the objects "values" holds for it (its
// astype(object)) when "values" is an object array; nothing when it is not,
// or when pandas fails: then the whole frame is read through "values".
std::optional<std::vector<FrameColumn>> plain_frame_columns(PyObject* frame, std::size_t rows, std::size_t cols);

// Whether the frame has a column of numbers that "values" would box into
// objects of their own (pandas.NA for a missing one): masked or Arrow-backed.
bool has_number_extension_column(PyObject* frame);

}  // namespace tarnix
