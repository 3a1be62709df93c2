#include "core/fatal.hpp"

#include <pthread.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace tarnix {

namespace {

std::string current_thread_name() {
    char name[64] = {};
    if (pthread_getname_np(pthread_self(), name, sizeof name) != 0 || name[0] == '\0') {
        return "<unnamed>";
    }
    return name;
}

// Source paths are reported from the project's src/ directory down.
std::string_view short_path(std::string_view path) {
    auto at = path.rfind("src/");
    return at == std::string_view::npos ? path : path.substr(at);
}

}  // namespace

std::string panic_report(const std::string& thread_name, std::source_location where,
                         const std::string& message) {
    std::string report = "thread '" + thread_name + "' panicked at ";
    report += short_path(where.file_name());
    report += ':' + std::to_string(where.line()) + ':' + std::to_string(where.column()) + ":\n";
    report += message;
    report += '\n';
    return report;
}

void panic(std::string message, std::source_location where) {
    std::string report = panic_report(current_thread_name(), where, message);
    std::fwrite(report.data(), 1, report.size(), stderr);
    std::fflush(stderr);
    throw Panic(std::move(message));
}

void resume_panic(std::string message) { throw Panic(std::move(message)); }

void handle_alloc_error(std::size_t bytes) noexcept {
    // No allocation here: the heap is what just failed.
    char line[80];
    int n = std::snprintf(line, sizeof line, "memory allocation of %zu bytes failed\n", bytes);
    if (n > 0) {
        [[maybe_unused]] auto written = ::write(STDERR_FILENO, line, static_cast<std::size_t>(n));
    }
    std::abort();
}

}  // namespace tarnix
