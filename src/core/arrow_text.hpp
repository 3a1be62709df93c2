// A text column in Arrow memory, chunk after chunk, coded where it lies: a
// column of few distinct labels straight into its codes, others through
// views of every cell.
#pragma once

#include <algorithm>
#include <cstddef>
#include <optional>
#include <string_view>
#include <vector>

#include "core/arrow_strings.hpp"
#include "core/label_encode.hpp"

namespace tarnix {

class ArrowText {
public:
    // `nan_nulls`: how "values" reads a null cell, NaN (true) or pandas.NA (see NullLabels).
    ArrowText(StringLayout layout, bool nan_nulls) noexcept : layout_(layout), nan_nulls_(nan_nulls) {}

    // Checks the chunk as a whole and keeps it; its rows follow those of the
    // chunks before. A malformed chunk is a fatal error.
    void append(ArrowArrayOwned chunk);
    std::size_t size() const noexcept { return rows_; }
    // Whether a cell is not null.
    bool has_text() const noexcept { return has_text_; }
    bool nan_nulls() const noexcept { return nan_nulls_; }

    // f(row, label) for every row in [begin, end): label views the cell's
    // text, or is nullptr for a null cell.
    template <class F>
    void visit(std::size_t begin, std::size_t end, F&& f) const;

    // A view of every cell, a null one labelled as "values" reads it.
    std::vector<std::string_view> views() const;

private:
    struct Chunk {
        std::size_t first_row;
        ArrowArrayOwned array;
    };
    StringLayout layout_;
    bool nan_nulls_;
    bool has_text_ = false;
    std::size_t rows_ = 0;
    std::vector<Chunk> chunks_;
};

// The codes of a column of at most `kFewLabels` distinct labels per block of
// rows, as code_labels gives them, written into into[0 .. size) (or `codes`
// when `into` is nullptr): each cell is hashed once, on the pool, in blocks
// of rows. Nothing (and `into` left garbled) when a block meets more labels.
inline constexpr std::size_t kFewLabels = 4096;
std::optional<LabelCodes> code_few_labels(const ArrowText& text, double* into);

template <class F>
void ArrowText::visit(std::size_t begin, std::size_t end, F&& f) const {
    // The first chunk that ends after `begin`.
    std::size_t k = 0;
    std::size_t lo = 0, hi = chunks_.size();
    while (lo < hi) {
        const std::size_t mid = (lo + hi) / 2;
        if (chunks_[mid].first_row <= begin) lo = mid + 1; else hi = mid;
    }
    k = lo == 0 ? 0 : lo - 1;
    for (; begin < end && k < chunks_.size(); ++k) {
        const Chunk& chunk = chunks_[k];
        const std::size_t length = static_cast<std::size_t>(chunk.array->length);
        const std::size_t from = begin - chunk.first_row;
        const std::size_t to = std::min(length, end - chunk.first_row);
        visit_strings(*chunk.array, layout_, from, to,
                      [&](std::size_t i, const std::string_view* label) { f(chunk.first_row + i, label); });
        begin = chunk.first_row + to;
    }
}

}  // namespace tarnix
