#include "python/convert.hpp"

#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <optional>
#include <string_view>

#include "boundary/compat.hpp"
#include "core/fatal.hpp"
#include "boundary/text.hpp"
#include "python/calls.hpp"
#include "python/encode_object_array.hpp"
#include "python/frame_columns.hpp"
#include "python/numpy_api.hpp"

namespace tarnix {

namespace {

constexpr std::string_view kSupportedTypes = "numpy.ndarray, pandas.DataFrame";

Result<std::string> class_name(PyObject* obj) {
    TRY_ASSIGN(Ref name, checked(PyType_GetName(Py_TYPE(obj))));
    auto text = str_of(name.get());
    if (!text) return PyErr::fetch();
    return *text;
}

// Calls take(item) for every item of an iterable; the first error, of the
// iteration or of take, ends it and is returned.
template <class Take>
Status for_each_item(PyObject* sequence, Take&& take) {
    TRY_ASSIGN(Ref iterator, checked(PyObject_GetIter(sequence)));
    for (;;) {
        PyObject* item = nullptr;
        int got = compat::iter_next_item(iterator.get(), &item);
        if (got < 0) return PyErr::fetch();
        if (got == 0) return success();
        Ref owned = Ref::steal(item);
        TRY(take(item));
    }
}

// The reported length, as a capacity hint only: an object may report any
// length, so no more than a modest amount is reserved up front. A failing
// length counts as 0, unless it is not an ordinary exception.
Result<std::size_t> length_hint(PyObject* sequence) {
    constexpr Py_ssize_t kMostReserved = 1 << 16;
    Py_ssize_t length = PyObject_Size(sequence);
    if (length < 0) {
        PyErr error = PyErr::fetch();
        if (!error.is_ordinary()) return error;
        return std::size_t{0};
    }
    return static_cast<std::size_t>(std::min(length, kMostReserved));
}

// First reading: every label a str.
Result<std::vector<std::string>> names_as_strings(PyObject* labels) {
    if (PyUnicode_Check(labels) || !PySequence_Check(labels)) {
        return cast_error(labels, "Sequence");
    }
    std::vector<std::string> names;
    TRY_ASSIGN(const std::size_t hint, length_hint(labels));
    names.reserve(hint);
    TRY(for_each_item(labels, [&](PyObject* item) -> Status {
        if (!PyUnicode_Check(item)) return cast_error(item, &PyUnicode_Type);
        std::string& name = names.emplace_back();
        if (append_utf8(item, name)) return success();
        // Surrogates: the interpreter's own conversion raises for them.
        if (PyUnicode_AsUTF8AndSize(item, nullptr) == nullptr) return PyErr::fetch();
        panic("a str with surrogates converted to UTF-8");
    }));
    return names;
}

// Second reading: labels.tolist(), every item a signed 64-bit integer.
Result<std::vector<std::string>> names_as_integers(PyObject* labels) {
    TRY_ASSIGN(Ref list, call_method(labels, interned::tolist()));
    if (PyUnicode_Check(list.get()) || !PySequence_Check(list.get())) {
        return cast_error(list.get(), "Sequence");
    }
    std::vector<std::string> names;
    TRY_ASSIGN(const std::size_t hint, length_hint(list.get()));
    names.reserve(hint);
    TRY(for_each_item(list.get(), [&](PyObject* item) -> Status {
        long long value = PyLong_AsLongLong(item);
        if (value == -1 && PyErr_Occurred()) return PyErr::fetch();
        names.push_back(std::to_string(value));
        return success();
    }));
    return names;
}

Result<std::vector<std::string>> column_names(PyObject* frame) {
    TRY_ASSIGN(Ref labels, get_attr(frame, interned::columns()));
    auto names = names_as_strings(labels.get());
    if (names) return std::move(names).value();
    if (!names.error().is_ordinary()) return std::move(names).error();
    return names_as_integers(labels.get());
}

bool is_float64_matrix(PyObject* obj) {
    numpy::ensure_api();
    if (!PyArray_Check(obj)) return false;
    auto* array = reinterpret_cast<PyArrayObject*>(obj);
    if (PyArray_NDIM(array) != 2) return false;
    Ref float64 = own(reinterpret_cast<PyObject*>(PyArray_DescrFromType(NPY_DOUBLE)));
    return PyArray_EquivTypes(PyArray_DESCR(array), reinterpret_cast<PyArray_Descr*>(float64.get())) != 0;
}

// The array's elements as a matrix. An aligned array whose strides are whole
// elements is viewed as it lies (the caller holds the array); any other one
// is copied row-major.
Matrix float_array_matrix(PyObject* obj) {
    auto* array = reinterpret_cast<PyArrayObject*>(obj);
    const npy_intp* dims = PyArray_DIMS(array);
    const npy_intp* strides = PyArray_STRIDES(array);
    const auto rows = static_cast<std::size_t>(dims[0]);
    const auto cols = static_cast<std::size_t>(dims[1]);
    const auto* base = static_cast<const char*>(PyArray_DATA(array));
    if (rows == 0 || cols == 0) return Matrix::row_major(DoubleBuffer(), rows, cols);

    constexpr npy_intp kItem = sizeof(double);
    // An axis of length 1 may carry any stride; it is never stepped along.
    const npy_intp s0 = rows == 1 ? kItem * static_cast<npy_intp>(cols) : strides[0];
    const npy_intp s1 = cols == 1 ? kItem : strides[1];
    if (PyArray_ISALIGNED(array) && s0 % kItem == 0 && s1 % kItem == 0) return Matrix::view(base, rows, cols, s0, s1);
    DoubleBuffer buffer = DoubleBuffer::uninitialized(rows * cols);
    double* out = buffer.data();
    for (std::size_t r = 0; r < rows; ++r) {
        const char* row = base + static_cast<npy_intp>(r) * strides[0];
        for (std::size_t c = 0; c < cols; ++c) {
            std::memcpy(out++, row + static_cast<npy_intp>(c) * strides[1], sizeof(double));
        }
    }
    return Matrix::row_major(std::move(buffer), rows, cols);
}

// Whether obj has the attribute, as hasattr() would say, without calling what
// its class defines under that name (pandas builds "values" when asked): a name
// its class or a base defines is there; any other is looked up on the
// instance, which finds it in its __dict__ or asks its __getattr__.
Result<bool> has_attribute(PyObject* obj, PyObject* name) {
    Ref mro = Ref::borrow(Py_TYPE(obj)->tp_mro);
    for (Py_ssize_t i = 0; mro && i < PyTuple_GET_SIZE(mro.get()); ++i) {
        Ref dict = own(compat::type_dict(reinterpret_cast<PyTypeObject*>(PyTuple_GET_ITEM(mro.get(), i))));
        const int found = PyDict_Contains(dict.get(), name);
        if (found < 0) return PyErr::fetch();
        if (found == 1) return true;
    }
    PyObject* value = nullptr;
    const int found = compat::get_optional_attr(obj, name, &value);
    Ref owned = Ref::steal(value);
    if (found < 0) return PyErr::fetch();
    return found == 1;
}

PyErr refuse(const std::string& name) {
    write_line(STDOUT_FILENO, name);
    return PyErr::lazy(PyExc_TypeError, "Unsupported type: '" + name + "'. Supported types are: " +
                                            std::string(kSupportedTypes));
}

// A float64 column as a plain array of doubles (aligned, native byte order).
const char* float64_column(PyObject* column, npy_intp& stride) {
    auto* array = reinterpret_cast<PyArrayObject*>(column);
    if (PyArray_TYPE(array) != NPY_DOUBLE || !PyArray_ISNOTSWAPPED(array) || !PyArray_ISALIGNED(array)) {
        return nullptr;
    }
    stride = PyArray_STRIDES(array)[0];
    return static_cast<const char*>(PyArray_DATA(array));
}

// The cells of a tall pandas frame whose every column is a float64 NumPy
// array; nothing for any other frame. The cells are those the frame's
// "values" would give: viewed where they lie when the columns are evenly
// spaced (`keep_alive` then holds the arrays), else copied column-major.
std::optional<Matrix> float_frame_matrix(PyObject* frame, std::shared_ptr<void>& keep_alive) {
    const Shape shape = read_shape(frame);
    if (shape.rows < kFewestColumnRows || shape.cols == 0) return std::nullopt;
    auto columns = open_frame_columns(frame, shape.rows, shape.cols);
    if (!columns) return std::nullopt;
    std::vector<std::pair<const char*, npy_intp>> data(shape.cols);
    for (std::size_t col = 0; col < shape.cols; ++col) {
        const FrameColumn& column = (*columns)[col];
        if (column.kind != StorageKind::NumpyNumber) return std::nullopt;
        data[col].first = float64_column(column.source.get(), data[col].second);
        if (data[col].first == nullptr) return std::nullopt;
    }
    // Columns evenly spaced in one block (as pandas keeps a frame of one
    // dtype) are used where they lie: the arrays are held, so their memory
    // outlives the call whatever Python code runs meanwhile.
    constexpr npy_intp kItem = sizeof(double);
    const npy_intp row_bytes = data[0].second;
    const npy_intp col_bytes = shape.cols > 1 ? data[1].first - data[0].first : kItem * static_cast<npy_intp>(shape.rows);
    bool even = row_bytes % kItem == 0 && col_bytes % kItem == 0;
    for (std::size_t col = 0; even && col < shape.cols; ++col) {
        even = data[col].second == row_bytes &&
               data[col].first == data[0].first + static_cast<npy_intp>(col) * col_bytes;
    }
    if (even) {
        auto held = std::make_shared<std::vector<Ref>>();
        for (FrameColumn& column : *columns) held->push_back(std::move(column.source));
        keep_alive = std::move(held);
        return Matrix::view(data[0].first, shape.rows, shape.cols, row_bytes, col_bytes);
    }
    // Otherwise copied, column by column, into the layout pandas keeps them in.
    DoubleBuffer buffer = DoubleBuffer::uninitialized(checked_cell_count(shape));
    for (std::size_t col = 0; col < shape.cols; ++col) {
        Matrix::view(data[col].first, shape.rows, 1, data[col].second, kItem).copy_into(buffer.data() + col * shape.rows);
    }
    return Matrix::column_major(std::move(buffer), shape.rows, shape.cols);
}

}  // namespace

Result<ConversionResult> pyany_to_vec(PyObject* obj, Reading reading) {
    TRY_ASSIGN(std::string name, class_name(obj));
    OUT out;
    if (name == "DataFrame") {
        // Another library's frame (polars') is refused unless it has what is
        // read of a frame: its columns, then its values.
        TRY_ASSIGN(bool readable, has_attribute(obj, interned::columns()));
        if (!readable) return refuse(name);
        TRY_ASSIGN(std::vector<std::string> columns, column_names(obj));
        TRY_ASSIGN(readable, has_attribute(obj, interned::values()));
        if (!readable) return refuse(name);
        out.kind = OUT::DataFrame{std::move(columns)};
    } else if (name != "ndarray" && name != "memmap") {
        return refuse(name);
    }

    if (is_float64_matrix(obj)) {
        return ConversionResult{std::move(out), float_array_matrix(obj), nullptr, {}};
    }
    if (reading == Reading::Codes && out.is_dataframe()) {
        std::shared_ptr<void> keep_alive;
        if (auto matrix = float_frame_matrix(obj, keep_alive)) {
            return ConversionResult{std::move(out), std::move(*matrix), nullptr, std::move(keep_alive)};
        }
    }
    EncodedTable table = encode_object_array(obj, out);
    if (table.matrix.rows * table.matrix.cols >= kTrimAfterCells) give_back_freed_memory();
    return ConversionResult{std::move(out), std::move(table.matrix), std::move(table.info), {}};
}

}  // namespace tarnix
