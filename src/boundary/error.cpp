#include "boundary/error.hpp"

#include <cstdio>
#include <mutex>

#include "boundary/compat.hpp"
#include "core/fatal.hpp"
#include "boundary/interned.hpp"
#include "boundary/panic_exception.hpp"
#include "boundary/text.hpp"

namespace tarnix {

namespace {

std::string qualified_name(PyTypeObject* type) {
    PyObject* name = PyType_GetQualName(type);
    if (name == nullptr) {
        PyErr_Clear();
        return "<failed to extract type name>";
    }
    Ref owned = Ref::steal(name);
    return utf8_lossy(name);
}

// str(object), or a stand-in; never leaves an exception set.
std::string str_or(PyObject* object, const char* fallback) {
    if (auto text = str_of(object)) return *text;
    PyErr_Clear();
    return fallback;
}

std::string formatted_traceback(PyObject* traceback) {
    PyObject* module = PyImport_ImportModule("traceback");
    if (module == nullptr) {
        PyErr_Clear();
        return "<traceback unavailable>";
    }
    Ref owned_module = Ref::steal(module);
    PyObject* lines = PyObject_CallMethod(module, "format_tb", "O", traceback);
    if (lines == nullptr) {
        PyErr_Clear();
        return "<traceback unavailable>";
    }
    Ref owned_lines = Ref::steal(lines);
    std::string text;
    Py_ssize_t count = PyList_Check(lines) ? PyList_GET_SIZE(lines) : 0;
    for (Py_ssize_t i = 0; i < count; ++i) text += str_or(PyList_GET_ITEM(lines, i), "");
    return text;
}

}  // namespace

PyErr::~PyErr() = default;

PyErr PyErr::lazy(PyObject* type, std::string message) {
    PyErr error;
    error.type_ = type;
    error.message_ = std::move(message);
    return error;
}

PyErr PyErr::ready(Ref exception) {
    PyErr error;
    error.exception_ = std::move(exception);
    return error;
}

PyErr PyErr::fetch() {
    PyObject* raised = compat::take_raised_exception();
    if (raised == nullptr) {
        return lazy(PyExc_SystemError, "attempted to fetch exception but none was set");
    }
    Ref exception = Ref::steal(raised);
    PyObject* panic_type = panic_exception_type_if_made();
    if (panic_type != nullptr && reinterpret_cast<PyObject*>(Py_TYPE(raised)) == panic_type) {
        std::string message = str_or(raised, "Unwrapped panic from Python code");
        std::fputs("--- tarnix: resuming a fatal error after a PanicException was fetched "
                   "from Python ---\nPython stack trace below:\n",
                   stderr);
        std::fflush(stderr);
        compat::raise_exception(exception.release());
        PyErr_PrintEx(0);
        resume_panic(std::move(message));
    }
    return ready(std::move(exception));
}

PyErr PyErr::with_cause(PyErr cause) && {
    Ref exception = std::move(*this).into_exception();
    PyException_SetCause(exception.get(), std::move(cause).into_exception().release());
    return ready(std::move(exception));
}

PyErr PyErr::with_argument_note(std::string_view parameter) && {
    Ref exception = std::move(*this).into_exception();
    Ref note = Ref::steal(compat::join_utf8({"while processing '", parameter, "'"}));
    if (!note) {
        PyErr_Clear();
        return ready(std::move(exception));
    }
    PyObject* args[] = {exception.get(), note.get()};
    Ref result = Ref::steal(PyObject_VectorcallMethod(interned::add_note(), args,
                                                      2 | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr));
    if (!result) PyErr_Clear();
    return ready(std::move(exception));
}

Ref PyErr::into_exception() && {
    if (exception_) return std::move(exception_);
    Ref text = Ref::steal(PyUnicode_DecodeUTF8(message_.data(), static_cast<Py_ssize_t>(message_.size()),
                                               "replace"));
    Ref made = Ref::steal(text ? PyObject_CallOneArg(type_, text.get()) : nullptr);
    if (!made) {
        // Making the exception failed (out of memory): raise that instead.
        made = Ref::steal(compat::take_raised_exception());
        if (!made) Py_FatalError("exception construction failed without an exception");
    }
    return made;
}

void PyErr::restore() && { compat::raise_exception(std::move(*this).into_exception().release()); }

bool PyErr::matches(PyObject* type) const {
    if (exception_) return PyErr_GivenExceptionMatches(exception_.get(), type) != 0;
    return PyErr_GivenExceptionMatches(type_, type) != 0;
}

std::string PyErr::describe() const {
    if (!exception_) {
        return qualified_name(reinterpret_cast<PyTypeObject*>(type_)) + ": " + message_;
    }
    PyObject* exception = exception_.get();
    std::string text = qualified_name(Py_TYPE(exception)) + ": " + str_or(exception, "<unprintable>");
    PyObject* traceback = PyException_GetTraceback(exception);
    if (traceback == nullptr) return text + "\nTraceback: none";
    Ref owned = Ref::steal(traceback);
    return text + "\nTraceback (most recent call last):\n" + formatted_traceback(traceback);
}

PyErr cast_error(PyObject* object, PyTypeObject* target) {
    return cast_error(object, qualified_name(target));
}

PyErr cast_error(PyObject* object, std::string_view target) {
    std::string target_name(target);
    if (object == Py_None) {
        return PyErr::lazy(PyExc_TypeError, "'None' is not an instance of '" + target_name + "'");
    }
    return PyErr::lazy(PyExc_TypeError, "'" + qualified_name(Py_TYPE(object)) +
                                            "' object is not an instance of '" + target_name + "'");
}

void panic_from(std::string_view context, PyErr cause, std::source_location where) {
    if (!cause.is_ordinary()) throw RaisedToCaller{std::move(cause)};
    std::string message(context);
    message += ": ";
    message += cause.describe();
    panic(std::move(message), where);
}

PyErr pass_on_unless_ordinary(PyErr error) {
    if (!error.is_ordinary()) throw RaisedToCaller{std::move(error)};
    return error;
}

Result<Ref> checked(PyObject* result) {
    if (result == nullptr) return PyErr::fetch();
    return Ref::steal(result);
}

Status checked_status(int status) {
    if (status < 0) return PyErr::fetch();
    return success();
}

Ref own(PyObject* made, std::source_location where) {
    if (made == nullptr) {
        if (PyErr_Occurred()) PyErr_WriteUnraisable(nullptr);
        panic("PyObject pointer is null", where);
    }
    return Ref::steal(made);
}

}  // namespace tarnix
