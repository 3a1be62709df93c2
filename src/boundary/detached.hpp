// Native work with the calling thread detached from the interpreter: other
// Python threads run meanwhile (the GIL is released on a GIL build) and
// stop-the-world pauses of a free-threaded build do not wait for it. Nothing
// inside may touch a Python object; the thread re-attaches on every way out,
// a fatal error's unwinding included, before anything outside touches one.
#pragma once

#include "boundary/python.hpp"

namespace tarnix {

class Detached {
public:
    Detached() noexcept : state_(PyEval_SaveThread()) {}
    // Re-attaching may end a daemon thread while the interpreter exits: the
    // forced unwind must be able to leave from here.
    ~Detached() noexcept(false) { PyEval_RestoreThread(state_); }
    Detached(const Detached&) = delete;
    Detached& operator=(const Detached&) = delete;

private:
    PyThreadState* state_;
};

}  // namespace tarnix
