// Interned attribute and method names, made once per process.
#pragma once

#include "boundary/python.hpp"

namespace tarnix::interned {

PyObject* add_note();
PyObject* dunder_all();

}  // namespace tarnix::interned
