#include "core/arrow_many_labels.hpp"

#include <algorithm>
#include <cstring>
#include <string_view>
#include <utility>
#include <vector>

#include "core/large_alloc.hpp"
#include "core/memo_table.hpp"
#include "core/missing_labels.hpp"
#include "pool/pool.hpp"

namespace tarnix {

namespace {

// A row's slot in the result holds, in turn, its label's hash, the number of
// its label in its bucket, and its code. The top bit marks a row with text: a
// null row holds its code, NaN, from the start, and a quiet NaN's top bit is
// clear.
constexpr std::uint64_t kText = std::uint64_t{1} << 63;

// Columns at least this long are spread over buckets (and so over threads).
constexpr std::size_t kParallelRows = std::size_t{1} << 16;
// The bucket is the hash's bits below the top one: 256 buckets keep each
// bucket's memo table small enough for the cache up to millions of labels.
constexpr unsigned kBucketBits = 8;
// Stretches of rows hashed, counted and spread on their own.
constexpr std::size_t kStretches = 64;

std::uint64_t slot_bits(const double* into, std::size_t row) noexcept {
    std::uint64_t bits;
    std::memcpy(&bits, into + row, sizeof bits);
    return bits;
}
void set_slot_bits(double* into, std::size_t row, std::uint64_t bits) noexcept {
    std::memcpy(into + row, &bits, sizeof bits);
}

// The chunk of a row, for rows that do not decrease from one call to the next.
class RowCursor {
public:
    explicit RowCursor(const ArrowChunks& chunks) noexcept : chunks_(chunks.chunks()) {}

