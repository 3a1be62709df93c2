#include "core/label_encode.hpp"

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <optional>
#include <string_view>

#include "core/fatal.hpp"
#include "core/memo_table.hpp"
#include "core/missing_labels.hpp"
#include "pool/pool.hpp"

namespace tarnix {

namespace {

// Columns at least this long find their distinct labels on several threads.
constexpr std::size_t kParallelRows = std::size_t{1} << 16;

// The distinct labels of a column (in no particular order) and, for every
// row, the number of its label among them.
template <class Id>
struct Distinct {
    std::vector<std::string_view> labels;  // views into `storage`
    std::vector<Id> ids;
    std::vector<LabelList> storage;

    // The labels of a memo table become the next numbers.
    void adopt(LabelList list) {
        for (std::size_t i = 0; i < list.size(); ++i) labels.push_back(list[i]);
        storage.push_back(std::move(list));
    }
};

// One pass, one hash per row.
template <class Id>
Distinct<Id> distinct_labels_sequential(const LabelColumn& column) {
    Distinct<Id> result;
    result.ids.resize(column.size());
    MemoTable<Id> memo;
    memo.get_or_insert_all(column.size(), [&](std::size_t row) { return column[row]; }, result.ids.data());
    result.adopt(std::move(memo).take_labels());
    return result;
}

// Few distinct labels: every block of rows is deduplicated on its own with a
// small table that stays in cache, then the blocks' labels are merged. Nothing
// as soon as a block meets more than kFewLabels labels: then spreading the
// rows over buckets (below) is faster.
template <class Id>
std::optional<Distinct<Id>> distinct_labels_few(const LabelColumn& column) {
    constexpr std::size_t kFewLabels = 4096;
    constexpr std::size_t kBlockRows = std::size_t{1} << 16;
    // Rows looked up between two checks of the count.
    constexpr std::size_t kStretch = 1024;
    const std::size_t n = column.size();
    const std::size_t blocks = (n + kBlockRows - 1) / kBlockRows;
    Distinct<Id> result;
    result.ids.resize(n);
    std::vector<LabelList> block_labels(blocks);
    std::atomic<bool> too_many{false};
    pool::for_each_index(blocks, [&](std::size_t block) {
        MemoTable<Id> memo;
        const std::size_t end = std::min(n, (block + 1) * kBlockRows);
        for (std::size_t first = block * kBlockRows; first < end; first += kStretch) {
            const std::size_t count = std::min(kStretch, end - first);
            memo.get_or_insert_all(count, [&](std::size_t i) { return column[first + i]; }, &result.ids[first]);
            if (memo.size() > kFewLabels || too_many.load(std::memory_order_relaxed)) {
                too_many.store(true, std::memory_order_relaxed);
                return;
            }
        }
        block_labels[block] = std::move(memo).take_labels();
    });
    if (too_many.load()) return std::nullopt;

    MemoTable<Id> merged;
    std::vector<std::vector<Id>> global_id(blocks);
    for (std::size_t block = 0; block < blocks; ++block) {
        const LabelList& labels = block_labels[block];
        global_id[block].resize(labels.size());
        merged.get_or_insert_all(labels.size(), [&](std::size_t id) { return labels[id]; }, global_id[block].data());
    }
    pool::for_each_index(blocks, [&](std::size_t block) {
        const std::size_t end = std::min(n, (block + 1) * kBlockRows);
        for (std::size_t row = block * kBlockRows; row < end; ++row) result.ids[row] = global_id[block][result.ids[row]];
    });
    result.adopt(std::move(merged).take_labels());
    return result;
}

// Rows are spread over buckets by the top bits of their label's hash, so equal
// labels share a bucket and every bucket is deduplicated on its own, in
// parallel. Each label is still hashed once; each bucket works on a compact
// array of its rows and keeps a compact copy of its distinct labels.
template <class Id>
Distinct<Id> distinct_labels_parallel(const LabelColumn& column) {
    constexpr unsigned kBucketBits = 6;
    constexpr std::size_t kBuckets = std::size_t{1} << kBucketBits;
    constexpr std::size_t kChunks = 64;
    const std::size_t n = column.size();
    const std::size_t chunk_rows = (n + kChunks - 1) / kChunks;
    auto chunk_range = [&](std::size_t chunk) {
        return std::pair{std::min(n, chunk * chunk_rows), std::min(n, (chunk + 1) * chunk_rows)};
    };

    std::vector<std::uint64_t> hashes(n);
    pool::for_each_block(n, [&](std::size_t begin, std::size_t end) {
        for (std::size_t row = begin; row < end; ++row) hashes[row] = hash64(column[row]);
    });
    auto bucket_of = [&](std::size_t row) { return hashes[row] >> (64 - kBucketBits); };

    // Rows grouped by bucket, in row order within each: count per chunk, then
    // scatter from per-chunk offsets.
    std::vector<std::array<std::size_t, kBuckets>> counts(kChunks);
    pool::for_each_index(kChunks, [&](std::size_t chunk) {
        counts[chunk].fill(0);
        auto [begin, end] = chunk_range(chunk);
        for (std::size_t row = begin; row < end; ++row) ++counts[chunk][bucket_of(row)];
    });
    std::array<std::size_t, kBuckets + 1> bucket_start{};
    std::size_t offset = 0;
    for (std::size_t bucket = 0; bucket < kBuckets; ++bucket) {
        bucket_start[bucket] = offset;
        for (auto& chunk_counts : counts) {
            const std::size_t count = chunk_counts[bucket];
            chunk_counts[bucket] = offset;  // becomes this chunk's write position
            offset += count;
        }
    }
    bucket_start[kBuckets] = offset;
    struct Entry {
        std::string_view label;
        std::uint64_t hash;
        Id row;
    };
    std::vector<Entry> entries(n);
    pool::for_each_index(kChunks, [&](std::size_t chunk) {
        auto& position = counts[chunk];
        auto [begin, end] = chunk_range(chunk);
        for (std::size_t row = begin; row < end; ++row) {
            entries[position[bucket_of(row)]++] = Entry{column[row], hashes[row], static_cast<Id>(row)};
        }
    });
    std::vector<std::uint64_t>().swap(hashes);

    // Deduplicate each bucket into its own memo table; each entry's row then
    // learns its label's number.
    std::vector<LabelList> bucket_labels(kBuckets);
    std::vector<Id> local_ids(n);
    pool::for_each_index(kBuckets, [&](std::size_t bucket) {
        MemoTable<Id> memo;
        const std::size_t end = bucket_start[bucket + 1];
        for (std::size_t at = bucket_start[bucket]; at < end; ++at) {
            // Entries view labels all over the column: fetched ahead.
            if (at + 16 < end) __builtin_prefetch(entries[at + 16].label.data());
            local_ids[at] = memo.get_or_insert(entries[at].label, entries[at].hash);
        }
        bucket_labels[bucket] = std::move(memo).take_labels();
    });

    Distinct<Id> result;
    std::array<std::size_t, kBuckets> first_id{};
    for (std::size_t bucket = 0; bucket < kBuckets; ++bucket) {
        first_id[bucket] = result.labels.size();
        result.adopt(std::move(bucket_labels[bucket]));
    }
    result.ids.resize(n);
    pool::for_each_index(kBuckets, [&](std::size_t bucket) {
        for (std::size_t at = bucket_start[bucket]; at < bucket_start[bucket + 1]; ++at) {
            result.ids[entries[at].row] = static_cast<Id>(first_id[bucket] + local_ids[at]);
        }
    });
    return result;
}

// The code of every distinct label: its rank in byte order among the labels
// that are not missing labels; NaN for those.
template <class Id>
std::vector<double> codes_of_distinct(const std::vector<std::string_view>& distinct) {
    std::vector<Id> missing;
    for (std::size_t id = 0; id < distinct.size(); ++id) {
        if (is_missing_label(distinct[id])) missing.push_back(static_cast<Id>(id));
    }
    std::vector<double> code_of_id(distinct.size());
    std::uint64_t next_code = 0;
    for (Id id : byte_order<Id>(distinct.size(), [&](std::size_t id) { return distinct[id]; })) {
        const bool is_missing = std::find(missing.begin(), missing.end(), id) != missing.end();
        code_of_id[id] = is_missing ? kMissingCode : static_cast<double>(next_code++);
    }
    return code_of_id;
}

template <class Id>
LabelCodes code_labels_with(const LabelColumn& labels, double* into) {
    const bool parallel = labels.size() >= kParallelRows && pool::worker_count() > 1;
    std::optional<Distinct<Id>> few = parallel ? distinct_labels_few<Id>(labels) : std::nullopt;
    Distinct<Id> distinct = few        ? std::move(*few)
                            : parallel ? distinct_labels_parallel<Id>(labels)
                                       : distinct_labels_sequential<Id>(labels);
    LabelCodes result;
    result.code_of_distinct = codes_of_distinct<Id>(distinct.labels);
    result.distinct = std::move(distinct.labels);
    result.storage = std::move(distinct.storage);
    if (into == nullptr) {
        result.codes.resize(labels.size());
        into = result.codes.data();
    }
    pool::map_into(std::span<const Id>(distinct.ids), std::span<double>(into, labels.size()),
                   [&code_of = result.code_of_distinct](Id id) { return code_of[id]; });
    return result;
}

}  // namespace

std::vector<double> codes_of_labels(const std::vector<std::string_view>& distinct) {
    return codes_of_distinct<std::uint32_t>(distinct);
}

LabelCodes code_labels(const LabelColumn& labels, double* into) {
    if (labels.size() <= std::numeric_limits<std::uint32_t>::max()) {
        return code_labels_with<std::uint32_t>(labels, into);
    }
    return code_labels_with<std::uint64_t>(labels, into);
}

std::int64_t CategoryColumn::code(std::size_t row) const noexcept {
    const char* at = codes + static_cast<std::ptrdiff_t>(row) * stride;
    switch (code_bytes) {
        case 1: return static_cast<std::int8_t>(*at);
        case 2: { std::int16_t v; std::memcpy(&v, at, 2); return v; }
        case 4: { std::int32_t v; std::memcpy(&v, at, 4); return v; }
        default: { std::int64_t v; std::memcpy(&v, at, 8); return v; }
    }
}

LabelCodes code_categories(const CategoryColumn& column, double* into) {
    const std::size_t count = column.categories->size();
    LabelCodes result;
    if (into == nullptr) {
        result.codes.resize(column.rows);
        into = result.codes.data();
    }
    // Each row's code is read once: its category's number goes where its
    // code will be, and the categories in use are marked...
    std::vector<unsigned char> used(count, column.all_used ? 1 : 0);
    std::atomic<bool> missing_later{false};
    std::atomic<bool> out_of_range{false};
    const std::size_t first = std::min(column.first_valid, column.rows);
    std::fill(into, into + first, kMissingCode);  // read as missing to find the first valid row
    pool::for_each_block(column.rows - first, [&](std::size_t begin, std::size_t end) {
        bool missing = false, bad = false;
        for (std::size_t row = first + begin; row < first + end; ++row) {
            const std::int64_t code = row == first && column.first_code ? *column.first_code : column.code(row);
            if (code >= 0 && static_cast<std::uint64_t>(code) < count) {
                into[row] = static_cast<double>(code);
                if (!column.all_used) {
                    std::atomic_ref<unsigned char>(used[static_cast<std::size_t>(code)]).store(1, std::memory_order_relaxed);
                }
            } else {
                into[row] = kMissingCode;
                if (code == -1) {
                    missing = missing || row > column.first_valid;
                } else {
                    bad = true;
                }
            }
        }
        if (missing) missing_later.store(true, std::memory_order_relaxed);
        if (bad) out_of_range.store(true, std::memory_order_relaxed);
    });
    if (out_of_range.load()) panic("a categorical column holds a code outside its categories");

    // ...then only those get codes, in byte order...
    std::vector<std::size_t> id_of_category(count, 0);
    for (std::size_t category = 0; category < count; ++category) {
        if (!used[category]) continue;
        id_of_category[category] = result.distinct.size();
        result.distinct.push_back((*column.categories)[category]);
    }
    // The labels of missing cells: the rendered NaN before the first valid
    // cell, str(nan) after it. They have no code, so which one of several
    // equal labels a cell takes does not matter.
    auto add_label = [&](std::string_view label) {
        if (std::find(result.distinct.begin(), result.distinct.end(), label) == result.distinct.end()) {
            result.distinct.push_back(label);
        }
    };
    if (column.first_valid > 0) add_label(kNanLabel);
    if (missing_later.load()) add_label(kStrNanLabel);
    result.code_of_distinct = codes_of_distinct<std::size_t>(result.distinct);

    // ...and each row's number becomes its code, where it lies.
    std::vector<double> code_of_category(count, kMissingCode);
    for (std::size_t category = 0; category < count; ++category) {
        if (used[category]) code_of_category[category] = result.code_of_distinct[id_of_category[category]];
    }
    pool::for_each_block(column.rows, [&](std::size_t begin, std::size_t end) {
        for (std::size_t row = begin; row < end; ++row) {
            const double number = into[row];
            if (!std::isnan(number)) into[row] = code_of_category[static_cast<std::size_t>(number)];
        }
    });
    return result;
}

CodedLabels coded_labels_of(const LabelCodes& coded) {
    // The distinct label of every code, then the arena laid out by code.
    std::size_t count = 0;
    for (double code : coded.code_of_distinct) count += std::isnan(code) ? 0 : 1;
    std::vector<std::size_t> id_of_code(count);
    for (std::size_t id = 0; id < coded.distinct.size(); ++id) {
        const double code = coded.code_of_distinct[id];
        if (!std::isnan(code)) id_of_code[static_cast<std::size_t>(code)] = id;
    }
    return labels_in_code_order(
        count, [&](std::size_t code) { return coded.distinct[id_of_code[code]]; },
        [&](std::size_t code) { __builtin_prefetch(&coded.distinct[id_of_code[code]]); });
}

CodedLabels code_numbered(const LabelList& labels, const std::int32_t* ids, std::size_t rows, double* into) {
    // The numbers in byte order of their labels: each one's code is its rank
    // among those that are not missing labels...
    LargeVector<std::uint32_t> by_code =
        byte_order<std::uint32_t>(labels.size(), [&](std::size_t id) { return labels[id]; });
    LargeVector<double> code_of(labels.size());
    std::size_t count = 0;
    for (const std::uint32_t id : by_code) {
        if (is_missing_label(labels[id])) {
            code_of[id] = kMissingCode;
            continue;
        }
        code_of[id] = static_cast<double>(count);
        by_code[count++] = id;
    }
    by_code.resize(count);
    // ...which goes where each row's code goes...
    pool::for_each_block(rows, [&](std::size_t begin, std::size_t end) {
        for (std::size_t row = begin; row < end; ++row) into[row] = code_of[static_cast<std::uint32_t>(ids[row])];
    });
    LargeVector<double>().swap(code_of);
    // ...and the labels are laid out in code order.
    return labels_in_code_order(
        count, [&](std::size_t code) { return labels[by_code[code]]; },
        [&](std::size_t code) { labels.prefetch(by_code[code]); });
}

LabelEncoding label_encode(const LabelColumn& labels) {
    LabelCodes coded = code_labels(labels);
    LabelEncoding result;
    result.labels = coded_labels_of(coded);
    result.codes = std::move(coded.codes);
    return result;
}

}  // namespace tarnix
