// Interpreter calls on NumPy and pandas objects, by interned name (see
// boundary/interned.hpp); failures come back as pending errors.
#pragma once

#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "boundary/error.hpp"
#include "boundary/interned.hpp"

namespace tarnix {

Result<Ref> import_module(PyObject* name);
Result<Ref> get_attr(PyObject* object, PyObject* name);
// receiver.name(*args), as a method vector call.
Result<Ref> call_method(PyObject* receiver, PyObject* name, std::initializer_list<PyObject*> args = {});
// receiver.name(key=value, ...), keywords only.
Result<Ref> call_method_with_keywords(PyObject* receiver, PyObject* name,
                                      std::initializer_list<std::pair<PyObject*, PyObject*>> keywords);

// The line and a newline, in one write where the descriptor takes it whole
// (so that lines written at once by several threads do not interleave),
// straight to the file descriptor, past sys.stdout / sys.stderr and any
// buffering: no Python code runs.
void write_line(int fd, std::string line);

// Where a call can go several ways (a frame read column by column or
// through its values, each column by the route of its storage), the way taken
// is written to standard error as a line "tarnix route: {what}" when the
// environment variable TARNIX_TRACE_ROUTES is set to anything but "" or "0".
// It is read at every decision, so a test can set it for one call; nothing
// else depends on it.
bool tracing_routes() noexcept;
void trace_route(std::string_view what);

// The value of a probing call, or nothing when it failed with an ordinary
// exception (the caller then goes another way, traced as "fallback: {what}"
// with the exception); any other exception ends the call (see RaisedToCaller).
void trace_fallback(std::string_view what, const PyErr& error);

template <class T>
std::optional<T> probe(Result<T> result, std::string_view what) {
    if (result) return std::move(result).value();
    PyErr error = pass_on_unless_ordinary(std::move(result).error());
    if (tracing_routes()) trace_fallback(what, error);
    return std::nullopt;
}

// A new tuple of two Python ints.
Ref index_pair(std::size_t row, std::size_t col);

}  // namespace tarnix
