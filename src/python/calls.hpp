// Interpreter calls on NumPy and pandas objects, by interned name (see
// boundary/interned.hpp); failures come back as pending errors.
#pragma once

#include <initializer_list>

#include "boundary/error.hpp"
#include "boundary/interned.hpp"

namespace tarnix {

Result<Ref> import_module(PyObject* name);
Result<Ref> get_attr(PyObject* object, PyObject* name);
// receiver.name(*args), as a method vector call.
Result<Ref> call_method(PyObject* receiver, PyObject* name, std::initializer_list<PyObject*> args = {});

// A new tuple of two Python ints.
Ref index_pair(std::size_t row, std::size_t col);

}  // namespace tarnix
