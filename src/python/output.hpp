// Output construction: from the matrix back to an object of the input's kind.
#pragma once

#include "boundary/error.hpp"
#include "core/records.hpp"

namespace tarnix {

// A new float64 array (OUT::Array) or DataFrame (OUT::DataFrame); with a
// record, the recorded columns are decoded back to labels. An owned gap-free
// matrix may hand its memory to the new array.
Result<Ref> arr_to_out(Matrix& matrix, OUT out, const EncodingInfo* record);

}  // namespace tarnix
