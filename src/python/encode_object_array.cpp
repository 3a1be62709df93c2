#include "python/encode_object_array.hpp"

#include <cstdint>
#include <utility>
#include <optional>
#include <string>
#include <vector>

#include "boundary/detached.hpp"
#include "boundary/error.hpp"
#include "core/fatal.hpp"
#include "boundary/interned.hpp"
#include "boundary/text.hpp"
#include "python/calls.hpp"
#include "python/cell_reader.hpp"
#include "python/frame_columns.hpp"
#include "python/numpy_api.hpp"
#include "core/column_stage.hpp"

namespace tarnix {

namespace {

std::size_t shape_dimension(PyObject* shape, Py_ssize_t axis) {
    PyObject* item = PyTuple_GET_ITEM(shape, axis);
    if (!PyLong_Check(item)) panic("the input's shape does not hold integers");
    std::size_t value = PyLong_AsSize_t(item);
    if (value == static_cast<std::size_t>(-1) && PyErr_Occurred()) {
        panic_from("the input's shape does not fit unsigned integers", PyErr::fetch());
    }
    return value;
}

}  // namespace

Shape read_shape(PyObject* obj) {
    Ref owned = Ref::steal(PyObject_GetAttr(obj, interned::shape()));
    if (!owned) panic_from("could not read the input's shape", PyErr::fetch());
    PyObject* shape = owned.get();
    if (!PyTuple_Check(shape) || PyTuple_GET_SIZE(shape) != 2) {
        panic("the input's shape is not a pair (rows, columns)");
    }
    return Shape{shape_dimension(shape, 0), shape_dimension(shape, 1)};
}

// rows x cols doubles must fit the address space with room to spare.
std::size_t checked_cell_count(Shape shape) {
    std::size_t cells = 0;
    constexpr std::size_t kMaxCells = (static_cast<std::size_t>(PTRDIFF_MAX) - 7) / sizeof(double);
    if (__builtin_mul_overflow(shape.rows, shape.cols, &cells) || cells > kMaxCells) {
        panic("capacity overflow");
    }
    return cells;
}

namespace {

// The cells of a frame read column by column (see open_frame_columns).
// Returns what the cells were read from, which must live until the column
// stage is done.
std::vector<Ref> read_frame_columns(std::vector<FrameColumn> columns, Shape shape, TableCells& cells) {
    std::vector<Ref> read;
    for (std::size_t col = 0; col < shape.cols; ++col) {
        read_frame_column(columns[col], shape.rows, col, cells);
        read.push_back(std::move(columns[col].source));
        if (columns[col].mask) read.push_back(std::move(columns[col].mask));
    }
    return read;
}

// A frame's cells are those of its "values". A tall pandas frame gives the
// same cells column by column without building that 2-D array (fetching a
// column costs tens of microseconds in pandas; "values" boxes a number in
// about a tenth of one); so does a short one whose "values" pandas cannot
// build (Arrow string views). Returns what the cells were read from, which
// must live until the column stage is done.
std::vector<Ref> read_frame_cells(PyObject* frame, Shape shape, TableCells& cells) {
    const bool tall = shape.rows >= kFewestColumnRows || has_number_extension_column(frame);
    std::optional<std::vector<FrameColumn>> columns;
    if (tall) columns = open_frame_columns(frame, shape.rows, shape.cols);
    Ref values;
    if (!columns) {
        values = Ref::steal(PyObject_GetAttr(frame, interned::values()));
        if (!values) {
            PyErr error = pass_on_unless_ordinary(PyErr::fetch());
            if (!tall) columns = open_frame_columns(frame, shape.rows, shape.cols);
            if (!columns) panic_from("could not read the DataFrame's values", std::move(error));
        }
    }
    trace_route(columns ? "frame: by columns" : "frame: values");
    if (columns) return read_frame_columns(std::move(*columns), shape, cells);
    read_cells(values.get(), shape.rows, shape.cols, cells);
    std::vector<Ref> read;
    read.push_back(std::move(values));
    return read;
}

}  // namespace

EncodedTable encode_object_array(PyObject* obj, const OUT& kind) {
    const Shape shape = read_shape(obj);
    const std::size_t count = checked_cell_count(shape);
    auto info = std::make_unique<EncodingInfo>();
    // No cell to read: nothing can be text, and nothing is sized by the
    // other dimension, however large it claims to be.
    if (count == 0) {
        return EncodedTable{Matrix::row_major(DoubleBuffer(), shape.rows, shape.cols), std::move(info)};
    }

    // Every cell is read before the matrix is allocated: a shape that claims
    // more than the input holds ends at the first cell that is not there.
    TableCells cells(shape.rows, shape.cols);
    std::vector<Ref> sources;  // what the cells were read from, kept to the end of the column stage
    if (kind.is_dataframe()) {
        sources = read_frame_cells(obj, shape, cells);
    } else {
        read_cells(obj, shape.rows, shape.cols, cells);
    }

    // A frame's columns are written column-major, the layout pandas keeps them in.
    const MatrixOrder order = kind.is_dataframe() ? MatrixOrder::ColumnMajor : MatrixOrder::RowMajor;
    DoubleBuffer buffer = DoubleBuffer::zeroed(count);
    std::vector<ColumnResult> results;
    {
        // The stage reads only what the call owns or keeps alive: the cells,
        // and the buffers of the arrays in `sources`.
        Detached detached;
        results = run_column_stage(cells, SendPtr(buffer.data()), order);
    }
    info->string_columns.reserve(results.size());
    info->labels.reserve(results.size());
    for (ColumnResult& result : results) {
        if (!info->string_columns.empty() && info->string_columns.back() >= result.col) {
            panic("the columns were encoded out of order");
        }
        info->string_columns.push_back(result.col);
        info->labels.push_back(std::move(result.labels));
    }
    Matrix matrix = order == MatrixOrder::ColumnMajor ? Matrix::column_major(std::move(buffer), shape.rows, shape.cols)
                                                      : Matrix::row_major(std::move(buffer), shape.rows, shape.cols);
    return EncodedTable{std::move(matrix), std::move(info)};
}

}  // namespace tarnix
