#include "core/sorted_runs.hpp"

#include <algorithm>
#include <cstring>
#include <utility>

#include "core/byte_prefix.hpp"

namespace tarnix {

namespace {

// The runs' next labels, in a tree of losers: each inner node keeps the run
// that lost the match played there, node 0 the overall winner. A run that is
// used up loses every match. Replacing the winner's label replays only the
// matches on its path to the root: log2(runs) comparisons a label.
class Tournament {
public:
    Tournament(std::span<const std::string_view> labels, std::span<const std::size_t> ends)
        : labels_(labels), runs_(ends.size()), prefix_(runs_), at_(runs_), end_(runs_), tree_(runs_) {
        std::size_t start = 0;
        for (std::size_t r = 0; r < runs_; ++r) {
            at_[r] = start;
            end_[r] = ends[r];
            if (start < end_[r]) prefix_[r] = prefix_of(labels_[start]);
            start = ends[r];
        }
        if (runs_ > 0) tree_[0] = play(1);
    }

    // The run whose label comes first (the earlier run among equal labels),
    // or none when every run is used up.
    bool done() const noexcept { return runs_ == 0 || used_up(tree_[0]); }
    std::size_t position() const noexcept { return at_[tree_[0]]; }
    std::uint64_t prefix() const noexcept { return prefix_[tree_[0]]; }

    // Moves the winning run to its next label; false when that label is not
    // greater than the one before it.
    bool advance() noexcept {
        std::size_t run = tree_[0];
        std::size_t at = ++at_[run];
        if (at < end_[run]) {
            std::uint64_t prefix = prefix_of(labels_[at]);
            if (prefix < prefix_[run] || (prefix == prefix_[run] && labels_[at] <= labels_[at - 1])) return false;
            prefix_[run] = prefix;
        }
        for (std::size_t node = (run + runs_) / 2; node > 0; node /= 2) {
            if (wins(tree_[node], run)) std::swap(tree_[node], run);
        }
        tree_[0] = run;
        return true;
    }

private:
    bool used_up(std::size_t run) const noexcept { return at_[run] == end_[run]; }

    bool wins(std::size_t a, std::size_t b) const noexcept {
        if (used_up(a)) return false;
        if (used_up(b)) return true;
        if (prefix_[a] != prefix_[b]) return prefix_[a] < prefix_[b];
        int order = labels_[at_[a]].compare(labels_[at_[b]]);
        return order < 0 || (order == 0 && a < b);
    }

    // The winner of the matches below `node` (leaves are runs_ .. 2 runs_ - 1).
    std::size_t play(std::size_t node) {
        if (node >= runs_) return node - runs_;
        std::size_t left = play(2 * node);
        std::size_t right = play(2 * node + 1);
        if (wins(left, right)) std::swap(left, right);
        tree_[node] = left;
        return right;
    }

    std::span<const std::string_view> labels_;
    std::size_t runs_;
    std::vector<std::uint64_t> prefix_;
    std::vector<std::size_t> at_;
    std::vector<std::size_t> end_;
    std::vector<std::size_t> tree_;
};

}  // namespace

MergedRuns merge_sorted_runs(std::span<const std::string_view> labels, std::span<const std::size_t> ends,
                             std::span<const std::int64_t> counts) {
    MergedRuns merged;
    merged.out_of_order = labels.size();
    Tournament tournament(labels, ends);
    bool counted = !counts.empty();
    std::uint64_t last_prefix = 0;
    std::string_view last;
    while (!tournament.done()) {
        std::size_t at = tournament.position();
        if (merged.first.empty() || tournament.prefix() != last_prefix || labels[at] != last) {
            merged.first.push_back(at);
            if (counted) merged.counts.push_back(0);
            last_prefix = tournament.prefix();
            last = labels[at];
        }
        if (counted) merged.counts.back() += counts[at];
        if (!tournament.advance()) {
            merged.out_of_order = at + 1;
            return merged;
        }
    }
    return merged;
}

}  // namespace tarnix