    const ArrowChunk& seek(std::size_t row) noexcept {
        while (row - start_ >= chunks_[chunk_].length()) start_ += chunks_[chunk_++].length();
        local_ = row - start_;
        return chunks_[chunk_];
    }
    // The row's text, which it has.
    std::string_view text(std::size_t row) {
        std::string_view text;
        seek(row).visit_texts(local_, local_ + 1, [&](std::size_t, const std::string_view* label) {
            if (label != nullptr) text = *label;
        });
        return text;
    }
    void prefetch(std::size_t row) noexcept { seek(row).prefetch_text(local_); }

private:
    const std::vector<ArrowChunk>& chunks_;
    std::size_t chunk_ = 0;
    std::size_t start_ = 0;  // the first row of chunks_[chunk_]
    std::size_t local_ = 0;
};

}  // namespace

LabelCodes code_many_labels(const ArrowText& text, double* into) {
    const std::size_t rows = text.size();
    LabelCodes result;
    if (into == nullptr) {
        result.codes.resize(rows);
        into = result.codes.data();
    }
    const unsigned bucket_bits = rows >= kParallelRows && pool::worker_count() > 1 ? kBucketBits : 0;
    const std::size_t buckets = std::size_t{1} << bucket_bits;
    auto bucket_of = [bucket_bits](std::uint64_t bits) {
        return bucket_bits == 0 ? 0 : static_cast<std::size_t>((bits << 1) >> (64 - bucket_bits));
    };
    const std::size_t stretches = std::max<std::size_t>(1, std::min(kStretches, rows));
    const std::size_t stretch_rows = (rows + stretches - 1) / stretches;
    auto stretch_range = [&](std::size_t stretch) {
        return std::pair{std::min(rows, stretch * stretch_rows), std::min(rows, (stretch + 1) * stretch_rows)};
    };

    // Each row's hash goes where its code will be, and each stretch counts
    // its rows per bucket...
    std::vector<std::size_t> counts(stretches * buckets, 0);
    pool::for_each_index(stretches, [&](std::size_t stretch) {
        std::size_t* count = &counts[stretch * buckets];
        auto [begin, end] = stretch_range(stretch);
        text.visit(begin, end, [&](std::size_t row, const std::string_view* label) {
            if (label == nullptr) {
                into[row] = kMissingCode;
                return;
            }
            const std::uint64_t hash = hash64(*label) | kText;
            set_slot_bits(into, row, hash);
            ++count[bucket_of(hash)];
        });
    });
    // ...then the rows with text are listed by bucket, in row order within
    // each (a stretch's rows of a bucket go after the earlier stretches').
    std::vector<std::size_t> bucket_start(buckets + 1);
    std::size_t listed = 0;
    for (std::size_t bucket = 0; bucket < buckets; ++bucket) {
        bucket_start[bucket] = listed;
        for (std::size_t stretch = 0; stretch < stretches; ++stretch) {
            std::size_t& count = counts[stretch * buckets + bucket];
            listed += std::exchange(count, listed);  // becomes the stretch's next place
        }
    }
    bucket_start[buckets] = listed;
    LargeVector<std::uint32_t> by_bucket(listed);
    pool::for_each_index(stretches, [&](std::size_t stretch) {
        std::size_t* place = &counts[stretch * buckets];
        auto [begin, end] = stretch_range(stretch);
        for (std::size_t row = begin; row < end; ++row) {
            const std::uint64_t bits = slot_bits(into, row);
            if (bits & kText) by_bucket[place[bucket_of(bits)]++] = static_cast<std::uint32_t>(row);
        }
    });

    // Every bucket numbers its labels in a memo table of its own; a row's
    // slot takes its bucket and that number. The rows of a bucket lie all
    // over the column, so each is fetched in steps some rows ahead of its
    // lookup: its slot and where its text is told, then its text, then its
    // place in the memo table (which a short label's bytes decide).
    std::vector<LabelList> bucket_labels(buckets);
    pool::for_each_index(buckets, [&](std::size_t bucket) {
        constexpr std::size_t kRing = 16;  // rows between reading a row's text and its lookup
        constexpr std::size_t kPlace = kRing / 2;
        struct Pending {
            std::string_view label;
            std::uint64_t hash;
        };
        Pending ring[kRing];
        MemoTable<std::uint32_t> memo;
        RowCursor cursor(text.chunks()), ahead(text.chunks());
        const std::size_t begin = bucket_start[bucket], end = bucket_start[bucket + 1];
        auto read = [&](std::size_t at) {
            const std::uint32_t row = by_bucket[at];
            Pending& pending = ring[at % kRing];
            pending = Pending{cursor.text(row), slot_bits(into, row)};
            __builtin_prefetch(pending.label.data());
        };
        for (std::size_t at = begin; at < std::min(end, begin + kRing); ++at) read(at);
        for (std::size_t at = begin; at < end; ++at) {
            if (at + 2 * kRing < end) {
                const std::uint32_t later = by_bucket[at + 2 * kRing];
                __builtin_prefetch(into + later);
                ahead.prefetch(later);
            }
            if (at + kPlace < end) {
                const Pending& soon = ring[(at + kPlace) % kRing];
                memo.prefetch(soon.label, soon.hash);
            }
            const Pending now = ring[at % kRing];
            if (at + kRing < end) read(at + kRing);
            const std::uint32_t id = memo.get_or_insert(now.label, now.hash);
            set_slot_bits(into, by_bucket[at], kText | (std::uint64_t{bucket} << 32) | id);
        }
        bucket_labels[bucket] = std::move(memo).take_labels();
    });
    LargeVector<std::uint32_t>().swap(by_bucket);

    // The labels of all buckets, sorted once...
    std::vector<std::size_t> first_id(buckets);
    result.storage.reserve(buckets);
    for (std::size_t bucket = 0; bucket < buckets; ++bucket) {
        first_id[bucket] = result.distinct.size();
        const LabelList& labels = result.storage.emplace_back(std::move(bucket_labels[bucket]));
        for (std::size_t id = 0; id < labels.size(); ++id) result.distinct.push_back(labels[id]);
    }
    result.code_of_distinct = codes_of_labels(result.distinct);

    // ...and each row's code goes where it lies.
    const std::vector<double>& code_of = result.code_of_distinct;
    auto code_at = [&](std::uint64_t bits) -> const double& {
        return code_of[first_id[(bits >> 32) & (buckets - 1)] + static_cast<std::uint32_t>(bits)];
    };
    pool::for_each_block(rows, [&](std::size_t begin, std::size_t end) {
        constexpr std::size_t kAhead = 16;
        for (std::size_t row = begin; row < end; ++row) {
            if (row + kAhead < end) {
                const std::uint64_t later = slot_bits(into, row + kAhead);
                if (later & kText) __builtin_prefetch(&code_at(later));
            }
            const std::uint64_t bits = slot_bits(into, row);
            if (bits & kText) into[row] = code_at(bits);
        }
    });
    return result;
}

}  // namespace tarnix
