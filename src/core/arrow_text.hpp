// A text column in Arrow memory, chunk after chunk, coded where it lies: a
// column of few distinct labels straight into its codes, others through
// views of every cell.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "core/arrow_arrays.hpp"
#include "core/label_encode.hpp"

namespace tarnix {

class ArrowText {
public:
    // `nan_nulls`: how "values" reads a null cell, NaN (true) or pandas.NA (see NullLabels).
    ArrowText(ArrowChunks chunks, bool nan_nulls);

    std::size_t size() const noexcept { return chunks_.length(); }
    // Whether a cell is not null.
    bool has_text() const noexcept { return has_text_; }

    // f(row, label) for every row in [begin, end): label views the cell's
    // text, or is nullptr for a null cell.
    template <class F>
    void visit(std::size_t begin, std::size_t end, F&& f) const {
        chunks_.visit_texts(begin, end, f);
    }

    // As ArrowChunk::map_short_labels, for rows [begin, end) across the
    // chunks (out and others counted from `begin`).
    template <class Find>
    std::size_t map_short_labels(std::size_t begin, std::size_t end, const Find& find, const double* values,
                                 double* out, std::uint32_t* others) const {
        return chunks_.map_short_labels(begin, end, find, values, out, others);
    }

    // A view of every cell, a null one labelled as "values" reads it.
    std::vector<std::string_view> views() const;

    const ArrowChunks& chunks() const noexcept { return chunks_; }

private:
    ArrowChunks chunks_;
    bool nan_nulls_;
    bool has_text_ = false;
};

// The codes of a column of few distinct labels, as code_labels gives them,
// written into into[0 .. size) (or `codes` when `into` is nullptr). The
// labels of the first rows are learnt and sorted first; then each cell is
// hashed once, on the pool, in blocks of rows, and its code written once,
// unless some block meets a label not learnt (then every code is written
// again). Nothing (and `into` left garbled) when the first rows' labels, or
// those and the new labels of a block, are more than `kFewLabels`.
inline constexpr std::size_t kFewLabels = 4096;
std::optional<LabelCodes> code_few_labels(const ArrowText& text, double* into);

}  // namespace tarnix
