// A text column in Arrow memory with many distinct labels, coded where it
// lies: the column's own stretch of the result holds every row's temporaries,
// so the only other memory per row is one 4-byte row number.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>

#include "core/arrow_text.hpp"
#include "core/label_encode.hpp"

namespace tarnix {

// The most rows code_many_labels takes: a row's number is 4 bytes.
inline constexpr std::size_t kManyLabelsRows = std::numeric_limits<std::uint32_t>::max();

// The codes of the column as code_labels gives them for its cells (a null
// cell is missing: NaN), written into into[0 .. size) (or `codes` when
// `into` is nullptr). Each cell's label is hashed once; rows are spread over
// buckets by their hash and every bucket finds its distinct labels on its
// own, in parallel. The column has at most kManyLabelsRows rows.
LabelCodes code_many_labels(const ArrowText& text, double* into);

}  // namespace tarnix
