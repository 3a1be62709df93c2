#include "boundary/text.hpp"

namespace tarnix {

std::optional<std::string_view> utf8_view(PyObject* str) noexcept {
    Py_ssize_t size = 0;
    const char* data = PyUnicode_AsUTF8AndSize(str, &size);
    if (data == nullptr) {
        PyErr_Clear();
        return std::nullopt;
    }
    return std::string_view(data, static_cast<std::size_t>(size));
}

std::string utf8_lossy(PyObject* str) {
    if (auto view = utf8_view(str)) return std::string(*view);
    Ref bytes = own(PyUnicode_AsEncodedString(str, "utf-8", "surrogatepass"));
    Ref decoded = own(PyUnicode_DecodeUTF8(PyBytes_AS_STRING(bytes.get()),
                                           PyBytes_GET_SIZE(bytes.get()), "replace"));
    // After replacement the text is valid UTF-8.
    auto view = utf8_view(decoded.get());
    return view ? std::string(*view) : std::string();
}

std::optional<std::string> str_of(PyObject* object) {
    PyObject* str = PyObject_Str(object);
    if (str == nullptr) return std::nullopt;
    Ref owned = Ref::steal(str);
    return utf8_lossy(str);
}

Ref make_str(std::string_view utf8) {
    return own(PyUnicode_FromStringAndSize(utf8.data(), static_cast<Py_ssize_t>(utf8.size())));
}

}  // namespace tarnix
