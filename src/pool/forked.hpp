// The pool of a process made by fork(). oneTBB keeps one scheduler per
// process, and a child inherits it as it stood at the fork: the workers it
// counts on do not exist there (a fresh arena gets none of them), and its locks
// may be held by threads that do not exist either. So a forked process never
// calls into oneTBB: its pool is plain threads of its own, made on first use
// with the size rule of the parent's (configured_thread_count), and its child
// gets a new one again.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <utility>

namespace tarnix::pool::forked {

// Set in the child by a fork handler, never cleared: every pool call checks it,
// so it is one relaxed load.
inline std::atomic<bool> in_child{false};

// Whether this process was made by fork() since the module was loaded.
inline bool active() noexcept { return in_child.load(std::memory_order_relaxed); }

// What the fork handler does in the child: from now on the pool runs on plain
// threads. Callable directly so tests can run the plain threads without a fork.
void enter() noexcept;

// The number of threads of this process's pool, the caller included.
std::size_t size();

// A borrowed callable f(begin, end).
class BlockFunction {
public:
    template <class F>
    explicit BlockFunction(F& f) noexcept
        : object_(&f), call_([](void* object, std::size_t begin, std::size_t end) {
              (*static_cast<F*>(object))(begin, end);
          }) {}
    void operator()(std::size_t begin, std::size_t end) const { call_(object_, begin, end); }

private:
    void* object_;
    void (*call_)(void*, std::size_t, std::size_t);
};

// f(begin, end) for the blocks [k * grain, (k + 1) * grain) (the last one cut at
// n) covering [0, n), in parallel; returns when all are done and rethrows the
// first exception a block threw (the blocks not yet started then do not run).
void run_blocks(std::size_t n, std::size_t grain, BlockFunction f);

// A few blocks per thread: as long as tasks take about as long, the threads
// finish about together.
inline std::size_t grain_for(std::size_t n) {
    const std::size_t blocks = size() * 4;
    return std::max<std::size_t>(1, (n + blocks - 1) / blocks);
}

template <class F>
void for_each_block(std::size_t n, std::size_t grain, F&& f) {
    run_blocks(n, grain, BlockFunction(f));
}

// Blocks sorted side by side, then merged pairwise, each round in parallel.
template <class It, class Less>
void sort_unstable(It first, It last, Less& less) {
    constexpr std::size_t kLeastBlock = 4096;
    const auto n = static_cast<std::size_t>(last - first);
    const std::size_t blocks = std::clamp<std::size_t>(n / kLeastBlock, 1, size());
    const std::size_t width = (n + blocks - 1) / blocks;
    auto at = [&](std::size_t i) { return first + static_cast<std::ptrdiff_t>(std::min(i, n)); };
    for_each_block(n, std::max<std::size_t>(width, 1), [&](std::size_t begin, std::size_t end) {
        std::sort(at(begin), at(end), less);
    });
    for (std::size_t run = width; run < n; run *= 2) {
        for_each_block((n + 2 * run - 1) / (2 * run), 1, [&](std::size_t pair, std::size_t) {
            const std::size_t begin = pair * 2 * run;
            std::inplace_merge(at(begin), at(begin + run), at(begin + 2 * run), less);
        });
    }
}

}  // namespace tarnix::pool::forked
