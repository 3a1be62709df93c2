// tarnix_learn._native: the steps of the companion package that Python,
// NumPy and Arrow do too slowly. merge_runs(runs, counts) merges the sorted
// runs of labels that partial fits collect (see tarnix_learn._labels);
// find_sorted(sorted, keys) finds a table's sorted labels among the fitted
// ones (see TextColumnEncoder._recode).
#include <algorithm>
#include <atomic>
#include <cstring>
#include <new>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "boundary/compat.hpp"
#include "boundary/detached.hpp"
#include "boundary/ref.hpp"
#include "core/sorted_runs.hpp"

#define NPY_NO_DEPRECATED_API NPY_2_0_API_VERSION
#define PY_ARRAY_UNIQUE_SYMBOL tarnix_learn_ARRAY_API
#include <numpy/arrayobject.h>

namespace tarnix {

// Ref's view of interpreter exit; this module's references all live within
// one call, while the calling thread is attached.
std::atomic<bool> interpreter_exiting{false};

namespace {

// A NumPy array of int64 with the values of `values`.
Ref int64_array(const std::vector<std::int64_t>& values) {
    npy_intp size = static_cast<npy_intp>(values.size());
    Ref array = Ref::steal(PyArray_SimpleNew(1, &size, NPY_INT64));
    if (array && !values.empty()) {
        std::memcpy(PyArray_DATA(reinterpret_cast<PyArrayObject*>(array.get())), values.data(),
                    values.size() * sizeof(std::int64_t));
    }
    return array;
}

bool is_vector(PyObject* object, int type) {
    return PyArray_Check(object) && PyArray_TYPE(reinterpret_cast<PyArrayObject*>(object)) == type &&
           PyArray_NDIM(reinterpret_cast<PyArrayObject*>(object)) == 1;
}

// The runs as a tuple of 1-D object arrays (the tuple keeps them alive).
Ref runs_of(PyObject* runs_object, const char* what, int type) {
    Ref runs = Ref::steal(PySequence_Tuple(runs_object));
    if (!runs) return runs;
    for (Py_ssize_t r = 0; r < PyTuple_GET_SIZE(runs.get()); ++r) {
        PyObject* run = PyTuple_GET_ITEM(runs.get(), r);
        if (!is_vector(run, type)) {
            PyErr_Format(PyExc_TypeError, "%s[%zd] is not a 1-D %s array", what, r,
                         type == NPY_OBJECT ? "object" : "int64");
            return Ref();
        }
    }
    return runs;
}

// Element i of a 1-D array, as a pointer to its bytes.
template <typename T>
T* element(PyObject* array, std::size_t i) {
    auto* numpy_array = reinterpret_cast<PyArrayObject*>(array);
    return reinterpret_cast<T*>(PyArray_BYTES(numpy_array) + static_cast<npy_intp>(i) * PyArray_STRIDE(numpy_array, 0));
}

// The UTF-8 text of the str elements of a 1-D object array, read as asked for.
class Utf8Labels {
public:
    explicit Utf8Labels(PyObject* array) noexcept : array_(array) {}
    npy_intp size() const noexcept { return PyArray_DIM(reinterpret_cast<PyArrayObject*>(array_), 0); }
    // False, with the exception set, where element i is not a str.
    bool at(npy_intp i, std::string_view& text) const {
        PyObject* label = *element<PyObject*>(array_, static_cast<std::size_t>(i));
        if (label == nullptr || !PyUnicode_Check(label)) {
            PyErr_Format(PyExc_TypeError, "element %zd is not a str", i);
            return false;
        }
        Py_ssize_t length = 0;
        const char* utf8 = PyUnicode_AsUTF8AndSize(label, &length);
        if (utf8 == nullptr) return false;
        text = std::string_view(utf8, static_cast<std::size_t>(length));
        return true;
    }

private:
    PyObject* array_;
};

PyObject* merge_runs_of(PyObject* runs_object, PyObject* counts_object) {
    Ref runs = runs_of(runs_object, "runs", NPY_OBJECT);
    if (!runs) return nullptr;
    Py_ssize_t run_count = PyTuple_GET_SIZE(runs.get());
    Ref counts;
    if (counts_object != Py_None) {
        counts = runs_of(counts_object, "counts", NPY_INT64);
        if (!counts) return nullptr;
        if (PyTuple_GET_SIZE(counts.get()) != run_count) {
            PyErr_SetString(PyExc_ValueError, "counts must have one array per run");
            return nullptr;
        }
    }
    std::vector<std::size_t> ends;
    ends.reserve(static_cast<std::size_t>(run_count));
    std::size_t size = 0;
    for (Py_ssize_t r = 0; r < run_count; ++r) {
        auto length = static_cast<std::size_t>(PyArray_DIM(reinterpret_cast<PyArrayObject*>(PyTuple_GET_ITEM(runs.get(), r)), 0));
        if (counts && static_cast<std::size_t>(PyArray_DIM(
                          reinterpret_cast<PyArrayObject*>(PyTuple_GET_ITEM(counts.get(), r)), 0)) != length) {
            PyErr_Format(PyExc_ValueError, "counts[%zd] does not have a count per label of its run", r);
            return nullptr;
        }
        size += length;
        ends.push_back(size);
    }
    // The labels' UTF-8 text (and their counts), read while attached and
    // copied one after another: the merge runs detached and reads no Python
    // object.
    std::vector<std::string_view> views(size);
    std::vector<std::int64_t> label_counts(counts ? size : 0);
    std::size_t bytes = 0;
    std::size_t at = 0;
    for (Py_ssize_t r = 0; r < run_count; ++r) {
        Utf8Labels run(PyTuple_GET_ITEM(runs.get(), r));
        for (npy_intp i = 0; at < ends[static_cast<std::size_t>(r)]; ++i, ++at) {
            if (!run.at(i, views[at])) return nullptr;
            bytes += views[at].size();
            if (counts) {
                label_counts[at] = *element<std::int64_t>(PyTuple_GET_ITEM(counts.get(), r), static_cast<std::size_t>(i));
            }
        }
    }
    std::string text;
    text.reserve(bytes);
    for (std::string_view& view : views) {
        std::size_t start = text.size();
        text.append(view);
        view = std::string_view(text).substr(start);
    }
    MergedRuns merged;
    {
        Detached detached;
        merged = merge_sorted_runs(views, ends, label_counts);
    }
    if (merged.out_of_order != size) {
        std::size_t run = static_cast<std::size_t>(std::upper_bound(ends.begin(), ends.end(), merged.out_of_order) - ends.begin());
        PyErr_Format(PyExc_ValueError, "runs[%zu][%zu] is not greater than the label before it", run,
                     merged.out_of_order - (run == 0 ? 0 : ends[run - 1]));
        return nullptr;
    }
    // The first occurrence of each distinct label, as the merged labels.
    npy_intp distinct = static_cast<npy_intp>(merged.first.size());
    Ref labels = Ref::steal(PyArray_SimpleNew(1, &distinct, NPY_OBJECT));
    if (!labels) return nullptr;
    auto** out = static_cast<PyObject**>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(labels.get())));
    for (npy_intp k = 0; k < distinct; ++k) {
        std::size_t position = merged.first[static_cast<std::size_t>(k)];
        auto run = static_cast<std::size_t>(std::upper_bound(ends.begin(), ends.end(), position) - ends.begin());
        PyObject* label = *element<PyObject*>(PyTuple_GET_ITEM(runs.get(), static_cast<Py_ssize_t>(run)),
                                              position - (run == 0 ? 0 : ends[run - 1]));
        // The runs are read again: an element another thread changed meanwhile
        // is taken as it is now, if still a str.
        if (label == nullptr || !PyUnicode_Check(label)) {
            PyErr_SetString(PyExc_RuntimeError, "the runs changed during merge_runs");
            return nullptr;
        }
        Ref before = Ref::steal(std::exchange(out[k], Py_NewRef(label)));
    }
    if (!counts) return PyTuple_Pack(2, labels.get(), Py_None);
    Ref summed = int64_array(merged.counts);
    if (!summed) return nullptr;
    return PyTuple_Pack(2, labels.get(), summed.get());
}

