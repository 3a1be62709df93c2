#include "python/frame_columns.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <limits>
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

// The text of categories that are Arrow-backed strings (pandas' default "str"
// with pyarrow), read from their buffers: no Python object per category.
// Nothing for other categories.
std::optional<LabelList> arrow_category_texts(PyObject* categories) {
    auto dtype = probe(get_attr(categories, interned::dtype()), "categories.dtype");
    if (!dtype || storage_kind(dtype->get()) != StorageKind::ArrowString) return std::nullopt;
    const Py_ssize_t count = PyObject_Size(categories);
    if (count < 0) {
        pass_on_unless_ordinary(PyErr::fetch());
        return std::nullopt;
    }
    auto array = probe(get_attr(categories, interned::array()), "categories.array");
    auto stream = array ? open_arrow_array_stream(array->get()) : std::nullopt;
    if (!stream || !is_text(stream->type)) return std::nullopt;
    const ArrowChunks chunks = read_arrow_stream(stream->capsule.get(), stream->type, static_cast<std::size_t>(count));
    LabelList texts;
    texts.reserve(chunks.length());
    bool all_text = true;
    chunks.visit_texts(0, chunks.length(), [&](std::size_t, const std::string_view* label) {
        if (label == nullptr) {
            all_text = false;
        } else {
            texts.push_back(*label);
        }
    });
    if (!all_text) return std::nullopt;
    return texts;
}

