// Ref: owns one strong reference to a Python object and releases it on every
// path out of its scope, as long as the thread is attached to the interpreter.
// A thread the interpreter ends at exit (a daemon thread, unwound without a
// thread state) leaves its references to the dying process.
#pragma once

#include <atomic>
#include <source_location>
#include <utility>

#include "boundary/python.hpp"

namespace tarnix {

// Taking a new reference: which of the four ways is right depends on what a
// NULL from the call would mean.
//
// | way                    | a NULL result means                       | use it for                                  |
// |------------------------|-------------------------------------------|---------------------------------------------|
// | own(p)                 | a fault of the module (fatal: "PyObject   | objects the module makes for itself (a str  |
// |   (boundary/ref.hpp)   | pointer is null")                         | from UTF-8, a tuple, an int) that only fail |
// |                        |                                           | when memory runs out                        |
// | checked(p)             | the call raised: a pending error the      | calls into user or library code whose       |
// |   (boundary/error.hpp) | caller returns (TRY) or raises            | exception goes back to the caller           |
// | probe(result, what)    | the call raised an ordinary exception:    | asking pandas/NumPy for a faster route; any |
// |   (python/calls.hpp)   | nothing, and the slower route is taken    | non-ordinary exception is passed on, and    |
// |                        | (traced as a fallback)                    | the slower route must give the same cells   |
// | Ref::steal(p)          | whatever the caller decides: it tests the | a new reference that may be NULL by design  |
// |                        | Ref itself (PyImport_GetModule when not   | (and the other three's own implementation), |
// |                        | imported) or has a non-NULL one in hand   | or one already checked; never where one of  |
// |                        |                                           | the three above says what NULL means        |
//
// Ref::borrow takes a second reference to an object someone else holds, to
// keep it alive while Python code that could drop it runs.

// Set when the interpreter starts to exit (its atexit callbacks run before it
// ends daemon threads); until then every thread that holds a Ref is attached.
// (Set by an atexit callback the module registers when it is executed.)
extern std::atomic<bool> interpreter_exiting;

class Ref {
public:
    Ref() noexcept = default;
    static Ref steal(PyObject* object) noexcept { return Ref(object); }
    static Ref borrow(PyObject* object) noexcept {
        Py_XINCREF(object);
        return Ref(object);
    }

    Ref(Ref&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
    Ref& operator=(Ref&& other) noexcept {
        Ref(std::move(other)).swap(*this);
        return *this;
    }
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    ~Ref() {
        if (object_ == nullptr) return;
        if (interpreter_exiting.load(std::memory_order_relaxed) && compat::attached_thread_state() == nullptr) {
            return;
        }
        Py_DECREF(object_);
    }

    PyObject* get() const noexcept { return object_; }
    PyObject* release() noexcept { return std::exchange(object_, nullptr); }
    explicit operator bool() const noexcept { return object_ != nullptr; }
    void swap(Ref& other) noexcept { std::swap(object_, other.object_); }

private:
    explicit Ref(PyObject* object) noexcept : object_(object) {}
    PyObject* object_ = nullptr;
};

// For objects the module makes for its own use (a str from UTF-8, a tuple, a
// list, an int...): NULL reports the interpreter's exception as unraisable and
// is a fatal internal error ("PyObject pointer is null").
Ref own(PyObject* made, std::source_location where = std::source_location::current());

}  // namespace tarnix
