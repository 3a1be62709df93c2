#include "python/cell_reader.hpp"

#include <cstdint>
#include <cstring>
#include <limits>
#include <optional>

#include "boundary/detached.hpp"
#include "boundary/error.hpp"
#include "core/fatal.hpp"
#include "core/numbers.hpp"
#include "boundary/once.hpp"
#include "boundary/text.hpp"
#include "python/calls.hpp"
#include "python/numpy_api.hpp"

namespace tarnix {

namespace {

// --- classifying a cell ------------------------------------------------------

// Cells of these types convert without running any Python code.
bool converts_natively(PyObject* cell) {
    return PyUnicode_CheckExact(cell) || PyFloat_CheckExact(cell) || PyLong_CheckExact(cell) ||
           PyBool_Check(cell) || cell == Py_None;
}

// str() of the cell as UTF-8; an exact str is its own str(). ASCII text is
// taken as it lies in the str; other text is converted into a buffer of the
// call, so nothing is left behind in the object. A cell `held` by the table
// (alive until the cells are dropped, or until Python code runs) that
// converts natively, whose str() was taken before, is not converted again.
void add_text(TableCells& cells, std::size_t col, PyObject* cell, bool held) {
    const void* identity = held ? cell : nullptr;
    if (identity != nullptr && cells.add_known(col, identity)) return;
    Ref made;
    PyObject* text = cell;
    if (!PyUnicode_CheckExact(cell)) {
        made = Ref::steal(PyObject_Str(cell));
        if (!made) panic_from("cant convert to str", PyErr::fetch());
        text = made.get();
    }
    if (auto ascii = ascii_view(text)) return cells.add_label(col, *ascii, identity);
    std::string& utf8 = cells.scratch();
    utf8.clear();
    append_utf8(text, utf8);
    cells.add_label(col, utf8, identity);
}

// One cell of column col: a number while the column is numeric and the cell
// converts to a double (an exact float directly, anything else through
// float()); otherwise the column turns to text and takes str() of the cell.
// The caller has settled the numeric columns if the cell may run Python code;
// `held` only for a cell that converts natively (see add_text).
void classify_cell(TableCells& cells, std::size_t col, PyObject* cell, bool held = false) {
    if (cells.is_string(col)) return add_text(cells, col, cell, held);
    if (PyFloat_CheckExact(cell)) return cells.add_number(col, PyFloat_AS_DOUBLE(cell));
    double value = PyFloat_AsDouble(cell);
    if (value != -1.0 || !PyErr_Occurred()) return cells.add_number(col, value);
    // An ordinary exception means not a number: the column holds text from
    // here on. Any other (KeyboardInterrupt...) ends the call.
    pass_on_unless_ordinary(PyErr::fetch());
    cells.turn_to_text(col);
    add_text(cells, col, cell, held);
}

// Before a cell runs Python code, numeric columns still in their buffers are
// copied.
void add_cell(TableCells& cells, std::size_t col, PyObject* cell) {
    if (!converts_natively(cell)) cells.settle();
    classify_cell(cells, col, cell);
}

// --- where cells come from ---------------------------------------------------

// numpy.memmap, looked up once (NumPy is imported by then).
PyTypeObject* memmap_type() {
    static Once looked_up;
    static PyObject* type = nullptr;
    call_once_detached(looked_up, [] {
        auto numpy = import_module(interned::numpy());
        if (!numpy) return;
        auto memmap = get_attr(numpy.value().get(), interned::memmap());
        if (memmap && PyType_Check(memmap.value().get())) type = memmap.value().release();
    });
    return reinterpret_cast<PyTypeObject*>(type);
}

// An exact ndarray or memmap whose item access is NumPy's own.
PyArrayObject* plain_array(PyObject* source, std::size_t rows, std::size_t cols) {
    numpy::ensure_api();
    PyTypeObject* type = Py_TYPE(source);
    if (type != &PyArray_Type && type != memmap_type()) return nullptr;
    auto* array = reinterpret_cast<PyArrayObject*>(source);
    if (PyArray_NDIM(array) != 2) return nullptr;
    const npy_intp* dims = PyArray_DIMS(array);
    if (static_cast<std::size_t>(dims[0]) != rows || static_cast<std::size_t>(dims[1]) != cols) {
        return nullptr;
    }
    return array;
}

// float() of a NumPy scalar of this type, one number or a run of them; nothing
// for types left to the interpreter.
struct NumberLoaders {
    NumberLoader one = nullptr;
    NumberRunLoader run = nullptr;
};

template <class T>
constexpr NumberLoaders loaders_of() {
    return {load_as_double<T>, load_run_as_double<T>};
}

NumberLoaders number_loader(int type_num) {
    switch (type_num) {
        case NPY_BOOL: return {load_bool, load_run_bool};
        case NPY_BYTE: return loaders_of<npy_byte>();
        case NPY_UBYTE: return loaders_of<npy_ubyte>();
        case NPY_SHORT: return loaders_of<npy_short>();
        case NPY_USHORT: return loaders_of<npy_ushort>();
        case NPY_INT: return loaders_of<npy_int>();
        case NPY_UINT: return loaders_of<npy_uint>();
        case NPY_LONG: return loaders_of<npy_long>();
        case NPY_ULONG: return loaders_of<npy_ulong>();
        case NPY_LONGLONG: return loaders_of<npy_longlong>();
        case NPY_ULONGLONG: return loaders_of<npy_ulonglong>();
        case NPY_HALF: return {load_half, load_run_half};
        case NPY_FLOAT: return loaders_of<npy_float>();
        case NPY_DOUBLE: return loaders_of<npy_double>();
        case NPY_LONGDOUBLE: return loaders_of<npy_longdouble>();
        default: return {};
    }
}

// Object and numeric arrays are read from the buffer; other dtypes by item access.
bool readable_dtype(PyArrayObject* array) {
    return PyArray_TYPE(array) == NPY_OBJECT || number_loader(PyArray_TYPE(array)).one != nullptr;
}

Ref cell_by_item_access(PyObject* source, PyObject* key) {
    PyObject* cell = PyObject_GetItem(source, key);
    if (cell == nullptr) panic_from("could not read a cell of the input", PyErr::fetch());
    return Ref::steal(cell);
}

// source[(row, col)] for every cell from row `from_row` of column `from_col` on.
void read_by_item_access(PyObject* source, std::size_t rows, std::size_t cols, TableCells& cells,
                         std::size_t from_col = 0, std::size_t from_row = 0) {
    PausePoint pauses;
    for (std::size_t col = from_col; col < cols; ++col) {
        for (std::size_t row = col == from_col ? from_row : 0; row < rows; ++row) {
            Ref cell = cell_by_item_access(source, index_pair(row, col).get());
            add_cell(cells, col, cell.get());
            pauses.reached([&] { cells.settle(); });
        }
    }
}

// The layout of a plain 1-D or 2-D array (a 1-D array is one column).
struct Layout {
    const char* data;
    npy_intp dims[2];
    npy_intp strides[2];

