#include "python/decode.hpp"

#include <cmath>
#include <cstring>

#include "boundary/detached.hpp"
#include "core/fatal.hpp"
#include "core/missing_labels.hpp"
#include "core/numbers.hpp"
#include "boundary/text.hpp"
#include "python/calls.hpp"
#include "python/numpy_api.hpp"

namespace tarnix {

namespace {

const CodedLabels& labels_of(const EncodingInfo& record, std::size_t col) {
    const CodedLabels* labels = record.labels_of(col);
    if (labels == nullptr) panic("the encoding record lists a column without labels");
    return *labels;
}

// Puts a new reference into a slot of an object array, releasing what the
// slot held.
void put(PyObject** slot, PyObject* value) {
    Ref previous = Ref::steal(*slot);
    *slot = value;
}

// The Python text of each cell of one column: the label's str, made once per
// code and shared by every cell with that code, or the fallback. Codes are
// 0..k-1, so a label is found by index.
class ColumnTexts {
public:
    // Makes the strs of the labels that occur in column `col`, in code order:
    // one pass through the labels rather than a cache miss per label in the
    // order of the rows.
    ColumnTexts(const Matrix& matrix, std::size_t col, const CodedLabels& labels, PyObject* fallback)
        : matrix_(matrix), col_(col), made_(labels.size()), texts_(labels.size() + 1, fallback) {
        std::vector<unsigned char> occurs(texts_.size(), 0);
        for (std::size_t row = 0; row < matrix.rows; ++row) occurs[index_of(row)] = 1;
        for (std::size_t code = 0; code < made_.size(); ++code) {
            if (!occurs[code]) continue;
            made_[code] = make_str(labels[code]);
            texts_[code] = made_[code].get();
        }
    }

    // put(row, text) with a new reference for every cell of the column.
    template <class Put>
    void fill(Put&& put) const {
        const std::size_t end = matrix_.rows;
        // Cells meet their texts in random order, and every new reference is
        // a write into the text: fetch the table slot, then the text, ahead.
        constexpr std::size_t kAhead = 32;
        auto text_at = [&](std::size_t row) { return texts_[index_of(row)]; };
        PausePoint pauses;
        for (std::size_t row = 0; row < end; ++row) {
            if (row + 2 * kAhead < end) __builtin_prefetch(&texts_[index_of(row + 2 * kAhead)]);
            if (row + kAhead < end) __builtin_prefetch(text_at(row + kAhead), 1);
            put(row, Py_NewRef(text_at(row)));
            pauses.reached([] {});
        }
    }

private:
    // The index of a cell's text: its code, or made_.size() for the fallback.
    std::size_t index_of(std::size_t row) const noexcept {
        const double value = matrix_.at(row, col_);
        if (std::isnan(value)) return made_.size();
        const std::uint64_t code = code_of(value);
        return code < made_.size() ? static_cast<std::size_t>(code) : made_.size();
    }

    const Matrix& matrix_;
    std::size_t col_;
    std::vector<Ref> made_;
    std::vector<PyObject*> texts_;  // by index; the fallback last
};

}  // namespace

Status check_record_fits(const EncodingInfo& record, std::size_t cols) {
    for (std::size_t col : record.string_columns) {
        if (col >= cols) {
            return PyErr::lazy(PyExc_ValueError,
                               "cannot decode: the stored encoding has column " + std::to_string(col) +
                                   " but the table has " + std::to_string(cols) + " columns");
        }
    }
    return success();
}

Result<Ref> decode_array(const Matrix& matrix, const EncodingInfo& record) {
    // The object array that a copy of the float output converted with
    // astype("object") would be: the same shape and memory order, a Python
    // float in every cell; the recorded columns then hold their labels.
    numpy::ensure_api();
    npy_intp dims[2] = {static_cast<npy_intp>(matrix.rows), static_cast<npy_intp>(matrix.cols)};
    const bool fortran = !matrix.is_row_major_block() && matrix.is_column_major_block();
    Ref decoded = own(PyArray_NewFromDescr(&PyArray_Type, PyArray_DescrFromType(NPY_OBJECT), 2, dims,
                                           nullptr, nullptr, fortran ? NPY_ARRAY_F_CONTIGUOUS : 0, nullptr));
    // No cell to fill: nothing is sized by the column count.
    if (matrix.rows == 0 || matrix.cols == 0) return decoded;
    auto* array = reinterpret_cast<PyArrayObject*>(decoded.get());
    auto* base = static_cast<char*>(PyArray_DATA(array));
    const npy_intp* strides = PyArray_STRIDES(array);
    auto set = [&](std::size_t row, std::size_t col, PyObject* value) {
        put(reinterpret_cast<PyObject**>(base + static_cast<npy_intp>(row) * strides[0] +
                                         static_cast<npy_intp>(col) * strides[1]),
            value);
    };

    std::vector<const CodedLabels*> recorded(matrix.cols, nullptr);
    for (std::size_t col : record.string_columns) {
        const CodedLabels& labels = labels_of(record, col);
        // A column beyond the table has no cells to decode (only possible
        // without rows: output construction refuses it otherwise).
        if (col < matrix.cols) recorded[col] = &labels;
    }
    Ref missing = make_str(kNanLabel);
    for (std::size_t col = 0; col < matrix.cols; ++col) {
        if (recorded[col] != nullptr) {
            ColumnTexts texts(matrix, col, *recorded[col], missing.get());
            texts.fill([&](std::size_t row, PyObject* text) { set(row, col, text); });
            continue;
        }
        PausePoint pauses;
        for (std::size_t row = 0; row < matrix.rows; ++row) {
            set(row, col, own(PyFloat_FromDouble(matrix.at(row, col))).release());
            pauses.reached([] {});
        }
    }
    return decoded;
}

Status decode_frame(PyObject* frame, PyObject* pandas, const Matrix& matrix, const EncodingInfo& record) {
    TRY_ASSIGN(Ref series_class, get_attr(pandas, interned::Series()));
    Ref keywords = own(PyDict_New());
    TRY(checked_status(PyDict_SetItem(keywords.get(), interned::dtype(), interned::object())));
    TRY(checked_status(PyDict_SetItem(keywords.get(), interned::copy(), Py_False)));
    numpy::ensure_api();
    for (std::size_t col : record.string_columns) {
        ColumnTexts texts(matrix, col, labels_of(record, col), Py_None);
        npy_intp length = static_cast<npy_intp>(matrix.rows);
        Ref labels = own(PyArray_SimpleNew(1, &length, NPY_OBJECT));
        auto* slots = static_cast<PyObject**>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(labels.get())));
        texts.fill([&](std::size_t row, PyObject* text) { put(&slots[row], text); });
        // An explicit object Series keeps the labels as these very objects
        // (pandas would otherwise infer a string dtype, None becoming NaN),
        // and is set by position, whatever the column names are.
        PyObject* args[] = {nullptr, labels.get()};
        TRY_ASSIGN(Ref column, checked(PyObject_VectorcallDict(series_class.get(), args + 1,
                                                               1 | PY_VECTORCALL_ARGUMENTS_OFFSET,
                                                               keywords.get())));
        Ref position = own(PyLong_FromSize_t(col));
        TRY(call_method(frame, interned::isetitem(), {position.get(), column.get()}));
    }
    return success();
}

