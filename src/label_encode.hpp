// Label encoding of one column: distinct labels in byte order get the dense
// codes 0..k-1, missing labels get none and encode as NaN.
#pragma once

#include <vector>

#include "label_column.hpp"
#include "python/encoding_info.hpp"

namespace tarnix {

struct LabelEncoding {
    std::vector<double> codes;  // one per input label, in input order
    LabelMap label_map;
};

// Runs its sort and its lookups on the worker pool; may be called from inside
// a pool task.
LabelEncoding label_encode(const LabelColumn& labels);

// The code map that belongs to a label map: every label that has a code,
// keyed by that code.
CodeMap code_map_of(const LabelMap& label_map);

}  // namespace tarnix