// The UTF-8 text of every category, if all are exact str.
std::optional<LabelList> category_texts(PyObject* dtype) {
    auto categories = probe(get_attr(dtype, interned::categories()), "dtype.categories");
    if (!categories) return std::nullopt;
    if (auto texts = arrow_category_texts(categories->get())) return texts;
    auto values = probe(call_method(categories->get(), interned::to_numpy()), "categories.to_numpy");
    if (!values || Py_TYPE(values->get()) != &PyArray_Type) return std::nullopt;
    auto* array = reinterpret_cast<PyArrayObject*>(values->get());
    if (PyArray_NDIM(array) != 1 || PyArray_TYPE(array) != NPY_OBJECT) return std::nullopt;
    const npy_intp count = PyArray_DIMS(array)[0];
    const npy_intp stride = PyArray_STRIDES(array)[0];
    const char* data = static_cast<const char*>(PyArray_DATA(array));
    LabelList texts;
    texts.reserve(static_cast<std::size_t>(count));
    std::string utf8;
    for (npy_intp i = 0; i < count; ++i) {
        PyObject* category;
        std::memcpy(&category, data + i * stride, sizeof category);
        if (category == nullptr || !PyUnicode_CheckExact(category)) return std::nullopt;
        if (auto ascii = ascii_view(category)) {
            texts.push_back(*ascii);
            continue;
        }
        utf8.clear();
        append_utf8(category, utf8);
        texts.push_back(utf8);
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

// pandas' masked numbers: the array's values and mask, 1-D arrays of `rows`
// numbers and bools. Where those are not there to be read (they are pandas'
// own), the numbers the array's public to_numpy(dtype="float64",
// na_value=nan) gives, which are the same.
bool open_masked(PyObject* series, PyObject*, std::size_t rows, FrameColumn& column) {
    auto array = probe(get_attr(series, interned::array()), "Series.array");
    if (!array) return false;
    auto data = probe(get_attr(array->get(), interned::data_()), "array._data");
    auto mask = data ? probe(get_attr(array->get(), interned::mask_()), "array._mask") : std::nullopt;
    if (mask && readable_column(data->get(), rows) && readable_column(mask->get(), rows) &&
        PyArray_TYPE(reinterpret_cast<PyArrayObject*>(data->get())) != NPY_OBJECT &&
        PyArray_TYPE(reinterpret_cast<PyArrayObject*>(mask->get())) == NPY_BOOL) {
        column.source = std::move(*data);
        column.mask = std::move(*mask);
        return true;
    }
    Ref nan = own(PyFloat_FromDouble(std::numeric_limits<double>::quiet_NaN()));
    auto numbers = probe(call_method_with_keywords(array->get(), interned::to_numpy(),
                                                   {{interned::dtype(), interned::float64()},
                                                    {interned::na_value(), nan.get()}}),
                         "array.to_numpy(dtype=\"float64\", na_value=nan)");
    if (!numbers || !readable_column(numbers->get(), rows) ||
        PyArray_TYPE(reinterpret_cast<PyArrayObject*>(numbers->get())) != NPY_DOUBLE) {
        return false;
    }
    column.source = std::move(*numbers);
    return true;
}

// Without a mask, the numbers to_numpy gave.
void read_masked(FrameColumn& column, std::size_t rows, std::size_t into, TableCells& cells) {
    if (!column.mask) return read_column(column.source.get(), rows, into, cells);
    read_masked_column(column.source.get(), column.mask.get(), into, cells);
}

bool open_arrow_numbers(PyObject* series, PyObject*, std::size_t, FrameColumn& column) {
    auto stream = open_arrow_stream(series);
    if (!stream || is_text(stream->type)) return false;
    column.source = std::move(stream->capsule);
    column.arrow_type = stream->type;
    return true;
}

void read_arrow_number_column(FrameColumn& column, std::size_t rows, std::size_t into, TableCells& cells) {
    read_arrow_numbers(read_arrow_stream(column.source.get(), column.arrow_type, rows), into, cells);
}

// Any other dtype, in a frame whose "values" holds objects: the column's
// astype(object), which is what "values" holds for it there.
bool open_as_objects(PyObject* series, PyObject*, std::size_t rows, FrameColumn& column) {
    auto array = probe(get_attr(series, interned::array()), "Series.array");
    auto cells = array ? probe(call_method(array->get(), interned::astype(), {interned::object()}), "array.astype")
                       : std::nullopt;
    if (!cells || !readable_column(cells->get(), rows)) return false;
    column.source = std::move(*cells);
    return true;
}

// Whether the frame's "values" is an array of objects, asked of its first
// zero rows (the same blocks, no cell boxed).
bool values_hold_objects(PyObject* frame) {
    auto iloc = probe(get_attr(frame, interned::iloc()), "DataFrame.iloc");
    Ref none = own(PySlice_New(nullptr, own(PyLong_FromLong(0)).get(), nullptr));
    auto head = iloc ? probe(checked(PyObject_GetItem(iloc->get(), none.get())), "DataFrame.iloc[:0]") : std::nullopt;
    auto values = head ? probe(get_attr(head->get(), interned::values()), "DataFrame.values") : std::nullopt;
    return values && PyArray_Check(values->get()) &&
           PyArray_TYPE(reinterpret_cast<PyArrayObject*>(values->get())) == NPY_OBJECT;
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
    {StorageKind::MaskedNumber, "masked-number", open_masked, read_masked},
    {StorageKind::ArrowNumber, "arrow-number", open_arrow_numbers, read_arrow_number_column},
    // What "values" gives for such a column depends on the dtypes of the
    // frame's other columns: it is boxed as an object only in a frame of
    // mixed dtypes, and only then read as one here (open_frame_columns).
    {StorageKind::Other, "other", open_as_objects, read_array},
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
        constexpr std::string_view kNumbers[] = {"int8",   "int16",  "int32", "int64",  "uint8", "uint16",
                                                 "uint32", "uint64", "halffloat", "float", "double", "bool"};
        if (std::find(std::begin(kNumbers), std::end(kNumbers), *name) != std::end(kNumbers)) {
            return StorageKind::ArrowNumber;
        }
        return StorageKind::Other;
    }
    if (type == "CategoricalDtype") return StorageKind::CategoricalText;
    constexpr std::string_view kMasked[] = {"Int8Dtype",   "Int16Dtype",   "Int32Dtype",  "Int64Dtype",
                                            "UInt8Dtype",  "UInt16Dtype",  "UInt32Dtype", "UInt64Dtype",
                                            "Float32Dtype", "Float64Dtype", "BooleanDtype"};
    if (type && std::find(std::begin(kMasked), std::end(kMasked), *type) != std::end(kMasked)) {
        return StorageKind::MaskedNumber;
    }
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
    bool any_other = false;
    for (std::size_t col = 0; col < cols; ++col) {
        auto found = series_and_dtype(iloc->get(), col);
        if (!found) return std::nullopt;
        series[col] = std::move(*found);
        columns[col].kind = storage_kind(series[col].second.get());
        any_other = any_other || columns[col].kind == StorageKind::Other;
        trace_route("column " + std::to_string(col) + ": " + std::string(route_of(columns[col].kind).name));
    }
    if (any_other && !values_hold_objects(frame)) return std::nullopt;
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

namespace tarnix {

bool has_number_extension_column(PyObject* frame) {
    auto dtypes = probe(get_attr(frame, interned::dtypes()), "DataFrame.dtypes");
    auto list = dtypes ? probe(call_method(dtypes->get(), interned::tolist()), "dtypes.tolist") : std::nullopt;
    if (!list || !PyList_Check(list->get())) return false;
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(list->get()); ++i) {
        const StorageKind kind = storage_kind(PyList_GET_ITEM(list->get(), i));
        if (kind == StorageKind::MaskedNumber || kind == StorageKind::ArrowNumber) return true;
    }
    return false;
}

}  // namespace tarnix
