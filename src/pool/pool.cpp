#include "pool/pool.hpp"

#include <cstring>

#include <oneapi/tbb/global_control.h>
#include <oneapi/tbb/info.h>

#include "pool/cpu_count.hpp"

namespace tarnix::pool {

namespace {

// Read once: the pool keeps the size it was created with even if the
// environment changes later.
std::size_t pool_size() {
    static const std::size_t size = configured_thread_count();
    return size;
}

// Kept reachable so leak checkers see it as alive, not lost.
oneapi::tbb::global_control* raised_cap = nullptr;

oneapi::tbb::task_arena* make_arena() {
    const int threads = static_cast<int>(pool_size());  // at most kMostThreads
    // TBB caps its workers at the machine's concurrency unless told otherwise;
    // an explicitly larger pool needs that cap raised for the life of the
    // process.
    if (threads > oneapi::tbb::info::default_concurrency()) {
        raised_cap = new oneapi::tbb::global_control(
            oneapi::tbb::global_control::max_allowed_parallelism,
            static_cast<std::size_t>(threads));
    }
    // Never destroyed: worker threads live until the process ends, and no
    // teardown may race with a task still running at exit.
    auto* made = new oneapi::tbb::task_arena(threads);
    made->initialize();
    return made;
}

}  // namespace

oneapi::tbb::task_arena& arena() {
    static oneapi::tbb::task_arena* const instance = make_arena();
    return *instance;
}

std::size_t worker_count() { return forked::active() ? forked::size() : pool_size(); }

void copy_doubles(double* destination, const double* source, std::size_t n) {
    constexpr std::size_t kBlock = std::size_t{1} << 17;  // 1 MiB of doubles per task
    if (n <= kBlock || worker_count() == 1) {
        if (n > 0) std::memcpy(destination, source, n * sizeof(double));
        return;
    }
    auto copy = [&](std::size_t begin, std::size_t end) {
        std::memcpy(destination + begin, source + begin, (end - begin) * sizeof(double));
    };
    if (forked::active()) return forked::for_each_block(n, kBlock, copy);
    run([&] {
        oneapi::tbb::parallel_for(
            oneapi::tbb::blocked_range<std::size_t>(0, n, kBlock),
            [&](const oneapi::tbb::blocked_range<std::size_t>& r) { copy(r.begin(), r.end()); },
            oneapi::tbb::simple_partitioner());
    });
}

}  // namespace tarnix::pool
