// Fatal internal errors: conditions the module does not report as pending
// Python errors. Raising one unwinds the work in progress (RAII releases
// holds, buffers and references) up to the call boundary, which turns it
// into a PanicException.
#pragma once

#include <cstddef>
#include <exception>
#include <source_location>
#include <string>

namespace tarnix {

class Panic : public std::exception {
public:
    explicit Panic(std::string message) : message_(std::move(message)) {}
    const char* what() const noexcept override { return message_.c_str(); }
    const std::string& message() const noexcept { return message_; }

private:
    std::string message_;
};

// Writes the report (thread, source location, message) to standard error and
// throws Panic.
[[noreturn]] void panic(std::string message,
                        std::source_location where = std::source_location::current());

// Throws Panic without a new report; used when a fatal error that was already
// reported elsewhere is carried on.
[[noreturn]] void resume_panic(std::string message);

// "memory allocation of {} bytes failed" on standard error, then abort.
[[noreturn]] void handle_alloc_error(std::size_t bytes) noexcept;

// The report line written by panic(), exposed for tests.
std::string panic_report(const std::string& thread_name, std::source_location where,
                         const std::string& message);

}  // namespace tarnix
