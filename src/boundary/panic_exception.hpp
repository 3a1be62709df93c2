// PanicException: the BaseException subclass that fatal internal errors
// surface as.
#pragma once

#include <string>

#include "boundary/python.hpp"

namespace tarnix {

// The type, made on first need and kept for the life of the process.
PyObject* panic_exception_type();

// The type if it was made already, else NULL (an exception of a type that was
// never made cannot exist).
PyObject* panic_exception_type_if_made() noexcept;

// Raises a new PanicException whose only argument is `message`.
void raise_panic_exception(const std::string& message);

}  // namespace tarnix
