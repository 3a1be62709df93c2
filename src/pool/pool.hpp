// The process-wide worker pool. Every parallel step of the module runs on it;
// each call returns only when all of its work is done, and any of them may be
// nested inside a task that already runs on the pool. An exception thrown by a
// task is rethrown to the caller.
#pragma once

#include <algorithm>
#include <cstddef>
#include <optional>
#include <span>
#include <vector>

#include <oneapi/tbb/parallel_for.h>
#include <oneapi/tbb/parallel_invoke.h>
#include <oneapi/tbb/parallel_sort.h>
#include <oneapi/tbb/task_arena.h>

#include "pool/forked.hpp"

namespace tarnix::pool {

// The pool's arena, created on first use with worker_count() threads. Not in a
// process made by fork (see forked.hpp), whose pool runs on plain threads.
oneapi::tbb::task_arena& arena();

// The number of threads the pool was (or will be) created with.
std::size_t worker_count();

// Runs f inside the pool and returns when it and everything it spawned is done.
template <class F>
decltype(auto) run(F&& f) {
    if (forked::active()) [[unlikely]] return std::forward<F>(f)();
    return arena().execute(std::forward<F>(f));
}

// f(begin, end) over consecutive blocks covering [0, n), in parallel.
template <class F>
void for_each_block(std::size_t n, F&& f) {
    if (forked::active()) [[unlikely]] return forked::for_each_block(n, forked::grain_for(n), f);
    run([&] {
        oneapi::tbb::parallel_for(oneapi::tbb::blocked_range<std::size_t>(0, n),
                                  [&](const oneapi::tbb::blocked_range<std::size_t>& r) { f(r.begin(), r.end()); });
    });
}

// f(i) for every i in [0, n), in parallel.
template <class F>
void for_each_index(std::size_t n, F&& f) {
    if (forked::active()) [[unlikely]] {
        return forked::for_each_block(n, forked::grain_for(n), [&](std::size_t begin, std::size_t end) {
            for (std::size_t i = begin; i != end; ++i) f(i);
        });
    }
    run([&] {
        oneapi::tbb::parallel_for(std::size_t{0}, n, [&](std::size_t i) { f(i); });
    });
}

// out[i] = f(in[i]) for every i, in parallel; out must be as long as in.
template <class In, class Out, class F>
void map_into(std::span<const In> in, std::span<Out> out, F&& f) {
    for_each_block(in.size(), [&](std::size_t begin, std::size_t end) {
        for (std::size_t i = begin; i != end; ++i) out[i] = f(in[i]);
    });
}

// f(i) -> std::optional<T> for every i in [0, n), in parallel; the present
// results in ascending order of i.
template <class T, class F>
std::vector<T> filter_map(std::size_t n, F&& f) {
    std::vector<std::optional<T>> slots(n);
    for_each_index(n, [&](std::size_t i) { slots[i] = f(i); });
    std::vector<T> kept;
    for (auto& slot : slots) {
        if (slot) kept.push_back(std::move(*slot));
    }
    return kept;
}

// Unstable parallel sort of [first, last) by the strict order less.
template <class It, class Less>
void sort_unstable(It first, It last, Less&& less) {
    if (forked::active()) [[unlikely]] return forked::sort_unstable(first, last, less);
    run([&] { oneapi::tbb::parallel_sort(first, last, less); });
}

// memcpy of n doubles, split over the pool when large enough to gain from it.
void copy_doubles(double* destination, const double* source, std::size_t n);

// Runs a and b, possibly in parallel, and returns when both are done.
template <class A, class B>
void join(A&& a, B&& b) {
    if (forked::active()) [[unlikely]] {
        return forked::for_each_block(2, 1, [&](std::size_t which, std::size_t) {
            if (which == 0) {
                a();
            } else {
                b();
            }
        });
    }
    // parallel_invoke calls through const references; the wrappers let a and
    // b be callables whose call operator is not const.
    run([&] { oneapi::tbb::parallel_invoke([&] { a(); }, [&] { b(); }); });
}

}  // namespace tarnix::pool
