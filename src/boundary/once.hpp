// One-time initialisation of process-wide values. The thread detaches from the
// interpreter while it waits at the guard and re-attaches to do the work, so a
// thread waiting for an initialisation never blocks the one performing it.
#pragma once

#include <mutex>
#include <utility>

#include "boundary/python.hpp"

namespace tarnix {

template <class F>
void call_once_detached(std::once_flag& flag, F&& init) {
    PyThreadState* detached = PyEval_SaveThread();
    struct Reattach {
        PyThreadState*& state;
        ~Reattach() {
            if (state != nullptr) PyEval_RestoreThread(state);
        }
    } reattach{detached};
    std::call_once(flag, [&] {
        PyEval_RestoreThread(std::exchange(detached, nullptr));
        init();  // a throw leaves the thread attached and the flag unset
        detached = PyEval_SaveThread();
    });
}

}  // namespace tarnix
