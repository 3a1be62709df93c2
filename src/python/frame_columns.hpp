// The columns of a pandas DataFrame as 1-D arrays, read without building the
// frame's 2-D "values" (which boxes every number of a mixed frame).
#pragma once

#include <cstddef>
#include <optional>
#include <vector>

#include "boundary/ref.hpp"

namespace tarnix {

// For an exact pandas.DataFrame whose columns all have dtypes whose cells read
// the same from a column as from "values" (NumPy bool, integer, float and
// object dtypes; pandas' Python-backed strings): one plain 1-D array per
// column. Nothing otherwise, and then no exception is left set.
std::optional<std::vector<Ref>> plain_frame_columns(PyObject* frame, std::size_t rows, std::size_t cols);

}  // namespace tarnix
