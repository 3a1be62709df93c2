#include "core/arrow_text.hpp"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

#include "pool/pool.hpp"

namespace tarnix {

namespace {

constexpr double kMissingCode = std::numeric_limits<double>::quiet_NaN();
constexpr std::size_t kBlockRows = std::size_t{1} << 16;

// A label of up to 8 bytes as a number that, with its length, tells it from
// every other such label: its first and last four bytes (overlapping when it
// is shorter), or three of its bytes when it has fewer than four.
std::uint64_t short_key(std::string_view label) noexcept {
    const auto* p = reinterpret_cast<const unsigned char*>(label.data());
    const std::size_t n = label.size();
    if (n >= 4) {
        std::uint32_t first, last;
        std::memcpy(&first, p, 4);
        std::memcpy(&last, p + n - 4, 4);
        return (std::uint64_t{first} << 32) | last;
    }
    if (n == 0) return 0;
    return p[0] | (std::uint64_t{p[n >> 1]} << 8) | (std::uint64_t{p[n - 1]} << 16);
}

// The distinct labels met so far, numbered in order of arrival, in a small
// open-addressed table that stays in cache. A label of up to 8 bytes is
// looked up by its short key and length alone, a longer one by its hash and
// then its bytes.
class SmallMemo {
public:
    static constexpr std::uint32_t kFull = std::numeric_limits<std::uint32_t>::max();

    SmallMemo() : slots_(64) {}

    // The label's number; kFull (nothing added) when it would be label
    // number `most` + 1.
    std::uint32_t get_or_insert(std::string_view label, std::size_t most) {
        const bool is_short = label.size() <= 8;
        const std::uint64_t key = is_short ? short_key(label) : hash64(label);
        const auto size = static_cast<std::uint32_t>(std::min<std::size_t>(label.size(), kFull - 1));
        // A multiply-shift of the key, mixed with the length, picks the slot.
        const std::uint64_t mixed = (key ^ (std::uint64_t{size} << 56) ^ kSeedMix) * 0x9E3779B97F4A7C15ULL;
        const std::size_t mask = slots_.size() - 1;
        for (std::size_t at = (mixed >> 32) & mask;; at = (at + 1) & mask) {
            Slot& slot = slots_[at];
            if (slot.id == kFull) {
                if (labels_.size() == most) return kFull;
                slot = Slot{key, mixed, size, static_cast<std::uint32_t>(labels_.size())};
                labels_.push_back(label);
                if (labels_.size() * 2 > slots_.size()) grow();
                return static_cast<std::uint32_t>(labels_.size() - 1);
            }
            if (slot.key == key && slot.size == size && (is_short || labels_[slot.id] == label)) return slot.id;
        }
    }
    const std::vector<std::string_view>& labels() const noexcept { return labels_; }

private:
    struct Slot {
        std::uint64_t key = 0;
        std::uint64_t mixed = 0;
        std::uint32_t size = 0;
        std::uint32_t id = kFull;
    };
    void grow() {
        std::vector<Slot> old(slots_.size() * 2);
        old.swap(slots_);
        const std::size_t mask = slots_.size() - 1;
        for (const Slot& slot : old) {
            if (slot.id == kFull) continue;
            std::size_t at = (slot.mixed >> 32) & mask;
            while (slots_[at].id != kFull) at = (at + 1) & mask;
            slots_[at] = slot;
        }
    }
    const std::uint64_t kSeedMix = hash_seed();
    std::vector<Slot> slots_;
    std::vector<std::string_view> labels_;
};

}  // namespace

ArrowText::ArrowText(ArrowChunks chunks, bool nan_nulls) : chunks_(std::move(chunks)), nan_nulls_(nan_nulls) {
    for (const ArrowChunk& chunk : chunks_.chunks()) {
        for (std::size_t row = 0; row < chunk.length(); ++row) {
            if (chunk.is_valid(row)) {
                has_text_ = true;
                return;
            }
        }
    }
}

std::vector<std::string_view> ArrowText::views() const {
    std::vector<std::string_view> views;
    views.reserve(size());
    NullLabels nulls{nan_nulls_};
    visit(0, size(), [&](std::size_t, const std::string_view* label) {
        if (label == nullptr) return views.push_back(nulls.next());
        nulls.seen_text = true;
        views.push_back(*label);
    });
    return views;
}

std::optional<LabelCodes> code_few_labels(const ArrowText& text, double* into) {
    const std::size_t rows = text.size();
    LabelCodes result;
    if (into == nullptr) {
        result.codes.resize(rows);
        into = result.codes.data();
    }
    // Each block numbers its labels in a memo of its own and writes every
    // row's number where its code goes...
    const std::size_t blocks = (rows + kBlockRows - 1) / kBlockRows;
    std::vector<SmallMemo> memos(blocks);
    std::atomic<bool> too_many{false};
    pool::for_each_index(blocks, [&](std::size_t block) {
        SmallMemo& memo = memos[block];
        const std::size_t begin = block * kBlockRows;
        const std::size_t end = std::min(rows, begin + kBlockRows);
        bool full = false;
        text.visit(begin, end, [&](std::size_t row, const std::string_view* label) {
            if (full) return;
            if (label == nullptr) {
                into[row] = kMissingCode;
                return;
            }
            const std::uint32_t id = memo.get_or_insert(*label, kFewLabels);
            full = id == SmallMemo::kFull;
            into[row] = static_cast<double>(id);
        });
        if (full) too_many.store(true, std::memory_order_relaxed);
    });
    if (too_many.load()) return std::nullopt;

    // ...then the blocks' labels are merged and sorted once...
    SmallMemo all;
    std::vector<std::vector<std::uint32_t>> global_of(blocks);
    for (std::size_t block = 0; block < blocks; ++block) {
        for (std::string_view label : memos[block].labels()) {
            global_of[block].push_back(all.get_or_insert(label, std::numeric_limits<std::size_t>::max()));
        }
    }
    result.distinct = all.labels();
    result.code_of_distinct = codes_of_labels(result.distinct);

    // ...and each row's number becomes its code, where it lies.
    pool::for_each_index(blocks, [&](std::size_t block) {
        std::vector<double> code_of(global_of[block].size());
        for (std::size_t id = 0; id < code_of.size(); ++id) code_of[id] = result.code_of_distinct[global_of[block][id]];
        const std::size_t begin = block * kBlockRows;
        const std::size_t end = std::min(rows, begin + kBlockRows);
        for (std::size_t row = begin; row < end; ++row) {
            const double id = into[row];
            if (!std::isnan(id)) into[row] = code_of[static_cast<std::size_t>(id)];
        }
    });
    return result;
}

}  // namespace tarnix
