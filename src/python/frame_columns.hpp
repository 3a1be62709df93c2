// The columns of a pandas DataFrame read one by one, without building the
// frame's 2-D "values" (which boxes every number of a mixed frame and every
// string of an Arrow-backed column). Each column's storage is found out once,
// from its dtype, and each kind of storage has one route: how the column is
// opened and how its cells are read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "boundary/ref.hpp"
#include "core/arrow_arrays.hpp"
#include "core/table_cells.hpp"

namespace tarnix {

enum class StorageKind : std::uint8_t {
    NumpyNumber,      // a NumPy bool, integer or float dtype
    NumpyObject,      // NumPy's object dtype
    PythonStr,        // pandas' str/string with Python storage (str objects)
    ArrowString,      // pandas' str/string with pyarrow storage; ArrowDtype of string, large_string, string_view
    CategoricalText,  // a categorical (its categories must be all str to be read as such)
    MaskedNumber,     // pandas' masked Int8..UInt64, Float32, Float64, boolean: numbers whatever they hold
    ArrowNumber,      // ArrowDtype or Arrow-backed integers, floats, booleans: numbers whatever they hold
    Other,            // anything else: its cells are those of the frame's values
};
inline constexpr std::size_t kStorageKinds = 8;

// The kind of a column of this dtype (named in traces "numpy-number",
// "arrow-string", ...).
StorageKind storage_kind(PyObject* dtype);

// One column, opened for reading by the route of its kind.
struct FrameColumn {
    StorageKind kind = StorageKind::Other;
    // What the reader reads: a 1-D ndarray, an "arrow_array_stream" capsule,
    // a categorical's codes, or a masked array's values (or its numbers as
    // float64, NaN where missing, when it has no mask to be read).
    Ref source;
    Ref mask;                                  // MaskedNumber: true where a cell is missing, if read
    ArrowType arrow_type = ArrowType::String;  // ArrowString, ArrowNumber: the type of the stream's arrays
    bool nan_nulls = false;                    // ArrowString: nulls read as NaN (else as pandas.NA)
    LabelList categories;                      // CategoricalText: UTF-8 text of each category
};

// Frames shorter than this are read through "values", which is cheaper for
// them, unless they have a masked or Arrow-backed column of numbers (which
// "values" would box as objects of their own, pandas.NA for a missing one).
inline constexpr std::size_t kFewestColumnRows = 512;
bool has_number_extension_column(PyObject* frame);

// For an exact pandas.DataFrame whose every column can be opened by the route
// of its kind: the columns, opened. A column of kind Other is read as the
// objects "values" holds for it, its astype(object), when "values" is an
// array of objects (a frame of mixed dtypes). Nothing otherwise: the frame is
// then read through its values.
std::optional<std::vector<FrameColumn>> open_frame_columns(PyObject* frame, std::size_t rows, std::size_t cols);

// The cells of an opened column into column `into`: those "values" would
// give (numbers for the number kinds, whatever "values" holds for them).
// `column.source` and `column.mask` must live until the column stage is done.
void read_frame_column(FrameColumn& column, std::size_t rows, std::size_t into, TableCells& cells);

}  // namespace tarnix
