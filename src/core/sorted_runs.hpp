// The union of runs of sorted labels, as partial fits of the companion
// package merge the labels of their chunks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace tarnix {

struct MergedRuns {
    // Per distinct label, in byte order: the position of its first occurrence.
    std::vector<std::int64_t> first;
    // A position whose label is not greater than the one before it in its
    // run, or labels.size() when every run increases.
    std::size_t out_of_order = 0;
};

// Merges the runs that stand one after another in `labels`: run r ends before
// position ends[r] (ends is non-decreasing, its last element labels.size()).
// Writes rank[i], the number of label i among the distinct ones (rank has
// labels.size() elements). Each run must increase strictly in byte order (the
// order of UTF-8 text by code point); otherwise `out_of_order` tells where it
// does not, and the rest of the result is unspecified.
MergedRuns merge_sorted_runs(std::span<const std::string_view> labels,
                             std::span<const std::size_t> ends, std::span<std::int64_t> rank);

}  // namespace tarnix
