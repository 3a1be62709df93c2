// Argument matching for the two calling conventions the module's callables
// use. The result holds one borrowed reference per parameter (NULL where the
// parameter was not given).
#pragma once

#include <vector>

#include "core/arg_match.hpp"
#include "boundary/error.hpp"

namespace tarnix {

using Arguments = std::vector<PyObject*>;

// Vector call: argument array, positional count, tuple of keyword names.
Result<Arguments> match_vectorcall(const CallableDescription& callable, PyObject* const* args,
                                   Py_ssize_t nargsf, PyObject* kwnames);

// Argument tuple and keyword dict (or NULL).
Result<Arguments> match_tuple_dict(const CallableDescription& callable, PyObject* args,
                                   PyObject* kwargs);

}  // namespace tarnix
