// Native work with the calling thread detached from the interpreter: other
// Python threads run meanwhile (the GIL is released on a GIL build) and
// stop-the-world pauses of a free-threaded build do not wait for it. Nothing
// inside may touch a Python object; the thread re-attaches on every way out,
// a fatal error's unwinding included, before anything outside touches one.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <thread>

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

// A long stretch of work on Python objects, attached: a free-threaded
// interpreter's stop-the-world pause (a gc.collect() in another thread, say)
// waits until every attached thread has stopped, and a thread running native
// code never looks at the interpreter's request to stop. Calling `reached`
// after each unit of work looks at it every kEvery units and, when a pause is
// waiting, lets it through: `before()` runs first (Python code runs meanwhile
// and may change or free what the work holds), then the thread detaches until
// the pausing thread has parked it, and re-attaches when the world runs again.
// With the GIL nothing is needed: the collector runs under the GIL.
class PausePoint {
public:
    PausePoint() noexcept {
#ifdef Py_GIL_DISABLED
        thread_ = PyThreadState_GetUnchecked();
#endif
    }

    template <class Before>
    void reached(Before&& before) {
#ifdef Py_GIL_DISABLED
        if (++units_ % kEvery != 0 || !stop_requested()) return;
        before();
        let_the_world_stop();
#else
        (void)before;
#endif
    }

private:
#ifdef Py_GIL_DISABLED
    // The interpreter's own constants (internal headers of 3.13 and 3.14):
    // the bit of a thread's eval_breaker that asks it to stop, and the state
    // of a thread that is detached and not yet parked by a pause.
    static constexpr std::uintptr_t kPleaseStopBit = std::uintptr_t{1} << 5;
    static constexpr int kDetached = 0;
    // The pausing thread looks for detached threads to park every millisecond.
    static constexpr auto kParkWithin = std::chrono::milliseconds(3);

    bool stop_requested() const noexcept {
        return (std::atomic_ref<std::uintptr_t>(thread_->eval_breaker).load(std::memory_order_relaxed) &
                kPleaseStopBit) != 0;
    }

    // What the interpreter's loop does on the request: clear it and wait for
    // the world to run again. A request left set by a pause that parked this
    // thread while it was detached for other reasons has no one waiting: the
    // wait ends after kParkWithin.
    void let_the_world_stop() {
        std::atomic_ref<std::uintptr_t>(thread_->eval_breaker).fetch_and(~kPleaseStopBit);
        Detached detached;
        std::atomic_ref<int> state(thread_->state);
        const auto give_up = std::chrono::steady_clock::now() + kParkWithin;
        while (state.load(std::memory_order_acquire) == kDetached && std::chrono::steady_clock::now() < give_up) {
            std::this_thread::sleep_for(std::chrono::microseconds(50));
        }
    }

    PyThreadState* thread_ = nullptr;
#endif
    static constexpr std::size_t kEvery = 1024;
    std::size_t units_ = 0;
};

}  // namespace tarnix
