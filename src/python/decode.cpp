#include "python/decode.hpp"

#include <cmath>
#include <limits>

#include "boundary/fatal.hpp"
#include "boundary/text.hpp"
#include "python/calls.hpp"

namespace tarnix {

namespace {

constexpr double kLargestBelowTwoTo64 = 18446744073709549568.0;

const CodeMap& code_map(const EncodingInfo& record, std::size_t col) {
    auto it = record.code_to_label.find(col);
    if (it == record.code_to_label.end()) panic("the encoding record lists a column without a code map");
    return it->second;
}

Ref label_or(const CodeMap& codes, double value, PyObject* fallback) {
    if (const std::string* label = label_of(codes, value)) return make_str(*label);
    return Ref::borrow(fallback);
}

}  // namespace

std::uint64_t code_of(double value) noexcept {
    if (value < 0) return 0;
    if (value > kLargestBelowTwoTo64) return std::numeric_limits<std::uint64_t>::max();
    return static_cast<std::uint64_t>(value);
}

const std::string* label_of(const CodeMap& codes, double value) {
    if (std::isnan(value) || codes.empty()) return nullptr;
    auto it = codes.find(code_of(value));
    return it == codes.end() ? nullptr : &it->second;
}

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

Status check_names_unique(const EncodingInfo& record, const std::vector<std::string>& names) {
    if (record.string_columns.empty()) return success();
    absl::flat_hash_map<std::string_view, std::size_t, SeededHash, StringEq> counts;
    counts.reserve(names.size());
    for (const std::string& name : names) ++counts[name];
    for (std::size_t col : record.string_columns) {
        const std::size_t count = counts[names[col]];
        if (count > 1) {
            return PyErr::lazy(PyExc_ValueError, "cannot decode: the column name '" + names[col] +
                                                     "' of encoded column " + std::to_string(col) +
                                                     " occurs " + std::to_string(count) +
                                                     " times in the table");
        }
    }
    return success();
}

Result<Ref> decode_array(PyObject* float_array, const Matrix& matrix, const EncodingInfo& record) {
    TRY_ASSIGN(Ref numpy, import_module("numpy"));
    TRY_ASSIGN(Ref copy, call_method(numpy.get(), "array", {float_array}));
    Ref object_dtype = make_str("object");
    TRY_ASSIGN(Ref decoded, call_method(copy.get(), "astype", {object_dtype.get()}));
    copy = Ref();
    Ref missing = make_str("NaN");
    for (std::size_t col : record.string_columns) {
        const CodeMap& codes = code_map(record, col);
        for (std::size_t row = 0; row < matrix.rows; ++row) {
            Ref text = label_or(codes, matrix.at(row, col), missing.get());
            Ref key = index_pair(row, col);
            TRY(call_method(decoded.get(), "__setitem__", {key.get(), text.get()}));
        }
    }
    return decoded;
}

Status decode_frame(PyObject* frame, const Matrix& matrix, const std::vector<std::string>& names,
                    const EncodingInfo& record) {
    for (std::size_t col : record.string_columns) {
        const CodeMap& codes = code_map(record, col);
        Ref labels = own(PyList_New(static_cast<Py_ssize_t>(matrix.rows)));
        for (std::size_t row = 0; row < matrix.rows; ++row) {
            PyList_SET_ITEM(labels.get(), static_cast<Py_ssize_t>(row),
                            label_or(codes, matrix.at(row, col), Py_None).release());
        }
        Ref name = make_str(names.at(col));
        TRY_ASSIGN(Ref series, checked(PyObject_GetItem(frame, name.get())));
        Ref object_dtype = make_str("object");
        TRY_ASSIGN(Ref as_object, call_method(series.get(), "astype", {object_dtype.get()}));
        TRY(call_method(frame, "__setitem__", {name.get(), as_object.get()}));
        TRY_ASSIGN(Ref loc, get_attr(frame, "loc"));
        Ref everything = own(PySlice_New(nullptr, nullptr, nullptr));
        Ref key = own(PyTuple_New(2));
        PyTuple_SET_ITEM(key.get(), 0, everything.release());
        PyTuple_SET_ITEM(key.get(), 1, Py_NewRef(name.get()));
        TRY(checked_status(PyObject_SetItem(loc.get(), key.get(), labels.get())));
    }
    return success();
}

}  // namespace tarnix
