// Interpreter calls on NumPy and pandas objects. Each name travels as a new
// str released right after the call; failures come back as pending errors.
#pragma once

#include <initializer_list>
#include <string_view>

#include "boundary/error.hpp"

namespace tarnix {

Result<Ref> import_module(std::string_view name);
Result<Ref> get_attr(PyObject* object, std::string_view name);
// receiver.name(*args), as a method vector call.
Result<Ref> call_method(PyObject* receiver, std::string_view name,
                        std::initializer_list<PyObject*> args = {});

// A new tuple of two Python ints.
Ref index_pair(std::size_t row, std::size_t col);

}  // namespace tarnix