namespace {

// A (count x rows) array whose row i is filled by fill(i, row pointer).
template <class Fill>
Ref block_array(std::size_t count, std::size_t rows, int type, Fill&& fill) {
    npy_intp dims[2] = {static_cast<npy_intp>(count), static_cast<npy_intp>(rows)};
    Ref block = own(PyArray_SimpleNew(2, dims, type));
    char* data = static_cast<char*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(block.get())));
    const npy_intp row_bytes = PyArray_STRIDES(reinterpret_cast<PyArrayObject*>(block.get()))[0];
    for (std::size_t i = 0; i < count; ++i) fill(i, data + static_cast<npy_intp>(i) * row_bytes);
    return block;
}

}  // namespace

Result<std::optional<Ref>> frame_from_blocks(PyObject* pandas, const Matrix& matrix, PyObject* names,
                                              const EncodingInfo& record) {
    auto internals = probe(import_module(interned::pandas_api_internals()), "import pandas.api.internals");
    auto create = internals ? probe(get_attr(internals->get(), interned::create_dataframe_from_blocks()),
                                       "create_dataframe_from_blocks") : std::nullopt;
    if (!create) return std::optional<Ref>();
    numpy::ensure_api();
    const std::size_t rows = matrix.rows;
    std::vector<char> is_text(matrix.cols, 0);
    for (std::size_t col : record.string_columns) is_text[col] = 1;
    std::vector<std::size_t> float_columns, text_columns;
    for (std::size_t col = 0; col < matrix.cols; ++col) (is_text[col] ? text_columns : float_columns).push_back(col);

    Ref blocks = own(PyList_New(0));
    auto add_block = [&](Ref block, const std::vector<std::size_t>& columns) {
        npy_intp length = static_cast<npy_intp>(columns.size());
        Ref placement = own(PyArray_SimpleNew(1, &length, NPY_INTP));
        auto* at = static_cast<npy_intp*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(placement.get())));
        for (std::size_t i = 0; i < columns.size(); ++i) at[i] = static_cast<npy_intp>(columns[i]);
        Ref pair = own(PyTuple_Pack(2, block.get(), placement.get()));
        if (PyList_Append(blocks.get(), pair.get()) < 0) panic_from("could not list a block", PyErr::fetch());
    };
    if (!float_columns.empty()) {
        add_block(block_array(float_columns.size(), rows, NPY_DOUBLE,
                              [&](std::size_t i, char* at) {
                                  auto* out = reinterpret_cast<double*>(at);
                                  const double* in = matrix.origin() + static_cast<std::ptrdiff_t>(float_columns[i]) * matrix.col_stride;
                                  for (std::size_t row = 0; row < rows; ++row) {
                                      out[row] = in[static_cast<std::ptrdiff_t>(row) * matrix.row_stride];
                                  }
                              }),
                  float_columns);
    }
    add_block(block_array(text_columns.size(), rows, NPY_OBJECT,
                          [&](std::size_t i, char* at) {
                              auto* slots = reinterpret_cast<PyObject**>(at);
                              ColumnTexts texts(matrix, text_columns[i], labels_of(record, text_columns[i]), Py_None);
                              texts.fill([&](std::size_t row, PyObject* text) { put(&slots[row], text); });
                          }),
              text_columns);

    TRY_ASSIGN(Ref range_class, get_attr(pandas, interned::RangeIndex()));
    Ref length = own(PyLong_FromSize_t(rows));
    TRY_ASSIGN(Ref index, checked(PyObject_CallOneArg(range_class.get(), length.get())));
    TRY_ASSIGN(Ref index_class, get_attr(pandas, interned::Index()));
    TRY_ASSIGN(Ref columns, checked(PyObject_CallOneArg(index_class.get(), names)));
    PyObject* args[] = {nullptr, blocks.get(), index.get(), columns.get()};
    TRY_ASSIGN(Ref frame, checked(PyObject_Vectorcall(create->get(), args + 1,
                                                      3 | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr)));
    return std::optional<Ref>(std::move(frame));
}

}  // namespace tarnix
