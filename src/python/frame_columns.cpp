#include "python/frame_columns.hpp"

#include <array>
#include <cmath>
#include <cstring>
#include <utility>

#include "boundary/text.hpp"
#include "python/arrow_stream.hpp"
#include "python/calls.hpp"
#include "python/cell_reader.hpp"
#include "python/numpy_api.hpp"

namespace tarnix {

namespace {

bool is_exact_pandas_frame(PyObject* frame) {
    Ref pandas = Ref::steal(PyImport_GetModule(interned::pandas()));  // NULL when pandas was never imported
    if (!pandas) {
        if (PyErr_Occurred()) pass_on_unless_ordinary(PyErr::fetch());
        return false;
    }
    auto frame_type = probe(get_attr(pandas.get(), interned::DataFrame()), "pandas.DataFrame");
    return frame_type && reinterpret_cast<PyObject*>(Py_TYPE(frame)) == frame_type->get();
}

std::optional<std::string> text_attr(PyObject* object, PyObject* name, std::string_view what) {
    auto value = probe(get_attr(object, name), what);
    if (!value || !PyUnicode_Check(value->get())) return std::nullopt;
    auto view = utf8_view(value->get());
    return view ? std::optional<std::string>(*view) : std::nullopt;
}

// The name of the dtype's class, when pandas defines it.
std::optional<std::string> pandas_type_name(PyObject* dtype) {
    PyObject* type = reinterpret_cast<PyObject*>(Py_TYPE(dtype));
    auto module = text_attr(type, interned::dunder_module(), "dtype.__module__");
    if (!module || !module->starts_with("pandas")) return std::nullopt;
    return text_attr(type, interned::dunder_name(), "dtype.__name__");
}

// --- the routes ----------------------------------------------------------------

// NumPy dtypes and pandas' Python-backed strings: the column's own array.
bool open_array(PyObject* series, PyObject*, std::size_t rows, FrameColumn& column) {
    auto array = probe(call_method(series, interned::to_numpy()), "Series.to_numpy");
    if (!array || !readable_column(array->get(), rows)) return false;
    column.source = std::move(*array);
    return true;
}

void read_array(FrameColumn& column, std::size_t rows, std::size_t into, TableCells& cells) {
    read_column(column.source.get(), rows, into, cells);
}

// How "values" reads the missing cells of an Arrow-backed string dtype: as
// NaN (true) or as pandas.NA (false); nothing for any other missing value.
std::optional<bool> reads_nulls_as_nan(PyObject* dtype) {
    auto na = probe(get_attr(dtype, interned::na_value()), "dtype.na_value");
    if (!na) return std::nullopt;
    if (PyFloat_CheckExact(na->get()) && std::isnan(PyFloat_AS_DOUBLE(na->get()))) return true;
    auto type = text_attr(reinterpret_cast<PyObject*>(Py_TYPE(na->get())), interned::dunder_name(),
                          "na_value.__name__");
    if (type == "NAType") return false;
    return std::nullopt;
}

bool open_arrow_strings(PyObject* series, PyObject* dtype, std::size_t, FrameColumn& column) {
    auto nan_nulls = reads_nulls_as_nan(dtype);
    auto stream = nan_nulls ? open_arrow_stream(series) : std::nullopt;
    if (!stream || !is_text(stream->type)) return false;
    column.source = std::move(stream->capsule);
    column.arrow_type = stream->type;
    column.nan_nulls = *nan_nulls;
    return true;
}

void read_arrow_strings(FrameColumn& column, std::size_t rows, std::size_t into, TableCells& cells) {
    read_arrow_texts(read_arrow_stream(column.source.get(), column.arrow_type, rows), column.nan_nulls, into, cells);
}

// The UTF-8 text of every category, if all are exact str.
std::optional<std::vector<std::string>> category_texts(PyObject* dtype) {
    auto categories = probe(get_attr(dtype, interned::categories()), "dtype.categories");
    auto values = categories ? probe(call_method(categories->get(), interned::to_numpy()), "categories.to_numpy")
                             : std::nullopt;
    if (!values || Py_TYPE(values->get()) != &PyArray_Type) return std::nullopt;
    auto* array = reinterpret_cast<PyArrayObject*>(values->get());
    if (PyArray_NDIM(array) != 1 || PyArray_TYPE(array) != NPY_OBJECT) return std::nullopt;
    const npy_intp count = PyArray_DIMS(array)[0];
    const npy_intp stride = PyArray_STRIDES(array)[0];
    const char* data = static_cast<const char*>(PyArray_DATA(array));
    std::vector<std::string> texts(static_cast<std::size_t>(count));
    for (npy_intp i = 0; i < count; ++i) {
        PyObject* category;
        std::memcpy(&category, data + i * stride, sizeof category);
        if (category == nullptr || !PyUnicode_CheckExact(category)) return std::nullopt;
        append_utf8(category, texts[static_cast<std::size_t>(i)]);
    }
    return texts;
}

// A categorical's codes: a 1-D array of signed integers, one per row.
std::optional<Ref> category_codes(PyObject* series, std::size_t rows) {
    auto array = probe(get_attr(series, interned::array()), "Series.array");
    auto codes = array ? probe(get_attr(array->get(), interned::codes()), "Categorical.codes") : std::nullopt;
    if (!codes || Py_TYPE(codes->get()) != &PyArray_Type) return std::nullopt;
    auto* codes_array = reinterpret_cast<PyArrayObject*>(codes->get());
    if (PyArray_NDIM(codes_array) != 1 || static_cast<std::size_t>(PyArray_DIMS(codes_array)[0]) != rows ||
        PyArray_DESCR(codes_array)->kind != 'i' || PyArray_ISBYTESWAPPED(codes_array)) {
        return std::nullopt;
    }
    return std::move(*codes);
}

bool open_categorical(PyObject* series, PyObject* dtype, std::size_t rows, FrameColumn& column) {
    auto texts = category_texts(dtype);
    auto codes = texts ? category_codes(series, rows) : std::nullopt;
    if (!codes) return false;
    column.source = std::move(*codes);
    column.categories = std::move(*texts);
    return true;
}

void read_categorical(FrameColumn& column, std::size_t rows, std::size_t into, TableCells& cells) {
    read_categorical_column(column.source.get(), std::move(column.categories), rows, into, cells);
}

// One row per storage kind, in the order of the enum. `open` takes from the
// Series what `read` needs, or fails (then the frame is read through its
// values, whose cells every route reproduces).
struct Route {
    StorageKind kind;
    std::string_view name;
    bool (*open)(PyObject* series, PyObject* dtype, std::size_t rows, FrameColumn& column);
    void (*read)(FrameColumn& column, std::size_t rows, std::size_t into, TableCells& cells);
};

constexpr std::array<Route, kStorageKinds> kRoutes{{
    {StorageKind::NumpyNumber, "numpy-number", open_array, read_array},
    {StorageKind::NumpyObject, "numpy-object", open_array, read_array},
    {StorageKind::PythonStr, "python-str", open_array, read_array},
    {StorageKind::ArrowString, "arrow-string", open_arrow_strings, read_arrow_strings},
    {StorageKind::CategoricalText, "categorical-text", open_categorical, read_categorical},
    // No route of its own yet: what "values" gives for such a column depends
    // on the dtypes of the frame's other columns (it is boxed as an object
    // only in a frame of mixed dtypes). Until it has one, a single such
    // column sends the whole frame through "values".
    {StorageKind::Other, "other", nullptr, nullptr},
}};

constexpr bool routes_in_enum_order() {
    for (std::size_t i = 0; i < kRoutes.size(); ++i) {
        if (static_cast<std::size_t>(kRoutes[i].kind) != i) return false;
    }
    return true;
}
static_assert(routes_in_enum_order());

const Route& route_of(StorageKind kind) { return kRoutes[static_cast<std::size_t>(kind)]; }

// Column `col` of the frame as a Series, and its dtype.
std::optional<std::pair<Ref, Ref>> series_and_dtype(PyObject* iloc, std::size_t col) {
    Ref key = own(PyTuple_New(2));
    PyTuple_SET_ITEM(key.get(), 0, own(PySlice_New(nullptr, nullptr, nullptr)).release());
    PyTuple_SET_ITEM(key.get(), 1, own(PyLong_FromSize_t(col)).release());
    auto series = probe(checked(PyObject_GetItem(iloc, key.get())), "DataFrame.iloc[:, col]");
    auto dtype = series ? probe(get_attr(series->get(), interned::dtype()), "Series.dtype") : std::nullopt;
    if (!dtype) return std::nullopt;
    return std::pair(std::move(*series), std::move(*dtype));
}

}  // namespace

StorageKind storage_kind(PyObject* dtype) {
    numpy::ensure_api();
    if (PyArray_DescrCheck(dtype)) {
        switch (reinterpret_cast<PyArray_Descr*>(dtype)->kind) {
            case 'b': case 'i': case 'u': case 'f': return StorageKind::NumpyNumber;
            case 'O': return StorageKind::NumpyObject;
            default: return StorageKind::Other;
        }
    }
    const auto type = pandas_type_name(dtype);
    if (type == "StringDtype") {
        const auto storage = text_attr(dtype, interned::storage(), "StringDtype.storage");
        if (storage == "python") return StorageKind::PythonStr;
        if (storage == "pyarrow" || storage == "pyarrow_numpy") return StorageKind::ArrowString;
        return StorageKind::Other;
    }
    if (type == "ArrowDtype") {
        auto arrow_type = probe(get_attr(dtype, interned::pyarrow_dtype()), "ArrowDtype.pyarrow_dtype");
        if (!arrow_type) return StorageKind::Other;
        auto name = str_of(arrow_type->get());
        if (!name) {
            pass_on_unless_ordinary(PyErr::fetch());
            return StorageKind::Other;
        }
        if (*name == "string" || *name == "large_string" || *name == "string_view") return StorageKind::ArrowString;
        return StorageKind::Other;
    }
    if (type == "CategoricalDtype") return StorageKind::CategoricalText;
    return StorageKind::Other;
}

std::optional<std::vector<FrameColumn>> open_frame_columns(PyObject* frame, std::size_t rows, std::size_t cols) {
    if (!is_exact_pandas_frame(frame)) return std::nullopt;
    auto iloc = probe(get_attr(frame, interned::iloc()), "DataFrame.iloc");
    if (!iloc) return std::nullopt;
    // Every column's kind first: a column without a route of its own sends
    // the frame through its values before any other column is opened.
    std::vector<std::pair<Ref, Ref>> series(cols);
    std::vector<FrameColumn> columns(cols);
    bool all_routed = true;
    for (std::size_t col = 0; col < cols; ++col) {
        auto found = series_and_dtype(iloc->get(), col);
        if (!found) return std::nullopt;
        series[col] = std::move(*found);
        columns[col].kind = storage_kind(series[col].second.get());
        all_routed = all_routed && columns[col].kind != StorageKind::Other;
        trace_route("column " + std::to_string(col) + ": " + std::string(route_of(columns[col].kind).name));
    }
    if (!all_routed) return std::nullopt;
    for (std::size_t col = 0; col < cols; ++col) {
        const Route& route = route_of(columns[col].kind);
        if (!route.open(series[col].first.get(), series[col].second.get(), rows, columns[col])) {
            trace_route("column " + std::to_string(col) + " could not be opened as " + std::string(route.name));
            return std::nullopt;
        }
    }
    return columns;
}

void read_frame_column(FrameColumn& column, std::size_t rows, std::size_t into, TableCells& cells) {
    route_of(column.kind).read(column, rows, into, cells);
}

}  // namespace tarnix
