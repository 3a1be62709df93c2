// Input conversion: from the object given to encode/decode to the records.
#pragma once

#include "boundary/error.hpp"
#include "core/records.hpp"

namespace tarnix {

// ndarray/memmap -> OUT::Array, DataFrame -> OUT::DataFrame with its column
// names; anything else is refused. A 2-D float64 array is copied as is and
// leaves no record; everything else is read cell by cell.
//
// The matrix of a 2-D float64 array may borrow the array's memory: it stays
// valid while obj lives (a reference held by the caller keeps NumPy from
// resizing it in place). Reading codes, the matrix of a float64 frame may
// borrow its columns, which the result's keep_alive holds.
//
// Reading codes (for decoding), a tall frame of float64 columns is taken as
// it lies, without looking for text in it and without a record.
enum class Reading { Table, Codes };
Result<ConversionResult> pyany_to_vec(PyObject* obj, Reading reading = Reading::Table);

}  // namespace tarnix