PyObject* find_sorted_of(PyObject* sorted_object, PyObject* keys_object) {
    if (!is_vector(sorted_object, NPY_OBJECT) || !is_vector(keys_object, NPY_OBJECT)) {
        PyErr_SetString(PyExc_TypeError, "sorted and keys must be 1-D object arrays of str");
        return nullptr;
    }
    Utf8Labels sorted(sorted_object);
    Utf8Labels keys(keys_object);
    npy_intp size = sorted.size();
    npy_intp key_count = keys.size();
    Ref positions = Ref::steal(PyArray_SimpleNew(1, &key_count, NPY_INT64));
    if (!positions) return nullptr;
    auto* out = static_cast<std::int64_t*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(positions.get())));
    // Every label of `sorted` before `next` is less than the key looked for:
    // each key gallops on from where the one before it stopped, so keys as
    // many as the labels cost one pass, and a few keys a few searches.
    npy_intp next = 0;
    std::string_view key;
    std::string_view previous;
    std::string_view label;
    for (npy_intp k = 0; k < key_count; ++k) {
        if (!keys.at(k, key)) return nullptr;
        if (k > 0 && key <= previous) Py_RETURN_NONE;
        previous = key;
        npy_intp low = next;
        npy_intp high = next;
        npy_intp step = 1;
        while (high < size) {
            if (!sorted.at(high, label)) return nullptr;
            if (label >= key) break;
            low = high + 1;
            high = std::min(low + step, size);
            step *= 2;
        }
        while (low < high) {
            npy_intp middle = low + (high - low) / 2;
            if (!sorted.at(middle, label)) return nullptr;
            if (label < key) low = middle + 1; else high = middle;
        }
        next = low;
        out[k] = -1;
        if (next < size) {
            if (!sorted.at(next, label)) return nullptr;
            if (label == key) out[k] = next;
        }
    }
    return positions.release();
}

