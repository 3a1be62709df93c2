// The labels that stand for a missing cell. A column coded as text gives
// these no code: its missing cells decode back to NaN.
#pragma once

#include <limits>
#include <string_view>

namespace tarnix {

// The code of a missing label, and of a null cell.
inline constexpr double kMissingCode = std::numeric_limits<double>::quiet_NaN();

// A NaN number rendered as a label (a missing cell read before the column
// turned out to hold text), and the label decoding writes for a cell without
// a code.
inline constexpr std::string_view kNanLabel = "NaN";
// str(float("nan")): a NaN cell met once the column already held text.
inline constexpr std::string_view kStrNanLabel = "nan";
// str(pandas.NA): a missing cell of the `string` dtype or an ArrowDtype.
inline constexpr std::string_view kNaLabel = "<NA>";

inline constexpr bool is_missing_label(std::string_view label) noexcept {
    return label == kStrNanLabel || label == kNanLabel || label == kNaLabel;
}

}  // namespace tarnix
