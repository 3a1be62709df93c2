// Interpreter functions new in 3.14, with stand-ins for 3.13.
#pragma once

#include <string>
#include <string_view>

#include "boundary/python.hpp"

namespace tarnix::compat {

// Next item of an iterator: 1 with *item set, 0 at the end, -1 on error.
inline int iter_next_item(PyObject* iterator, PyObject** item) {
#if PY_VERSION_HEX >= 0x030E0000
    return PyIter_NextItem(iterator, item);
#else
    *item = PyIter_Next(iterator);
    if (*item != nullptr) return 1;
    return PyErr_Occurred() ? -1 : 0;
#endif
}

// Builds a str from UTF-8 pieces; NULL with an exception set on failure.
inline PyObject* join_utf8(std::initializer_list<std::string_view> pieces) {
#if PY_VERSION_HEX >= 0x030E0000
    PyUnicodeWriter* writer = PyUnicodeWriter_Create(0);
    if (writer == nullptr) return nullptr;
    for (std::string_view piece : pieces) {
        if (PyUnicodeWriter_WriteUTF8(writer, piece.data(),
                                      static_cast<Py_ssize_t>(piece.size())) < 0) {
            PyUnicodeWriter_Discard(writer);
            return nullptr;
        }
    }
    return PyUnicodeWriter_Finish(writer);
#else
    std::string text;
    for (std::string_view piece : pieces) text.append(piece);
    return PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "strict");
#endif
}

}  // namespace tarnix::compat
