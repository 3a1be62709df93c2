#include "python/calls.hpp"

#include <vector>

#include "boundary/text.hpp"

namespace tarnix {

Result<Ref> import_module(std::string_view name) {
    Ref text = make_str(name);
    return checked(PyImport_Import(text.get()));
}

Result<Ref> get_attr(PyObject* object, std::string_view name) {
    Ref text = make_str(name);
    return checked(PyObject_GetAttr(object, text.get()));
}

Result<Ref> call_method(PyObject* receiver, std::string_view name,
                        std::initializer_list<PyObject*> args) {
    Ref text = make_str(name);
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
    return checked(PyObject_VectorcallMethod(text.get(), all,
                                             (args.size() + 1) | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr));
}

Ref index_pair(std::size_t row, std::size_t col) {
    Ref pair = own(PyTuple_New(2));
    PyTuple_SET_ITEM(pair.get(), 0, own(PyLong_FromSize_t(row)).release());
    PyTuple_SET_ITEM(pair.get(), 1, own(PyLong_FromSize_t(col)).release());
    return pair;
}

}  // namespace tarnix
