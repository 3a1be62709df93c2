// tarnix_learn._native: the one step of the companion package that Python,
// NumPy and Arrow do too slowly. merge_runs(labels, ends) merges the sorted
// runs of labels that partial fits collect (see tarnix_learn._labels).
#include <atomic>
#include <cstring>
#include <new>
#include <string>
#include <string_view>
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

PyObject* merge_runs_of(PyObject* labels_object, PyObject* ends_object) {
    if (!PyArray_Check(labels_object) ||
        PyArray_TYPE(reinterpret_cast<PyArrayObject*>(labels_object)) != NPY_OBJECT ||
        PyArray_NDIM(reinterpret_cast<PyArrayObject*>(labels_object)) != 1) {
        PyErr_SetString(PyExc_TypeError, "labels must be a 1-D object array of str");
        return nullptr;
    }
    auto* labels = reinterpret_cast<PyArrayObject*>(labels_object);
    Ref ends_array = Ref::steal(PyArray_FROMANY(ends_object, NPY_INT64, 1, 1, NPY_ARRAY_CARRAY_RO));
    if (!ends_array) return nullptr;
    std::size_t size = static_cast<std::size_t>(PyArray_DIM(labels, 0));
    const auto* end_values =
        static_cast<const std::int64_t*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(ends_array.get())));
    std::vector<std::size_t> ends(end_values,
                                  end_values + PyArray_DIM(reinterpret_cast<PyArrayObject*>(ends_array.get()), 0));
    std::int64_t before = 0;
    for (std::size_t i = 0; i < ends.size(); ++i) {
        if (end_values[i] < before) {
            PyErr_SetString(PyExc_ValueError, "ends must be non-decreasing");
            return nullptr;
        }
        before = end_values[i];
    }
    if (ends.empty() ? size != 0 : ends.back() != size) {
        PyErr_SetString(PyExc_ValueError, "the last of ends must be the number of labels");
        return nullptr;
    }
    // The labels' UTF-8 text, kept by the str objects while attached, then
    // copied one after another: the merge runs detached and reads no Python
    // object.
    std::vector<std::string_view> views(size);
    std::size_t bytes = 0;
    const char* data = PyArray_BYTES(labels);
    npy_intp stride = PyArray_STRIDE(labels, 0);
    for (std::size_t i = 0; i < size; ++i) {
        PyObject* label = *reinterpret_cast<PyObject* const*>(data + static_cast<npy_intp>(i) * stride);
        if (label == nullptr || !PyUnicode_Check(label)) {
            PyErr_Format(PyExc_TypeError, "labels[%zu] is not a str", i);
            return nullptr;
        }
        Py_ssize_t length = 0;
        const char* utf8 = PyUnicode_AsUTF8AndSize(label, &length);
        if (utf8 == nullptr) return nullptr;
        views[i] = std::string_view(utf8, static_cast<std::size_t>(length));
        bytes += views[i].size();
    }
    std::string text;
    text.reserve(bytes);
    for (std::string_view& view : views) {
        std::size_t at = text.size();
        text.append(view);
        view = std::string_view(text).substr(at);
    }
    npy_intp rank_size = static_cast<npy_intp>(size);
    Ref rank = Ref::steal(PyArray_SimpleNew(1, &rank_size, NPY_INT64));
    if (!rank) return nullptr;
    MergedRuns merged;
    {
        Detached detached;
        merged = merge_sorted_runs(
            views, ends,
            std::span(static_cast<std::int64_t*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(rank.get()))), size));
    }
    if (merged.out_of_order != size) {
        PyErr_Format(PyExc_ValueError, "labels[%zu] is not greater than the label before it in its run",
                     merged.out_of_order);
        return nullptr;
    }
    Ref first = int64_array(merged.first);
    if (!first) return nullptr;
    return PyTuple_Pack(2, first.get(), rank.get());
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
     "merge_runs(labels, ends) -> (first, rank)\n\n"
     "Merges the runs of str that stand one after another in the object array\n"
     "`labels`, run r ending before ends[r], each increasing strictly by code\n"
     "point. `first` holds, per distinct label in code point order, the\n"
     "position of its first occurrence; `rank`, per position, the number of\n"
     "its label among the distinct ones (int64 arrays)."},
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
