#include "boundary/interned.hpp"

#include "boundary/once.hpp"
#include "boundary/ref.hpp"

namespace tarnix::interned {

namespace {

struct Name {
    const char* text;
    Once made;
    PyObject* object = nullptr;

    PyObject* get() {
        call_once_detached(made, [this] { object = own(PyUnicode_InternFromString(text)).release(); });
        return object;
    }
};

Name add_note_name{"add_note", {}, nullptr};
Name all_name{"__all__", {}, nullptr};

}  // namespace

PyObject* add_note() { return add_note_name.get(); }
PyObject* dunder_all() { return all_name.get(); }

}  // namespace tarnix::interned
