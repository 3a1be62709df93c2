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
        Array,        // a plain 1-D ndarray: `source`
        Arrow,        // Arrow strings: `source` is an "arrow_array_stream" capsule
        Categorical,  // categories all exact str: `source` holds the codes (1-D ndarray)
    };
    Kind kind = Kind::Array;
    Ref source;
    bool nan_nulls = false;               // Arrow: nulls read as NaN (else as pandas.NA)
    std::vector<std::string> categories;  // Categorical: UTF-8 text of each category
};

// For an exact pandas.DataFrame whose every column is of one of those kinds
// (NumPy bool, integer, float and object dtypes and pandas' Python-backed
// strings as arrays; pandas' Arrow-backed strings; categoricals of str): how
// each column is read. Nothing otherwise.
std::optional<std::vector<FrameColumn>> plain_frame_columns(PyObject* frame, std::size_t rows, std::size_t cols);

}  // namespace tarnix
