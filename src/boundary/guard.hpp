// The boundary guard around every callable the interpreter calls: pending
// errors are raised, fatal internal errors become PanicException, and no C++
// exception ever crosses into the interpreter. The one thing let through is
// the forced unwind that ends a thread (the interpreter ends daemon threads
// that way at exit): it must run to the thread's end, so nothing here is
// noexcept and it is rethrown wherever it is caught. It is no C++ exception
// (it has no type), which is how it is told apart.
#pragma once

#include <cxxabi.h>

#include <exception>
#include <new>

#include "boundary/error.hpp"
#include "core/fatal.hpp"
#include "boundary/panic_exception.hpp"

namespace tarnix {

inline constexpr const char* kGenericPanicMessage = "a fatal error occurred in native code";

// Inside a catch clause: whether what was caught is not a C++ exception.
inline bool unwinding_foreign() noexcept { return abi::__cxa_current_exception_type() == nullptr; }

// glibc's thread-ending unwind, as libstdc++ lets it be caught by type:
// __cxa_current_exception_type() of a foreign exception reads a header it
// does not have, so unwinding_foreign() alone may miss it (it did on 3.11).
// libc++ has no such type; musl ends threads without unwinding.
#if defined(__GLIBCXX__)
using ForcedUnwind = abi::__forced_unwind;
#else
struct ForcedUnwind {};
#endif
// The reference such a catch clause binds refers to no object (the unwind has
// none), which UBSan's null check reports; the guards are not checked for it,
// and stay out of line so that their callers' checks do not come back with
// them.
#if defined(__GNUC__) || defined(__clang__)
#define TARNIX_CATCHES_FORCED_UNWIND __attribute__((no_sanitize("null"), noinline))
#else
#define TARNIX_CATCHES_FORCED_UNWIND
#endif

// Raises the PanicException for whatever fatal error is in flight.
inline void raise_current_fatal_error() {
    try {
        throw;
    } catch (const Panic& panic) {
        raise_panic_exception(panic.message().empty() ? kGenericPanicMessage : panic.message());
    } catch (const std::exception& error) {
        raise_panic_exception(error.what());
    } catch (...) {
        raise_panic_exception(kGenericPanicMessage);
    }
}

// For callables returning an object: a new reference, or NULL with an
// exception raised.
template <class Body>
TARNIX_CATCHES_FORCED_UNWIND PyObject* guard(Body&& body) {
    try {
        Result<Ref> result = body();
        if (result) return std::move(result).value().release();
        std::move(result).error().restore();
    } catch (RaisedToCaller& raised) {
        std::move(raised.error).restore();
    } catch (ForcedUnwind&) {
        throw;
    } catch (...) {
        if (unwinding_foreign()) throw;
        raise_current_fatal_error();
    }
    return nullptr;
}

// For the module execution slot: 0, or -1 with an exception raised.
template <class Body>
TARNIX_CATCHES_FORCED_UNWIND int guard_status(Body&& body) {
    try {
        Status status = body();
        if (status) return 0;
        std::move(status).error().restore();
    } catch (RaisedToCaller& raised) {
        std::move(raised.error).restore();
    } catch (ForcedUnwind&) {
        throw;
    } catch (...) {
        if (unwinding_foreign()) throw;
        raise_current_fatal_error();
    }
    return -1;
}

// For deallocation, which cannot fail: nothing is raised.
template <class Body>
TARNIX_CATCHES_FORCED_UNWIND void guard_silent(Body&& body) {
    try {
        body();
    } catch (ForcedUnwind&) {
        throw;
    } catch (...) {
        if (unwinding_foreign()) throw;
    }
}

}  // namespace tarnix
