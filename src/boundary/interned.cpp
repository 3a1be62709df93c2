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

#define TARNIX_INTERNED_ENTRY(function, text) Name function##_name{text, {}, nullptr};
TARNIX_INTERNED_NAMES(TARNIX_INTERNED_ENTRY)
#undef TARNIX_INTERNED_ENTRY

}  // namespace

#define TARNIX_INTERNED_DEFINE(function, text) \
    PyObject* function() { return function##_name.get(); }
TARNIX_INTERNED_NAMES(TARNIX_INTERNED_DEFINE)
#undef TARNIX_INTERNED_DEFINE

}  // namespace tarnix::interned
