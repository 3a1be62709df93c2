// Decoding codes back to labels through an encoding record.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "boundary/error.hpp"
#include "core/records.hpp"

namespace tarnix {

// The record's columns must lie inside a table `cols` wide.
Status check_record_fits(const EncodingInfo& record, std::size_t cols);

// An object-dtype array of the matrix's values as Python floats, the recorded
// columns holding their labels instead ("NaN" where a cell has none).
Result<Ref> decode_array(const Matrix& matrix, const EncodingInfo& record);

// The decoded frame built at once from two blocks, the float columns and the
// label columns (None where a cell has none), placed by position; `names` is
// the list of column names. Nothing when this pandas cannot build a frame
// from blocks.
Result<std::optional<Ref>> frame_from_blocks(PyObject* pandas, const Matrix& matrix, PyObject* names,
                                              const EncodingInfo& record);

// Replaces the recorded columns of a new frame, by position, with object
// columns of labels (None where a cell has none).
Status decode_frame(PyObject* frame, PyObject* pandas, const Matrix& matrix, const EncodingInfo& record);

}  // namespace tarnix
