// The Encoder class.
#pragma once

#include "boundary/error.hpp"

namespace tarnix {

// The Encoder type object, made once per process and kept for its life.
Result<PyObject*> encoder_type();

}  // namespace tarnix
