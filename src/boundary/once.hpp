// One-time initialisation of process-wide values. Once the value is made,
// taking it is one atomic load. Until then a thread detaches from the
// interpreter while it waits at the guard and re-attaches to do the work, so a
// thread waiting for an initialisation never blocks the one performing it.
#pragma once

#include <atomic>
#include <mutex>

#include "boundary/python.hpp"

namespace tarnix {

class Once {
public:
    // Runs init() unless a call of it has already returned. A throw leaves the
    // flag unset, so a later call tries again.
    template <class F>
    void call(F&& init) {
        if (done_.load(std::memory_order_acquire)) return;
        call_slow(init);
    }

private:
    template <class F>
    void call_slow(F& init) {
        PyThreadState* detached = PyEval_SaveThread();
        std::unique_lock lock(mutex_);
        // Re-attaching may end a daemon thread while the interpreter shuts
        // down; that unwinds through here and releases the lock.
        PyEval_RestoreThread(detached);
        if (done_.load(std::memory_order_relaxed)) return;
        init();
        done_.store(true, std::memory_order_release);
    }

    std::atomic<bool> done_{false};
    std::mutex mutex_;
};

template <class F>
void call_once_detached(Once& once, F&& init) {
    once.call(init);
}

}  // namespace tarnix
