#include "core/encoding_info.hpp"

#include <sys/random.h>

#include <chrono>

namespace tarnix {

namespace {

std::uint64_t draw_seed() noexcept {
    std::uint64_t seed = 0;
    if (getrandom(&seed, sizeof seed, 0) != static_cast<ssize_t>(sizeof seed)) {
        // No entropy source: fall back to the clock, still different per run.
        seed = static_cast<std::uint64_t>(
            std::chrono::steady_clock::now().time_since_epoch().count());
    }
    return seed;
}

}  // namespace

std::uint64_t hash_seed() noexcept {
    static const std::uint64_t seed = draw_seed();
    return seed;
}

}  // namespace tarnix
