#include "python/frame_columns.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string_view>

#include "core/arrow_numbers.hpp"
#include "core/arrow_strings.hpp"
#include "boundary/text.hpp"
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
    auto frame_type = probe(get_attr(pandas.get(), interned::DataFrame()));
    return frame_type && reinterpret_cast<PyObject*>(Py_TYPE(frame)) == frame_type->get();
}

std::optional<std::string> text_attr(PyObject* object, PyObject* name) {
    auto value = probe(get_attr(object, name));
    if (!value || !PyUnicode_Check(value->get())) return std::nullopt;
    auto view = utf8_view(value->get());
    return view ? std::optional<std::string>(*view) : std::nullopt;
}

// The class name of a dtype defined by pandas.
std::optional<std::string> pandas_type_name(PyObject* dtype) {
    PyObject* type = reinterpret_cast<PyObject*>(Py_TYPE(dtype));
    auto module = text_attr(type, interned::dunder_module());
    if (!module || !module->starts_with("pandas")) return std::nullopt;
    return text_attr(type, interned::dunder_name());
}

bool is_pandas_type(PyObject* dtype, std::string_view name) { return pandas_type_name(dtype) == name; }

// pandas' masked dtypes of numbers: Int8..UInt64, Float32, Float64, boolean.
bool is_masked_number_dtype(PyObject* dtype) {
    constexpr std::string_view kNames[] = {"Int8Dtype",   "Int16Dtype",   "Int32Dtype",   "Int64Dtype",
                                           "UInt8Dtype",  "UInt16Dtype",  "UInt32Dtype",  "UInt64Dtype",
                                           "Float32Dtype", "Float64Dtype", "BooleanDtype"};
    auto name = pandas_type_name(dtype);
    return name && std::find(std::begin(kNames), std::end(kNames), *name) != std::end(kNames);
}

// An ArrowDtype of numbers: integers, float32, float64, booleans.
bool is_arrow_number_dtype(PyObject* dtype) {
    if (!is_pandas_type(dtype, "ArrowDtype")) return false;
    auto arrow_type = probe(get_attr(dtype, interned::pyarrow_dtype()));
    if (!arrow_type) return false;
    auto name = str_of(arrow_type->get());
    if (!name) {
        pass_on_unless_ordinary(PyErr::fetch());
        return false;
    }
    constexpr std::string_view kNames[] = {"int8",  "int16",  "int32", "int64",  "uint8", "uint16",
                                           "uint32", "uint64", "float", "double", "bool"};
    return std::find(std::begin(kNames), std::end(kNames), *name) != std::end(kNames);
}

bool readable_dtype(PyObject* dtype) {
    numpy::ensure_api();
    if (PyArray_DescrCheck(dtype)) {
        const char kind = reinterpret_cast<PyArray_Descr*>(dtype)->kind;
        return kind == 'b' || kind == 'i' || kind == 'u' || kind == 'f' || kind == 'O';
    }
    return is_pandas_type(dtype, "StringDtype") && text_attr(dtype, interned::storage()) == "python";
}

// Whether a dtype holds its strings in Arrow memory, and how "values" reads
// its missing cells: NaN (true) or pandas.NA (false). Nothing for other dtypes.
std::optional<bool> arrow_string_nulls(PyObject* dtype) {
    if (is_pandas_type(dtype, "StringDtype")) {
        auto storage = text_attr(dtype, interned::storage());
        if (storage != "pyarrow" && storage != "pyarrow_numpy") return std::nullopt;
    } else if (is_pandas_type(dtype, "ArrowDtype")) {
        auto arrow_type = probe(get_attr(dtype, interned::pyarrow_dtype()));
        if (!arrow_type) return std::nullopt;
        auto name = str_of(arrow_type->get());
        if (!name) {
            pass_on_unless_ordinary(PyErr::fetch());
            return std::nullopt;
        }
        if (*name != "string" && *name != "large_string" && *name != "string_view") return std::nullopt;
    } else {
        return std::nullopt;
    }
    auto na = probe(get_attr(dtype, interned::na_value()));
    if (!na) return std::nullopt;
    if (PyFloat_CheckExact(na->get()) && std::isnan(PyFloat_AS_DOUBLE(na->get()))) return true;
    auto text = text_attr(reinterpret_cast<PyObject*>(Py_TYPE(na->get())), interned::dunder_name());
    if (text == "NAType") return false;
    return std::nullopt;
}

