// Pending errors: what every fallible step returns instead of a value. A lazy
// error is a type and a message, made into an exception only when raised; a
// ready one is an exception object taken from the interpreter.
#pragma once

#include <memory>
#include <source_location>
#include <string>
#include <string_view>
#include <utility>
#include <variant>

#include "boundary/python.hpp"
#include "boundary/ref.hpp"

namespace tarnix {

class PyErr {
public:
    // `type` is a process-lifetime exception type (PyExc_TypeError...).
    static PyErr lazy(PyObject* type, std::string message);
    static PyErr ready(Ref exception);
    // Takes the interpreter's raised exception. None raised: a SystemError.
    // A PanicException coming back from Python resumes as a fatal error.
    static PyErr fetch();

    PyErr(PyErr&&) noexcept = default;
    PyErr& operator=(PyErr&&) noexcept = default;
    ~PyErr();

    PyErr with_cause(PyErr cause) &&;
    // "while processing '{name}'" attached through the exception's add_note.
    PyErr with_argument_note(std::string_view parameter) &&;

    // The exception object (made now for a lazy error).
    Ref into_exception() &&;
    // Raises it in the interpreter.
    void restore() &&;

    // "{type}: {message}" and the traceback; for fatal-error messages.
    std::string describe() const;
    // Type test without materialising a lazy error.
    bool matches(PyObject* type) const;
    // An Exception subclass: a failure a step may take as an answer ("not a
    // number"). Anything else (KeyboardInterrupt, SystemExit...) never is.
    bool is_ordinary() const { return matches(PyExc_Exception); }

private:
    PyErr() = default;
    PyObject* type_ = nullptr;  // lazy only
    std::string message_;       // lazy only
    Ref exception_;             // ready only
    std::unique_ptr<PyErr> cause_;
};

// "'{type}' object is not an instance of '{target}'"; for None
// "'None' is not an instance of '{target}'".
PyErr cast_error(PyObject* object, PyTypeObject* target);
PyErr cast_error(PyObject* object, std::string_view target_name);

// An exception that is not an Exception subclass (KeyboardInterrupt,
// SystemExit...), raised by Python code a call ran where the call has no
// error result: thrown to the call boundary, which raises it unchanged.
struct RaisedToCaller {
    PyErr error;
};

// Fatal internal error caused by a Python exception: "{context}: {description}".
// A cause that is not an ordinary exception is never made fatal: it is thrown
// on as RaisedToCaller.
[[noreturn]] void panic_from(std::string_view context, PyErr cause,
                             std::source_location where = std::source_location::current());

// Hands an error that is not ordinary on to the caller; an ordinary one is
// the caller's to handle and comes back.
PyErr pass_on_unless_ordinary(PyErr error);

// --- Result<T>: a value or a pending error -------------------------------

template <class T>
class [[nodiscard]] Result {
public:
    Result(T value) : state_(std::in_place_index<0>, std::move(value)) {}
    Result(PyErr error) : state_(std::in_place_index<1>, std::move(error)) {}

    bool ok() const noexcept { return state_.index() == 0; }
    explicit operator bool() const noexcept { return ok(); }
    T& value() & { return std::get<0>(state_); }
    T&& value() && { return std::get<0>(std::move(state_)); }
    PyErr& error() & { return std::get<1>(state_); }
    PyErr&& error() && { return std::get<1>(std::move(state_)); }

private:
    std::variant<T, PyErr> state_;
};

struct Unit {};
using Status = Result<Unit>;
inline Status success() { return Unit{}; }

// A NULL from a call that may raise becomes the fetched pending error.
Result<Ref> checked(PyObject* result);
// A -1 (or other failure status) likewise.
Status checked_status(int status);

#define TARNIX_CONCAT_(a, b) a##b
#define TARNIX_CONCAT(a, b) TARNIX_CONCAT_(a, b)

// TRY(expr): returns the pending error of a failed Result from the enclosing
// function.
#define TRY(...)                                                        \
    do {                                                                \
        if (auto tarnix_try_ = (__VA_ARGS__); !tarnix_try_)             \
            return std::move(tarnix_try_).error();                      \
    } while (0)

// TRY_ASSIGN(decl, expr): declares decl from the value of a successful Result,
// or returns its pending error.
#define TRY_ASSIGN(decl, ...) TRY_ASSIGN_(TARNIX_CONCAT(tarnix_result_, __LINE__), decl, __VA_ARGS__)
#define TRY_ASSIGN_(tmp, decl, ...)                  \
    auto tmp = (__VA_ARGS__);                        \
    if (!tmp) return std::move(tmp).error();         \
    decl = std::move(tmp).value()

}  // namespace tarnix
