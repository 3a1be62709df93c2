// A text column in Arrow memory, chunk after chunk, coded where it lies: a
// column of few distinct labels straight into its codes, others through
// views of every cell.
#pragma once

#include <cstddef>
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

    // A view of every cell, a null one labelled as "values" reads it.
    std::vector<std::string_view> views() const;

    const ArrowChunks& chunks() const noexcept { return chunks_; }

private:
    ArrowChunks chunks_;
    bool nan_nulls_;
    bool has_text_ = false;
};

// The codes of a column of at most `kFewLabels` distinct labels per block of
// rows, as code_labels gives them, written into into[0 .. size) (or `codes`
// when `into` is nullptr): each cell is hashed once, on the pool, in blocks
// of rows. Nothing (and `into` left garbled) when a block meets more labels.
inline constexpr std::size_t kFewLabels = 4096;
std::optional<LabelCodes> code_few_labels(const ArrowText& text, double* into);

}  // namespace tarnix
