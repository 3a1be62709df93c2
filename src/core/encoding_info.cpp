#include "core/encoding_info.hpp"

#include <sys/random.h>

#include <chrono>

namespace tarnix {

std::uint64_t draw_hash_seed() noexcept {
    std::uint64_t seed = 0;
    if (getrandom(&seed, sizeof seed, 0) != static_cast<ssize_t>(sizeof seed)) {
        // No entropy source: fall back to the clock, still different per run.
        seed = static_cast<std::uint64_t>(
            std::chrono::steady_clock::now().time_since_epoch().count());
    }
    return seed;
}

}  // namespace tarnix
