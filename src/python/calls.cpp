#include "python/calls.hpp"

#include <vector>


namespace tarnix {

Result<Ref> import_module(PyObject* name) { return checked(PyImport_Import(name)); }

Result<Ref> get_attr(PyObject* object, PyObject* name) { return checked(PyObject_GetAttr(object, name)); }

Result<Ref> call_method(PyObject* receiver, PyObject* name, std::initializer_list<PyObject*> args) {
    PyObject* slots[4];
    std::vector<PyObject*> spill;
    PyObject** all = slots;
    if (args.size() + 1 > std::size(slots)) {
        spill.resize(args.size() + 1);
        all = spill.data();
    }
    all[0] = receiver;
    std::size_t i = 1;
    for (PyObject* arg : args) all[i++] = arg;
    return checked(PyObject_VectorcallMethod(name, all,
                                             (args.size() + 1) | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr));
}

Ref index_pair(std::size_t row, std::size_t col) {
    Ref pair = own(PyTuple_New(2));
    PyTuple_SET_ITEM(pair.get(), 0, own(PyLong_FromSize_t(row)).release());
    PyTuple_SET_ITEM(pair.get(), 1, own(PyLong_FromSize_t(col)).release());
    return pair;
}

}  // namespace tarnix
