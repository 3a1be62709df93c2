#include "python/frame_columns.hpp"

#include <cmath>
#include <cstring>
#include <string_view>

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

bool is_pandas_type(PyObject* dtype, std::string_view name) {
    PyObject* type = reinterpret_cast<PyObject*>(Py_TYPE(dtype));
    auto module = text_attr(type, interned::dunder_module());
    return text_attr(type, interned::dunder_name()) == name && module && module->starts_with("pandas");
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

// The column's Arrow stream, if it offers one of strings.
std::optional<Ref> arrow_stream(PyObject* series) {
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
    if (stream->release == nullptr || stream->get_schema(stream, schema.get()) != 0 ||
        !string_layout(schema->format)) {
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

std::optional<FrameColumn> frame_column(PyObject* iloc, std::size_t col, std::size_t rows) {
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
        auto stream = arrow_stream(series->get());
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
    return std::nullopt;
}

}  // namespace

std::optional<std::vector<FrameColumn>> plain_frame_columns(PyObject* frame, std::size_t rows, std::size_t cols) {
    if (!is_exact_pandas_frame(frame)) return std::nullopt;
    auto iloc = probe(get_attr(frame, interned::iloc()));
    if (!iloc) return std::nullopt;
    std::vector<FrameColumn> columns;
    for (std::size_t col = 0; col < cols; ++col) {
        auto column = frame_column(iloc->get(), col, rows);
        if (!column) return std::nullopt;
        columns.push_back(std::move(*column));
    }
    return columns;
}

}  // namespace tarnix
