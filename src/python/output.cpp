#include "python/output.hpp"

#include <cstdlib>
#include <cstring>

#include "boundary/text.hpp"
#include "python/calls.hpp"
#include "python/decode.hpp"
#include "pool/pool.hpp"
#include "python/numpy_api.hpp"

namespace tarnix {

namespace {

void free_block(PyObject* capsule) { free_doubles(static_cast<double*>(PyCapsule_GetPointer(capsule, nullptr))); }

// The matrix's own block, handed to a new array without a copy.
Ref adopt_block(Matrix& m, bool row_major) {
    npy_intp dims[2] = {static_cast<npy_intp>(m.rows), static_cast<npy_intp>(m.cols)};
    npy_intp strides[2] = {static_cast<npy_intp>(sizeof(double)), static_cast<npy_intp>(sizeof(double))};
    strides[row_major ? 0 : 1] *= static_cast<npy_intp>(row_major ? m.cols : m.rows);
    Ref owner = own(PyCapsule_New(m.data.data(), nullptr, free_block));
    double* data = m.data.release();  // the capsule frees it from now on
    Ref array = own(PyArray_NewFromDescr(&PyArray_Type, PyArray_DescrFromType(NPY_DOUBLE), 2, dims, strides, data,
                                         NPY_ARRAY_WRITEABLE, nullptr));
    auto* adopted = reinterpret_cast<PyArrayObject*>(array.get());
    if (PyArray_SetBaseObject(adopted, owner.release()) < 0) panic_from("could not hand a block to an array", PyErr::fetch());
    PyArray_UpdateFlags(adopted, NPY_ARRAY_UPDATE_ALL);
    return array;
}

// A new float64 ndarray holding the matrix's values in the matrix's order:
// the matrix's own row-major or column-major block as it is (when `adopt` says
// the matrix is not read afterwards), else one block copy, else element by
// element into C order.
Ref float_array(Matrix& m, bool adopt) {
    numpy::ensure_api();
    const std::size_t count = m.rows * m.cols;
    const bool row_major = m.is_row_major_block();
    const bool column_major = !row_major && m.is_column_major_block();
    if (adopt && m.data.owned() && count > 0 && (row_major || column_major) && m.row_stride > 0 && m.col_stride > 0) {
        return adopt_block(m, row_major);
    }
    npy_intp dims[2] = {static_cast<npy_intp>(m.rows), static_cast<npy_intp>(m.cols)};
    Ref array = own(PyArray_NewFromDescr(&PyArray_Type, PyArray_DescrFromType(NPY_DOUBLE), 2, dims,
                                         nullptr, nullptr, column_major ? NPY_ARRAY_F_CONTIGUOUS : 0,
                                         nullptr));
    if (count > 0) m.copy_into(static_cast<double*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(array.get()))));
    return array;
}

Result<Ref> array_out(Matrix& matrix, const EncodingInfo* record) {
    if (record == nullptr) return float_array(matrix, true);
    if (matrix.rows > 0) TRY(check_record_fits(*record, matrix.cols));
    return decode_array(matrix, *record);
}

Result<Ref> frame_out(Matrix& matrix, const std::vector<std::string>& names,
                      const EncodingInfo* record) {
    if (record != nullptr) {
        TRY(check_record_fits(*record, std::min(matrix.cols, names.size())));
    }
    TRY_ASSIGN(Ref pandas, import_module(interned::pandas()));
    Ref keywords = own(PyDict_New());
    Ref column_list = own(PyList_New(static_cast<Py_ssize_t>(names.size())));
    for (std::size_t i = 0; i < names.size(); ++i) {
        PyList_SET_ITEM(column_list.get(), static_cast<Py_ssize_t>(i), make_str(names[i]).release());
    }
    TRY(checked_status(PyDict_SetItem(keywords.get(), interned::columns(), column_list.get())));
    // The array is the frame's alone: pandas keeps a column-major one as it is.
    TRY(checked_status(PyDict_SetItem(keywords.get(), interned::copy(), Py_False)));
    const bool decoded = record != nullptr && !record->string_columns.empty();
    // Building from blocks never splits a block of the frame, as replacing
    // a column of one does.
    if (decoded && names.size() == matrix.cols) {
        TRY_ASSIGN(std::optional<Ref> decoded, frame_from_blocks(pandas.get(), matrix, column_list.get(), *record));
        if (decoded) return std::move(*decoded);
    }
    TRY_ASSIGN(Ref frame_class, get_attr(pandas.get(), interned::DataFrame()));
    Ref array = float_array(matrix, !decoded);
    PyObject* args[] = {nullptr, array.get()};
    TRY_ASSIGN(Ref frame, checked(PyObject_VectorcallDict(frame_class.get(), args + 1,
                                                          1 | PY_VECTORCALL_ARGUMENTS_OFFSET,
                                                          keywords.get())));
    if (decoded) {
        TRY(decode_frame(frame.get(), pandas.get(), matrix, *record));
    }
    return frame;
}

}  // namespace

Result<Ref> arr_to_out(Matrix& matrix, OUT out, const EncodingInfo* record) {
    if (auto* frame = std::get_if<OUT::DataFrame>(&out.kind)) {
        return frame_out(matrix, frame->columns, record);
    }
    return array_out(matrix, record);
}

}  // namespace tarnix
