#include "core/sorted_runs.hpp"

#include <algorithm>
#include <cstring>

namespace tarnix {

namespace {

// The first 8 bytes of a label as a big-endian number (zeros past its end):
// ordering two labels by it agrees with their byte order where it differs.
std::uint64_t prefix_of(std::string_view label) noexcept {
    unsigned char bytes[8] = {};
    std::memcpy(bytes, label.data(), std::min<std::size_t>(label.size(), 8));
    std::uint64_t key = 0;
    for (unsigned char byte : bytes) key = (key << 8) | byte;
    return key;
}

// The next label of a run: an element of the heap.
struct Cursor {
    std::uint64_t prefix;
    std::string_view label;
    std::size_t at;
    std::size_t end;
};

// Heap order: the smaller label first, the earlier position among equal ones.
bool precedes(const Cursor& a, const Cursor& b) noexcept {
    if (a.prefix != b.prefix) return a.prefix < b.prefix;
    int order = a.label.compare(b.label);
    return order < 0 || (order == 0 && a.at < b.at);
}

// Restores the heap after its top changed.
void sift_down(std::vector<Cursor>& heap) noexcept {
    std::size_t size = heap.size();
    std::size_t at = 0;
    Cursor moving = heap[0];
    while (true) {
        std::size_t child = 2 * at + 1;
        if (child >= size) break;
        if (child + 1 < size && precedes(heap[child + 1], heap[child])) ++child;
        if (!precedes(heap[child], moving)) break;
        heap[at] = heap[child];
        at = child;
    }
    heap[at] = moving;
}

}  // namespace

MergedRuns merge_sorted_runs(std::span<const std::string_view> labels,
                             std::span<const std::size_t> ends, std::span<std::int64_t> rank) {
    MergedRuns merged;
    merged.out_of_order = labels.size();
    merged.first.reserve(labels.size());
    std::vector<Cursor> heap;
    heap.reserve(ends.size());
    std::size_t start = 0;
    for (std::size_t end : ends) {
        if (start < end) heap.push_back(Cursor{prefix_of(labels[start]), labels[start], start, end});
        start = end;
    }
    std::make_heap(heap.begin(), heap.end(), [](const Cursor& a, const Cursor& b) { return precedes(b, a); });
    std::uint64_t last_prefix = 0;
    std::string_view last;
    while (!heap.empty()) {
        Cursor& top = heap[0];
        if (merged.first.empty() || top.prefix != last_prefix || top.label != last) {
            merged.first.push_back(static_cast<std::int64_t>(top.at));
            last_prefix = top.prefix;
            last = top.label;
        }
        rank[top.at] = static_cast<std::int64_t>(merged.first.size() - 1);
        if (++top.at == top.end) {
            top = heap.back();
            heap.pop_back();
            if (heap.empty()) break;
        } else {
            std::string_view next = labels[top.at];
            std::uint64_t prefix = prefix_of(next);
            if (prefix < top.prefix || (prefix == top.prefix && next <= top.label)) {
                merged.out_of_order = top.at;
                return merged;
            }
            top.prefix = prefix;
            top.label = next;
        }
        sift_down(heap);
    }
    return merged;
}

}  // namespace tarnix
