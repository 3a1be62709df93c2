// The module's entry point: a multi-phase definition whose execution slot adds
// the Encoder class and lists it in __all__.
#include "boundary/compat.hpp"
#include "boundary/guard.hpp"
#include "boundary/interned.hpp"
#include "boundary/text.hpp"
#include "python/encoder.hpp"

namespace tarnix {

std::atomic<bool> interpreter_exiting{false};

namespace {

PyObject* note_interpreter_exit(PyObject*, PyObject*) {
    interpreter_exiting.store(true, std::memory_order_relaxed);
    Py_RETURN_NONE;
}

PyMethodDef exit_callback = {"_tarnix_exiting", note_interpreter_exit, METH_NOARGS, nullptr};

// atexit.register(a function that sets interpreter_exiting).
Status watch_interpreter_exit() {
    TRY_ASSIGN(Ref atexit, checked(PyImport_Import(interned::atexit())));
    Ref callback = own(PyCFunction_New(&exit_callback, nullptr));
    PyObject* args[] = {atexit.get(), callback.get()};
    TRY(checked(PyObject_VectorcallMethod(interned::register_(), args, 2 | PY_VECTORCALL_ARGUMENTS_OFFSET,
                                          nullptr)));
    return success();
}

// __all__ as a list, made empty when the module has none yet.
Result<Ref> all_list(PyObject* module) {
    PyObject* all = PyObject_GetAttr(module, interned::dunder_all());
    if (all == nullptr) {
        PyErr error = PyErr::fetch();
        if (!error.matches(PyExc_AttributeError)) return error;
        Ref list = own(PyList_New(0));
        TRY(checked_status(PyObject_SetAttr(module, interned::dunder_all(), list.get())));
        return list;
    }
    Ref owned = Ref::steal(all);
    if (!PyList_Check(all)) return cast_error(all, &PyList_Type);
    return owned;
}

Status add_class(PyObject* module, const char* name, PyObject* type) {
    TRY_ASSIGN(Ref all, all_list(module));
    Ref text = make_str(name);
    if (PyList_Append(all.get(), text.get()) < 0) {
        panic_from("could not append __name__ to __all__", PyErr::fetch());
    }
    return checked_status(PyObject_SetAttr(module, text.get(), type));
}

int module_exec(PyObject* module) {
    return guard_status([module]() -> Status {
        if (!PyObject_TypeCheck(module, &PyModule_Type)) return cast_error(module, &PyModule_Type);
        auto type = encoder_type();
        if (!type) {
            return PyErr::lazy(PyExc_RuntimeError, "An error occurred while initializing class Encoder")
                .with_cause(std::move(type).error());
        }
        TRY(watch_interpreter_exit());
        return add_class(module, "Encoder", type.value());
    });
}

PyModuleDef_Slot module_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(module_exec)},
    compat::gil_not_used_slot(),
    {0, nullptr},
};

PyModuleDef module_definition = {
    PyModuleDef_HEAD_INIT,
    "tarnix",
    "A Python module implemented in C++: parallel label encoding of the text columns of "
    "NumPy arrays and pandas DataFrames.",
    0,
    nullptr,
    module_slots,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace

}  // namespace tarnix

extern "C" __attribute__((visibility("default"))) PyObject* PyInit_tarnix() {
    return PyModuleDef_Init(&tarnix::module_definition);
}
