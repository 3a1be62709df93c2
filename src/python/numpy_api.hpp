// NumPy's C array API, imported on first use through the _ARRAY_API capsule.
// Every translation unit that uses the API includes this header.
#pragma once

#include "boundary/python.hpp"

#define NPY_NO_DEPRECATED_API NPY_2_0_API_VERSION
#define PY_ARRAY_UNIQUE_SYMBOL tarnix_ARRAY_API
#ifndef TARNIX_NUMPY_API_OWNER
#define NO_IMPORT_ARRAY
#endif
#include <numpy/arrayobject.h>

namespace tarnix::numpy {

// Makes the API table available; the first call in the process imports it. A
// NumPy that cannot be imported is a fatal internal error ("Failed to access
// NumPy array API capsule: ...").
void ensure_api();

}  // namespace tarnix::numpy