PyObject* find_sorted(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    if (nargs != 2) {
        PyErr_Format(PyExc_TypeError, "find_sorted() takes 2 positional arguments (%zd given)", nargs);
        return nullptr;
    }
    return find_sorted_of(args[0], args[1]);
}

PyObject* merge_runs(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    if (nargs != 2) {
        PyErr_Format(PyExc_TypeError, "merge_runs() takes 2 positional arguments (%zd given)", nargs);
        return nullptr;
    }
    try {
        return merge_runs_of(args[0], args[1]);
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    }
}

PyMethodDef methods[] = {
    {"merge_runs", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(merge_runs)), METH_FASTCALL,
     "merge_runs(runs, counts) -> (labels, counts)\n\n"
     "Merges runs of str (1-D object arrays, each increasing strictly by code\n"
     "point) into their distinct labels in code point order (an object array\n"
     "of the first occurrence of each). `counts` is None or holds an int64\n"
     "array per run, a count per label; the result's counts are then their\n"
     "sums per distinct label (else None)."},
    {"find_sorted", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(find_sorted)), METH_FASTCALL,
     "find_sorted(sorted, keys) -> positions or None\n\n"
     "The position of each str of `keys` among the str of `sorted` (both 1-D\n"
     "object arrays, `sorted` increasing strictly by code point), or -1 where\n"
     "it is not there (an int64 array); None when `keys` does not increase\n"
     "strictly."},
    {nullptr, nullptr, 0, nullptr},
};

int module_exec(PyObject*) { return PyArray_ImportNumPyAPI(); }

PyModuleDef_Slot module_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(module_exec)},
    compat::gil_not_used_slot(),
    {0, nullptr},
};

PyModuleDef module_definition = {
    PyModuleDef_HEAD_INIT, "tarnix_learn._native", "Native steps of tarnix_learn.", 0, methods,
    module_slots,          nullptr,                nullptr,                         nullptr,
};

}  // namespace

}  // namespace tarnix

extern "C" __attribute__((visibility("default"))) PyObject* PyInit__native() {
    return PyModuleDef_Init(&tarnix::module_definition);
}
