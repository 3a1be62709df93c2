// The one way the module includes the interpreter's headers.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>


namespace tarnix::compat {

// This thread's state while it is attached to the interpreter, else NULL,
// without any check (3.13's PyThreadState_GetUnchecked; 3.12 calls it
// _PyThreadState_UncheckedGet). On 3.11 that name gives the state of whichever
// thread holds the GIL, so it answers only for a thread that holds it. The
// other stand-ins for older interpreters are in boundary/compat.hpp, which
// needs Ref, and Ref needs this one.
inline PyThreadState* attached_thread_state() {
#if PY_VERSION_HEX >= 0x030D0000
    return PyThreadState_GetUnchecked();
#elif PY_VERSION_HEX >= 0x030C0000
    return _PyThreadState_UncheckedGet();
#else
    return PyGILState_Check() ? _PyThreadState_UncheckedGet() : nullptr;
#endif
}

}  // namespace tarnix::compat