    static Layout of(PyArrayObject* array) {
        const npy_intp* d = PyArray_DIMS(array);
        const npy_intp* s = PyArray_STRIDES(array);
        if (PyArray_NDIM(array) == 1) return Layout{static_cast<const char*>(PyArray_DATA(array)), {d[0], 1}, {s[0], 0}};
        return Layout{static_cast<const char*>(PyArray_DATA(array)), {d[0], d[1]}, {s[0], s[1]}};
    }
    bool operator==(const Layout&) const = default;
    const char* at(std::size_t row, std::size_t col) const noexcept {
        return data + static_cast<npy_intp>(row) * strides[0] + static_cast<npy_intp>(col) * strides[1];
    }
};

// Reads column `col` of a plain object array into column `into` of the cells.
// Stops early when Python code run by a cell (its __float__ or __str__) has
// changed the array's buffer or shape, and returns the row to go on from.
std::optional<std::size_t> read_object_column(PyArrayObject* array, std::size_t col, std::size_t rows,
                                              std::size_t into, TableCells& cells) {
    const Layout layout = Layout::of(array);
    // Cells are objects all over the heap: each is fetched a few rows ahead
    // (a prefetch never faults, whatever the address).
    constexpr std::size_t kAhead = 12;
    PausePoint pauses;
    for (std::size_t row = 0; row < rows; ++row) {
        PyObject* cell;
        if (row + kAhead < rows) {
            std::memcpy(&cell, layout.at(row + kAhead, col), sizeof cell);
            __builtin_prefetch(cell);
            __builtin_prefetch(reinterpret_cast<const char*>(cell) + 48);
        }
        std::memcpy(&cell, layout.at(row, col), sizeof cell);
        // A cell may hold NULL (np.empty, never filled); item access reads
        // it as None.
        if (cell == nullptr) cell = Py_None;
        // The array keeps the cell alive, unless Python code the cell runs
        // changes the array: then the cell is held for the time it is read.
        if (converts_natively(cell)) {
            classify_cell(cells, into, cell, /*held=*/true);
        } else {
            cells.settle();
            Ref held = Ref::borrow(cell);
            classify_cell(cells, into, cell);
        }
        pauses.reached([&] { cells.settle(); });
        if (!(Layout::of(array) == layout)) return row + 1;
    }
    return std::nullopt;
}

// A numeric column is converted when the matrix is written, in parallel; the
// array must outlive that (see read_cells).
void read_number_column(PyArrayObject* array, NumberLoaders loader, std::size_t col, std::size_t into,
                        TableCells& cells) {
    const Layout layout = Layout::of(array);
    cells.set_strided(into, StridedNumbers{layout.at(0, col), layout.strides[0], loader.one, loader.run,
                                           static_cast<bool>(PyArray_ISBYTESWAPPED(array))});
}

// Column `col` of a plain array of a readable dtype, straight from its
// buffer. `resume(row)` takes over from a row on when a cell changed the array
// under the reader.
template <class Resume>
void read_plain_column(PyArrayObject* array, std::size_t col, std::size_t rows, std::size_t into,
                       TableCells& cells, Resume&& resume) {
    if (PyArray_TYPE(array) != NPY_OBJECT) {
        return read_number_column(array, number_loader(PyArray_TYPE(array)), col, into, cells);
    }
    if (auto stopped = read_object_column(array, col, rows, into, cells)) resume(*stopped);
}

}  // namespace

void read_cells(PyObject* source, std::size_t rows, std::size_t cols, TableCells& cells) {
    if (rows == 0 || cols == 0) return;
    PyArrayObject* array = plain_array(source, rows, cols);
    if (array == nullptr || !readable_dtype(array)) {
        return read_by_item_access(source, rows, cols, cells);
    }
    cells.trust_row_count();
    for (std::size_t col = 0; col < cols; ++col) {
        bool switched = false;
        read_plain_column(array, col, rows, col, cells, [&](std::size_t row) {
            read_by_item_access(source, rows, cols, cells, col, row);
            switched = true;
        });
        if (switched) return;
    }
}

bool readable_column(PyObject* column, std::size_t rows) {
    numpy::ensure_api();
    if (Py_TYPE(column) != &PyArray_Type) return false;
    auto* array = reinterpret_cast<PyArrayObject*>(column);
    return PyArray_NDIM(array) == 1 && static_cast<std::size_t>(PyArray_DIMS(array)[0]) == rows &&
           readable_dtype(array);
}

void read_column(PyObject* column, std::size_t rows, std::size_t into, TableCells& cells) {
    auto* array = reinterpret_cast<PyArrayObject*>(column);
    cells.trust_row_count();
    read_plain_column(array, 0, rows, into, cells, [&](std::size_t from) {
        for (std::size_t row = from; row < rows; ++row) {
            Ref key = own(PyLong_FromSize_t(row));
            Ref cell = cell_by_item_access(column, key.get());
            add_cell(cells, into, cell.get());
        }
    });
}

namespace {

// A column whose every cell is missing, read as NaN numbers, stays numeric.
void add_missing_numbers(std::size_t rows, std::size_t into, TableCells& cells) {
    for (std::size_t row = 0; row < rows; ++row) cells.add_number(into, std::numeric_limits<double>::quiet_NaN());
}

}  // namespace

void read_arrow_texts(ArrowChunks chunks, bool nan_nulls, std::size_t into, TableCells& cells) {
    cells.trust_row_count();
    ArrowText text(std::move(chunks), nan_nulls);
    if (nan_nulls && !text.has_text()) return add_missing_numbers(text.size(), into, cells);
    cells.set_arrow_text(into, std::move(text));
}

void read_arrow_numbers(ArrowChunks chunks, std::size_t into, TableCells& cells) {
    cells.trust_row_count();
    cells.set_arrow_numbers(into, std::move(chunks));
}

void read_masked_column(PyObject* values, PyObject* mask, std::size_t into, TableCells& cells) {
    auto* data = reinterpret_cast<PyArrayObject*>(values);
    auto* missing = reinterpret_cast<PyArrayObject*>(mask);
    cells.trust_row_count();
    const NumberLoaders loader = number_loader(PyArray_TYPE(data));
    cells.set_strided(into, StridedNumbers{static_cast<const char*>(PyArray_DATA(data)), PyArray_STRIDES(data)[0],
                                           loader.one, loader.run,
                                           static_cast<bool>(PyArray_ISBYTESWAPPED(data)),
                                           static_cast<const char*>(PyArray_DATA(missing)),
                                           PyArray_STRIDES(missing)[0]});
}

void read_categorical_column(PyObject* codes, LabelList categories, std::size_t rows,
                             std::size_t into, TableCells& cells) {
    auto* array = reinterpret_cast<PyArrayObject*>(codes);
    CategoryColumn column{nullptr, static_cast<const char*>(PyArray_DATA(array)), PyArray_STRIDES(array)[0],
                          static_cast<int>(PyArray_ITEMSIZE(array)), rows, 0, {}};
    cells.trust_row_count();
    for (; column.first_valid < rows; ++column.first_valid) {
        const std::int64_t code = column.code(column.first_valid);
        if (code >= 0) {
            column.first_code = code;
            break;
        }
    }
    if (column.first_valid == rows) return add_missing_numbers(rows, into, cells);
    cells.set_categories(into, std::move(categories), column);
}

}  // namespace tarnix
