// Interpreter calls on NumPy and pandas objects, by interned name (see
// boundary/interned.hpp); failures come back as pending errors.
#pragma once

#include <initializer_list>
#include <optional>

#include "boundary/error.hpp"
#include "boundary/interned.hpp"

namespace tarnix {

Result<Ref> import_module(PyObject* name);
Result<Ref> get_attr(PyObject* object, PyObject* name);
// receiver.name(*args), as a method vector call.
Result<Ref> call_method(PyObject* receiver, PyObject* name, std::initializer_list<PyObject*> args = {});

// The value of a probing call, or nothing when it failed with an ordinary
// exception (the caller then goes another way); any other exception ends the
// call (see RaisedToCaller).
template <class T>
std::optional<T> probe(Result<T> result) {
    if (result) return std::move(result).value();
    pass_on_unless_ordinary(std::move(result).error());
    return std::nullopt;
}

// A new tuple of two Python ints.
Ref index_pair(std::size_t row, std::size_t col);

}  // namespace tarnix
