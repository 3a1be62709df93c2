#include "python/encode_object_array.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "boundary/error.hpp"
#include "boundary/fatal.hpp"
#include "boundary/text.hpp"
#include "python/cell_reader.hpp"
#include "python/column_cells.hpp"
#include "label_encode.hpp"
#include "pool/pool.hpp"
#include "send_ptr.hpp"

namespace tarnix {

namespace {

struct Shape {
    std::size_t rows, cols;
};

std::size_t shape_dimension(PyObject* shape, Py_ssize_t axis) {
    PyObject* item = PyTuple_GET_ITEM(shape, axis);
    if (!PyLong_Check(item)) panic("the input's shape does not hold integers");
    std::size_t value = PyLong_AsSize_t(item);
    if (value == static_cast<std::size_t>(-1) && PyErr_Occurred()) {
        panic_from("the input's shape does not fit unsigned integers", PyErr::fetch());
    }
    return value;
}

Shape read_shape(PyObject* obj) {
    Ref name = make_str("shape");
    PyObject* shape = PyObject_GetAttr(obj, name.get());
    if (shape == nullptr) panic_from("could not read the input's shape", PyErr::fetch());
    Ref owned = Ref::steal(shape);
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

struct ColumnResult {
    std::size_t col;
    LabelMap label_map;
    CodeMap code_map;
};

// One task per column: numbers are copied, text is label-encoded; each task
// writes only its own column of the row-major buffer.
std::vector<ColumnResult> encode_columns(const ColumnCells& cells, Shape shape, SendPtr out) {
    return pool::filter_map<ColumnResult>(shape.cols, [&](std::size_t col) -> std::optional<ColumnResult> {
        auto write_column = [&](const std::vector<double>& values) {
            pool::for_each_index(shape.rows, [&](std::size_t row) {
                out.write(row * shape.cols + col, values[row]);
            });
        };
        if (!cells.is_string(col)) {
            write_column(cells.numbers(col));
            return std::nullopt;
        }
        LabelEncoding encoded = label_encode(cells.labels(col));
        write_column(encoded.codes);
        CodeMap code_map = code_map_of(encoded.label_map);
        return ColumnResult{col, std::move(encoded.label_map), std::move(code_map)};
    });
}

}  // namespace

EncodedTable encode_object_array(PyObject* obj, const OUT& kind) {
    const Shape shape = read_shape(obj);
    DoubleBuffer buffer = DoubleBuffer::zeroed(checked_cell_count(shape));

    auto info = std::make_unique<EncodingInfo>();
    info->label_to_code.reserve(shape.cols);
    info->code_to_label.reserve(shape.cols);

    Ref values;
    if (kind.is_dataframe()) {
        Ref name = make_str("values");
        PyObject* got = PyObject_GetAttr(obj, name.get());
        if (got == nullptr) panic_from("could not read the DataFrame's values", PyErr::fetch());
        values = Ref::steal(got);
    }
    PyObject* source = values ? values.get() : obj;

    ColumnCells cells(shape.cols, shape.rows);
    read_cells(source, shape.rows, shape.cols, cells);

    for (ColumnResult& result : encode_columns(cells, shape, SendPtr(buffer.data()))) {
        bool fresh = info->label_to_code.emplace(result.col, std::move(result.label_map)).second &&
                     info->code_to_label.emplace(result.col, std::move(result.code_map)).second;
        if (!fresh) panic("a column was encoded twice");
    }
    for (std::size_t col = 0; col < shape.cols; ++col) {
        if (cells.is_string(col)) info->string_columns.push_back(col);
    }
    return EncodedTable{Matrix::row_major(std::move(buffer), shape.rows, shape.cols), std::move(info)};
}

}  // namespace tarnix
