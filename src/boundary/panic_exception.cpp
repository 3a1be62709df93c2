#include "boundary/panic_exception.hpp"

#include <atomic>

#include "boundary/once.hpp"
#include "boundary/ref.hpp"

namespace tarnix {

namespace {

constexpr const char* kDoc =
    "The exception raised when native code called from Python fails fatally.\n"
    "\n"
    "Like SystemExit, this exception derives from BaseException, so it typically\n"
    "propagates all the way through the stack and makes the interpreter exit.";

Once made;
std::atomic<PyObject*> type_cell{nullptr};

}  // namespace

PyObject* panic_exception_type() {
    call_once_detached(made, [] {
        PyObject* type = PyErr_NewExceptionWithDoc("tarnix_runtime.PanicException", kDoc,
                                                   PyExc_BaseException, nullptr);
        if (type == nullptr) Py_FatalError("Failed to initialize new exception type.");
        type_cell.store(type);
    });
    return type_cell.load();
}

PyObject* panic_exception_type_if_made() noexcept { return type_cell.load(); }

void raise_panic_exception(const std::string& message) {
    PyObject* type = panic_exception_type();
    Ref text = Ref::steal(PyUnicode_DecodeUTF8(message.data(), static_cast<Py_ssize_t>(message.size()),
                                               "replace"));
    if (!text) return;  // the MemoryError stays raised instead
    PyErr_SetObject(type, text.get());
}

}  // namespace tarnix
