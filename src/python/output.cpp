#include "python/output.hpp"

#include <cstring>

#include "boundary/text.hpp"
#include "python/calls.hpp"
#include "python/decode.hpp"
#include "pool/pool.hpp"
#include "python/numpy_api.hpp"

namespace tarnix {

namespace {

// A new float64 ndarray holding the matrix's values in the matrix's order:
// one block copy for a row-major or column-major block, else element by
// element into C order.
Ref float_array(const Matrix& m) {
    numpy::ensure_api();
    const std::size_t count = m.rows * m.cols;
    const bool row_major = m.is_row_major_block();
    const bool column_major = !row_major && m.is_column_major_block();
    npy_intp dims[2] = {static_cast<npy_intp>(m.rows), static_cast<npy_intp>(m.cols)};
    Ref array = own(PyArray_NewFromDescr(&PyArray_Type, PyArray_DescrFromType(NPY_DOUBLE), 2, dims,
                                         nullptr, nullptr, column_major ? NPY_ARRAY_F_CONTIGUOUS : 0,
                                         nullptr));
    auto* out = static_cast<double*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(array.get())));
    if (row_major || column_major) {
        pool::copy_doubles(out, m.origin(), count);
    } else {
        for (std::size_t r = 0; r < m.rows; ++r) {
            for (std::size_t c = 0; c < m.cols; ++c) *out++ = m.at(r, c);
        }
    }
    return array;
}

Result<Ref> array_out(const Matrix& matrix, const EncodingInfo* record) {
    if (record == nullptr) return float_array(matrix);
    if (matrix.rows > 0) TRY(check_record_fits(*record, matrix.cols));
    return decode_array(matrix, *record);
}

Result<Ref> frame_out(const Matrix& matrix, const std::vector<std::string>& names,
                      const EncodingInfo* record) {
    if (record != nullptr) {
        TRY(check_record_fits(*record, std::min(matrix.cols, names.size())));
    }
    TRY_ASSIGN(Ref pandas, import_module("pandas"));
    Ref keywords = own(PyDict_New());
    Ref column_list = own(PyList_New(static_cast<Py_ssize_t>(names.size())));
    for (std::size_t i = 0; i < names.size(); ++i) {
        PyList_SET_ITEM(column_list.get(), static_cast<Py_ssize_t>(i), make_str(names[i]).release());
    }
    Ref columns_key = make_str("columns");
    TRY(checked_status(PyDict_SetItem(keywords.get(), columns_key.get(), column_list.get())));
    // Building from blocks never splits a block of the frame, as replacing
    // a column of one does.
    if (record != nullptr && !record->string_columns.empty() && names.size() == matrix.cols) {
        TRY_ASSIGN(std::optional<Ref> decoded, frame_from_blocks(pandas.get(), matrix, column_list.get(), *record));
        if (decoded) return std::move(*decoded);
    }
    TRY_ASSIGN(Ref frame_class, get_attr(pandas.get(), "DataFrame"));
    Ref array = float_array(matrix);
    PyObject* args[] = {nullptr, array.get()};
    TRY_ASSIGN(Ref frame, checked(PyObject_VectorcallDict(frame_class.get(), args + 1,
                                                          1 | PY_VECTORCALL_ARGUMENTS_OFFSET,
                                                          keywords.get())));
    if (record != nullptr && !record->string_columns.empty()) {
        TRY(decode_frame(frame.get(), pandas.get(), matrix, *record));
    }
    return frame;
}

}  // namespace

Result<Ref> arr_to_out(const Matrix& matrix, OUT out, const EncodingInfo* record) {
    if (auto* frame = std::get_if<OUT::DataFrame>(&out.kind)) {
        return frame_out(matrix, frame->columns, record);
    }
    return array_out(matrix, record);
}

}  // namespace tarnix