// The column's Arrow stream, if it offers one whose format `wanted` accepts.
template <class Wanted>
std::optional<Ref> arrow_stream(PyObject* series, Wanted&& wanted) {
    auto capsule = probe(call_method(series, interned::dunder_arrow_c_stream()));
    if (!capsule) {
        // pandas before 3: the array converts itself to a pyarrow chunked array
        auto array = probe(get_attr(series, interned::array()));
        auto chunked = array ? probe(call_method(array->get(), interned::dunder_arrow_array())) : std::nullopt;
        capsule = chunked ? probe(call_method(chunked->get(), interned::dunder_arrow_c_stream())) : std::nullopt;
    }
    if (!capsule || !PyCapsule_IsValid(capsule->get(), "arrow_array_stream")) return std::nullopt;
    auto* stream = static_cast<ArrowArrayStream*>(PyCapsule_GetPointer(capsule->get(), "arrow_array_stream"));
    if (stream == nullptr) {
        pass_on_unless_ordinary(PyErr::fetch());
        return std::nullopt;
    }
    ArrowSchemaOwned schema;
    if (stream->release == nullptr || stream->get_schema(stream, schema.get()) != 0 || !wanted(schema->format)) {
        return std::nullopt;
    }
    return std::move(*capsule);
}

// The UTF-8 text of every category, if all are exact str.
std::optional<std::vector<std::string>> category_texts(PyObject* dtype) {
    auto categories = probe(get_attr(dtype, interned::categories()));
    auto values = categories ? probe(call_method(categories->get(), interned::to_numpy())) : std::nullopt;
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
    auto array = probe(get_attr(series, interned::array()));
    auto codes = array ? probe(get_attr(array->get(), interned::codes())) : std::nullopt;
    if (!codes || Py_TYPE(codes->get()) != &PyArray_Type) return std::nullopt;
    auto* codes_array = reinterpret_cast<PyArrayObject*>(codes->get());
    if (PyArray_NDIM(codes_array) != 1 || static_cast<std::size_t>(PyArray_DIMS(codes_array)[0]) != rows ||
        PyArray_DESCR(codes_array)->kind != 'i' || PyArray_ISBYTESWAPPED(codes_array)) {
        return std::nullopt;
    }
    return std::move(*codes);
}

// A masked array's values and mask: 1-D arrays of `rows` numbers and bools.
bool read_masked(PyObject* series, std::size_t rows, FrameColumn& column) {
    auto array = probe(get_attr(series, interned::array()));
    auto data = array ? probe(get_attr(array->get(), interned::data_())) : std::nullopt;
    auto mask = data ? probe(get_attr(array->get(), interned::mask_())) : std::nullopt;
    if (!mask || !readable_column(data->get(), rows) || !readable_column(mask->get(), rows)) return false;
    if (PyArray_TYPE(reinterpret_cast<PyArrayObject*>(data->get())) == NPY_OBJECT ||
        PyArray_TYPE(reinterpret_cast<PyArrayObject*>(mask->get())) != NPY_BOOL) {
        return false;
    }
    column.kind = FrameColumn::Kind::Masked;
    column.source = std::move(*data);
    column.mask = std::move(*mask);
    return true;
}

// Whether the frame's "values" is an array of objects, asked of its first
// zero rows (the same blocks, no cell boxed).
bool values_hold_objects(PyObject* frame) {
    auto iloc = probe(get_attr(frame, interned::iloc()));
    Ref none = own(PySlice_New(nullptr, own(PyLong_FromLong(0)).get(), nullptr));
    auto head = iloc ? probe(checked(PyObject_GetItem(iloc->get(), none.get()))) : std::nullopt;
    auto values = head ? probe(get_attr(head->get(), interned::values())) : std::nullopt;
    numpy::ensure_api();
    return values && PyArray_Check(values->get()) &&
           PyArray_TYPE(reinterpret_cast<PyArrayObject*>(values->get())) == NPY_OBJECT;
}

