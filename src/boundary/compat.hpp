// Interpreter functions newer than 3.11, with stand-ins for the older
// interpreters the module builds for (3.11 to 3.13); where the two differ,
// the module behaves as on 3.14.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

#include "boundary/python.hpp"
#include "boundary/ref.hpp"

namespace tarnix::compat {

// Takes the exception being raised out of the thread: a new reference, or
// NULL when none is (3.12's PyErr_GetRaisedException).
inline PyObject* take_raised_exception() {
#if PY_VERSION_HEX >= 0x030C0000
    return PyErr_GetRaisedException();
#else
    PyObject* type = nullptr;
    PyObject* value = nullptr;
    PyObject* traceback = nullptr;
    PyErr_Fetch(&type, &value, &traceback);
    if (type == nullptr) return nullptr;
    PyErr_NormalizeException(&type, &value, &traceback);
    Ref owned_type = Ref::steal(type);
    Ref owned_traceback = Ref::steal(traceback);
    if (owned_traceback) PyException_SetTraceback(value, owned_traceback.get());
    return value;
#endif
}

// Raises an exception instance, stealing the reference (3.12's
// PyErr_SetRaisedException): no context is attached, the traceback is the
// exception's own.
inline void raise_exception(PyObject* exception) {
#if PY_VERSION_HEX >= 0x030C0000
    PyErr_SetRaisedException(exception);
#else
    if (exception == nullptr) {
        PyErr_Clear();
        return;
    }
    PyErr_Restore(Py_NewRef(reinterpret_cast<PyObject*>(Py_TYPE(exception))), exception,
                  PyException_GetTraceback(exception));
#endif
}

// A new reference to a type's dictionary (3.12's PyType_GetDict).
inline PyObject* type_dict(PyTypeObject* type) {
#if PY_VERSION_HEX >= 0x030C0000
    return PyType_GetDict(type);
#else
    return Py_XNewRef(type->tp_dict);
#endif
}

// getattr(obj, name) without an AttributeError (3.13's
// PyObject_GetOptionalAttr): 1 with *value set, 0 when there is no such
// attribute, -1 with another exception raised.
inline int get_optional_attr(PyObject* obj, PyObject* name, PyObject** value) {
#if PY_VERSION_HEX >= 0x030D0000
    return PyObject_GetOptionalAttr(obj, name, value);
#else
    return _PyObject_LookupAttr(obj, name, value);
#endif
}

// The module's slot saying it does not need the GIL (3.13); before 3.13 an
// early end of the slot list, as there is no free-threaded build to tell.
inline PyModuleDef_Slot gil_not_used_slot() {
#if PY_VERSION_HEX >= 0x030D0000
    return {Py_mod_gil, Py_MOD_GIL_NOT_USED};
#else
    return {0, nullptr};
#endif
}

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
