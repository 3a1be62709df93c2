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
