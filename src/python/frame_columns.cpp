#include "python/frame_columns.hpp"

#include <string_view>

#include "boundary/text.hpp"
#include "python/calls.hpp"
#include "python/cell_reader.hpp"
#include "python/numpy_api.hpp"

namespace tarnix {

namespace {

// The value of a probing call, or nothing when it failed with an ordinary
// exception (the frame is then read another way).
template <class T>
std::optional<T> probe(Result<T> result) {
    if (result) return std::move(result).value();
    pass_on_unless_ordinary(std::move(result).error());
    return std::nullopt;
}

bool is_exact_pandas_frame(PyObject* frame) {
    Ref name = make_str("pandas");
    PyObject* pandas = PyImport_GetModule(name.get());  // NULL when pandas was never imported
    if (pandas == nullptr) return false;
    Ref owned = Ref::steal(pandas);
    auto frame_type = probe(get_attr(pandas, "DataFrame"));
    return frame_type && reinterpret_cast<PyObject*>(Py_TYPE(frame)) == frame_type->get();
}

std::optional<std::string> text_attr(PyObject* object, std::string_view name) {
    auto value = probe(get_attr(object, name));
    if (!value || !PyUnicode_Check(value->get())) return std::nullopt;
    auto view = utf8_view(value->get());
    return view ? std::optional<std::string>(*view) : std::nullopt;
}

bool readable_dtype(PyObject* dtype) {
    numpy::ensure_api();
    if (PyArray_DescrCheck(dtype)) {
        const char kind = reinterpret_cast<PyArray_Descr*>(dtype)->kind;
        return kind == 'b' || kind == 'i' || kind == 'u' || kind == 'f' || kind == 'O';
    }
    auto type_name = text_attr(reinterpret_cast<PyObject*>(Py_TYPE(dtype)), "__name__");
    auto module = text_attr(reinterpret_cast<PyObject*>(Py_TYPE(dtype)), "__module__");
    return type_name == "StringDtype" && module && module->starts_with("pandas") &&
           text_attr(dtype, "storage") == "python";
}

std::optional<Ref> column_array(PyObject* iloc, std::size_t col, std::size_t rows) {
    Ref key = own(PyTuple_New(2));
    PyTuple_SET_ITEM(key.get(), 0, own(PySlice_New(nullptr, nullptr, nullptr)).release());
    PyTuple_SET_ITEM(key.get(), 1, own(PyLong_FromSize_t(col)).release());
    auto series = probe(checked(PyObject_GetItem(iloc, key.get())));
    if (!series) return std::nullopt;
    auto dtype = probe(get_attr(series->get(), "dtype"));
    if (!dtype || !readable_dtype(dtype->get())) return std::nullopt;
    auto array = probe(call_method(series->get(), "to_numpy"));
    if (!array || !readable_column(array->get(), rows)) return std::nullopt;
    return array;
}

}  // namespace

std::optional<std::vector<Ref>> plain_frame_columns(PyObject* frame, std::size_t rows, std::size_t cols) {
    // Fetching a column costs tens of microseconds in pandas; "values" boxes a
    // number in about a tenth of one. Short frames are cheaper through "values".
    constexpr std::size_t kFewestRows = 512;
    std::optional<std::vector<Ref>> columns;
    if (rows >= kFewestRows && is_exact_pandas_frame(frame)) {
        if (auto iloc = probe(get_attr(frame, "iloc"))) {
            columns.emplace();
            for (std::size_t col = 0; col < cols && columns; ++col) {
                if (auto array = column_array(iloc->get(), col, rows)) {
                    columns->push_back(std::move(*array));
                } else {
                    columns.reset();
                }
            }
        }
    }
    return columns;
}

}  // namespace tarnix
