#include "core/arrow_text.hpp"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string_view>
#include <vector>

#include "core/memo_table.hpp"
#include "core/missing_labels.hpp"
#include "pool/pool.hpp"

namespace tarnix {

namespace {

constexpr std::size_t kBlockRows = std::size_t{1} << 16;
// Rows whose labels are learnt before any row is coded: at least these, and
// kLearnPerLabel per label met, so that the labels of a column, in whatever
// order they come, have most likely all been met.
constexpr std::size_t kLearnRows = std::size_t{1} << 14;
constexpr std::size_t kLearnPerLabel = 16;
// Rows looked up before the cells left over among them are read.
constexpr std::size_t kRun = 256;
// Rows coded between two looks at the count of a block's new labels.
constexpr std::size_t kStretch = 4 * kRun;

using Memo = MemoTable<std::uint32_t>;

// For every row of [begin, end): out[row - begin] = values[id] when its
// label is short and `labels` has it as `id`, else other(row, label) (label
// nullptr for a null cell), after the run of rows it is in. No label is
// added to `labels` but by `other`.
template <class Other>
void look_up_rows(const ArrowText& text, const Memo& labels, std::size_t begin, std::size_t end,
                  const double* values, double* out, Other&& other) {
    static_assert(Memo::kNone == ArrowChunk::kNotFound);
    std::vector<std::uint32_t> others(kRun);
    for (std::size_t first = begin; first < end; first += kRun) {
        const std::size_t count = std::min(kRun, end - first);
        const std::size_t left = text.map_short_labels(first, first + count, labels.short_finder(), values,
                                                       out + (first - begin), others.data());
        if (left == 0) [[likely]] continue;
        // A few rows are read one by one, many in one pass over the run.
        if (left > kRun / 16) {
            std::size_t next = 0;
            text.visit(first, first + count, [&](std::size_t row, const std::string_view* label) {
                if (next < left && others[next] == row - first) {
                    ++next;
                    other(row, label);
                }
            });
            continue;
        }
        for (std::size_t i = 0; i < left; ++i) text.visit(first + others[i], first + others[i] + 1, other);
    }
}

// What a row holds, until the end, when its label was not learnt: -1 - the
// label's number among its block's new labels (a code is never negative).
double new_label_mark(std::uint32_t id) noexcept { return -1.0 - static_cast<double>(id); }

struct Learnt {
    Memo labels;
    std::vector<double> code_of;  // code_of[id]: the code of label id

    // The codes of every label, from their views (taken once no label is added).
    void sort() {
        std::vector<std::string_view> distinct(labels.size());
        for (std::size_t id = 0; id < distinct.size(); ++id) distinct[id] = labels.view(static_cast<std::uint32_t>(id));
        code_of = codes_of_labels(distinct);
    }
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
    // The labels of the first rows are learnt and sorted...
    Learnt known;
    // What learning writes, and where: a number for every label there may
    // be by the end of a stretch.
    std::vector<double> nothing;
    std::vector<double> ignored(kStretch);
    for (std::size_t first = 0; first < std::min(rows, std::max(kLearnRows, kLearnPerLabel * known.labels.size()));
         first += kStretch) {
        nothing.resize(known.labels.size() + kStretch);
        look_up_rows(text, known.labels, first, std::min(rows, first + kStretch), nothing.data(),
                     ignored.data(), [&](std::size_t, const std::string_view* label) {
                         if (label != nullptr) known.labels.get_or_insert(*label);
                     });
        if (known.labels.size() > kFewLabels) return std::nullopt;
    }
    known.sort();

    // ...then each block of rows writes every row's code where it goes; a
    // label not learnt is numbered among the block's new labels, and its rows
    // marked...
    const std::size_t blocks = (rows + kBlockRows - 1) / kBlockRows;
    std::vector<LabelList> block_labels(blocks);
    std::atomic<bool> too_many{false};
    pool::for_each_index(blocks, [&](std::size_t block) {
        Memo fresh;
        double* const out = into;
        const double* const code_of = known.code_of.data();
        const std::size_t end = std::min(rows, (block + 1) * kBlockRows);
        for (std::size_t first = block * kBlockRows; first < end; first += kStretch) {
            look_up_rows(text, known.labels, first, std::min(end, first + kStretch), code_of, out + first,
                         [&](std::size_t row, const std::string_view* label) {
                             if (label == nullptr) {
                                 out[row] = kMissingCode;
                             } else if (const auto id = known.labels.find(*label)) {
                                 out[row] = code_of[*id];
                             } else {
                                 out[row] = new_label_mark(fresh.get_or_insert(*label));
                             }
                         });
            if (known.labels.size() + fresh.size() > kFewLabels || too_many.load(std::memory_order_relaxed)) {
                too_many.store(true, std::memory_order_relaxed);
                return;
            }
        }
        block_labels[block] = std::move(fresh).take_labels();
    });
    if (too_many.load()) return std::nullopt;

    // ...which, once the new labels are among the others and all sorted
    // again, get their codes, as every row does whose code changed.
    const std::size_t learnt = known.labels.size();
    std::vector<std::vector<double>> new_codes(blocks);
    for (std::size_t block = 0; block < blocks; ++block) {
        const LabelList& labels = block_labels[block];
        std::vector<std::uint32_t> ids(labels.size());
        known.labels.get_or_insert_all(labels.size(), [&](std::size_t id) { return labels[id]; }, ids.data());
        new_codes[block].assign(ids.begin(), ids.end());  // the ids, until they are sorted
    }
    if (known.labels.size() > learnt) {
        const std::vector<double> old_code_of = std::move(known.code_of);
        known.sort();
        // recode[c]: the code now of the label whose code was c.
        std::vector<double> recode(learnt);
        bool moved = false;
        for (std::size_t id = 0; id < learnt; ++id) {
            if (std::isnan(old_code_of[id])) continue;
            recode[static_cast<std::size_t>(old_code_of[id])] = known.code_of[id];
            moved = moved || known.code_of[id] != old_code_of[id];
        }
        for (std::vector<double>& codes : new_codes) {
            for (double& code : codes) code = known.code_of[static_cast<std::size_t>(code)];
        }
        pool::for_each_index(blocks, [&](std::size_t block) {
            const std::vector<double>& fresh = new_codes[block];
            if (!moved && fresh.empty()) return;
            const std::size_t end = std::min(rows, (block + 1) * kBlockRows);
            for (std::size_t row = block * kBlockRows; row < end; ++row) {
                const double code = into[row];
                if (code < 0) {
                    into[row] = fresh[static_cast<std::size_t>(-1.0 - code)];
                } else if (moved && !std::isnan(code)) {
                    into[row] = recode[static_cast<std::size_t>(code)];
                }
            }
        });
    }
    for (std::size_t id = 0; id < known.labels.size(); ++id) {
        result.distinct.push_back(known.labels.view(static_cast<std::uint32_t>(id)));
    }
    result.code_of_distinct = std::move(known.code_of);
    result.storage.push_back(std::move(known.labels).take_labels());
    return result;
}

}  // namespace tarnix