// A column of any other dtype: the objects "values" holds for it, which are
// its astype(object) when "values" holds objects (`objects` tells, asked once).
template <class Objects>
bool read_as_objects(PyObject* series, std::size_t rows, Objects&& objects, FrameColumn& column) {
    if (!objects()) return false;
    auto array = probe(get_attr(series, interned::array()));
    auto cells = array ? probe(call_method(array->get(), interned::astype(), {interned::object()})) : std::nullopt;
    if (!cells || !readable_column(cells->get(), rows)) return false;
    column.source = std::move(*cells);
    return true;
}

template <class Objects>
std::optional<FrameColumn> frame_column(PyObject* iloc, std::size_t col, std::size_t rows, Objects&& objects) {
    Ref key = own(PyTuple_New(2));
    PyTuple_SET_ITEM(key.get(), 0, own(PySlice_New(nullptr, nullptr, nullptr)).release());
    PyTuple_SET_ITEM(key.get(), 1, own(PyLong_FromSize_t(col)).release());
    auto series = probe(checked(PyObject_GetItem(iloc, key.get())));
    if (!series) return std::nullopt;
    auto dtype = probe(get_attr(series->get(), interned::dtype()));
    if (!dtype) return std::nullopt;
    FrameColumn column;
    if (readable_dtype(dtype->get())) {
        auto array = probe(call_method(series->get(), interned::to_numpy()));
        if (!array || !readable_column(array->get(), rows)) return std::nullopt;
        column.source = std::move(*array);
        return column;
    }
    if (auto nan_nulls = arrow_string_nulls(dtype->get())) {
        auto stream = arrow_stream(series->get(), [](const char* format) { return string_layout(format); });
        if (!stream) return std::nullopt;
        column.kind = FrameColumn::Kind::Arrow;
        column.source = std::move(*stream);
        column.nan_nulls = *nan_nulls;
        return column;
    }
    if (is_pandas_type(dtype->get(), "CategoricalDtype")) {
        auto texts = category_texts(dtype->get());
        auto codes = texts ? category_codes(series->get(), rows) : std::nullopt;
        if (!codes) return std::nullopt;
        column.kind = FrameColumn::Kind::Categorical;
        column.source = std::move(*codes);
        column.categories = std::move(*texts);
        return column;
    }
    if (is_masked_number_dtype(dtype->get())) {
        if (read_masked(series->get(), rows, column)) return column;
    } else if (is_arrow_number_dtype(dtype->get())) {
        auto stream = arrow_stream(series->get(), [](const char* format) { return arrow_number_type(format); });
        if (stream) {
            column.kind = FrameColumn::Kind::ArrowNumbers;
            column.source = std::move(*stream);
            return column;
        }
    }
    if (read_as_objects(series->get(), rows, objects, column)) return column;
    return std::nullopt;
}

}  // namespace

std::optional<std::vector<FrameColumn>> plain_frame_columns(PyObject* frame, std::size_t rows, std::size_t cols) {
    if (!is_exact_pandas_frame(frame)) return std::nullopt;
    auto iloc = probe(get_attr(frame, interned::iloc()));
    if (!iloc) return std::nullopt;
    std::vector<FrameColumn> columns;
    std::optional<bool> objects;
    auto values_are_objects = [&] {
        if (!objects) objects = values_hold_objects(frame);
        return *objects;
    };
    for (std::size_t col = 0; col < cols; ++col) {
        auto column = frame_column(iloc->get(), col, rows, values_are_objects);
        if (!column) return std::nullopt;
        columns.push_back(std::move(*column));
    }
    return columns;
}

}  // namespace tarnix

namespace tarnix {

bool has_number_extension_column(PyObject* frame) {
    auto dtypes = probe(get_attr(frame, interned::dtypes()));
    auto list = dtypes ? probe(call_method(dtypes->get(), interned::tolist())) : std::nullopt;
    if (!list || !PyList_Check(list->get())) return false;
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(list->get()); ++i) {
        PyObject* dtype = PyList_GET_ITEM(list->get(), i);
        if (is_masked_number_dtype(dtype) || is_arrow_number_dtype(dtype)) return true;
    }
    return false;
}

}  // namespace tarnix
