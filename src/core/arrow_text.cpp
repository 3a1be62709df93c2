#include "core/arrow_text.hpp"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

#include "core/memo_table.hpp"
#include "pool/pool.hpp"

namespace tarnix {

namespace {

constexpr double kMissingCode = std::numeric_limits<double>::quiet_NaN();
constexpr std::size_t kBlockRows = std::size_t{1} << 16;

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
    std::vector<LabelList> block_labels(blocks);
    std::atomic<bool> too_many{false};
    pool::for_each_index(blocks, [&](std::size_t block) {
        MemoTable<std::uint32_t> memo;
        const std::size_t begin = block * kBlockRows;
        const std::size_t end = std::min(rows, begin + kBlockRows);
        bool full = false;
        text.visit(begin, end, [&](std::size_t row, const std::string_view* label) {
            if (full) return;
            if (label == nullptr) {
                into[row] = kMissingCode;
                return;
            }
            into[row] = static_cast<double>(memo.get_or_insert(*label));
            full = memo.size() > kFewLabels;
        });
        if (full) too_many.store(true, std::memory_order_relaxed);
        block_labels[block] = std::move(memo).take_labels();
    });
    if (too_many.load()) return std::nullopt;

    // ...then the blocks' labels are merged and sorted once...
    MemoTable<std::uint32_t> all;
    std::vector<std::vector<std::uint32_t>> global_of(blocks);
    for (std::size_t block = 0; block < blocks; ++block) {
        const LabelList& labels = block_labels[block];
        global_of[block].resize(labels.size());
        all.get_or_insert_all(labels.size(), [&](std::size_t id) { return labels[id]; }, global_of[block].data());
    }
    for (std::size_t id = 0; id < all.size(); ++id) result.distinct.push_back(all.view(static_cast<std::uint32_t>(id)));
    result.storage.push_back(std::move(all).take_labels());
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
