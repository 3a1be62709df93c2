#include "python/calls.hpp"

#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <cstdlib>
#include <string>
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

Result<Ref> call_method_with_keywords(PyObject* receiver, PyObject* name,
                                      std::initializer_list<std::pair<PyObject*, PyObject*>> keywords) {
    std::vector<PyObject*> all{receiver};
    Ref names = own(PyTuple_New(static_cast<Py_ssize_t>(keywords.size())));
    Py_ssize_t i = 0;
    for (const auto& [key, value] : keywords) {
        PyTuple_SET_ITEM(names.get(), i++, Ref::borrow(key).release());
        all.push_back(value);
    }
    return checked(PyObject_VectorcallMethod(name, all.data(), 1 | PY_VECTORCALL_ARGUMENTS_OFFSET, names.get()));
}

bool tracing_routes() noexcept {
    const char* value = std::getenv("TARNIX_TRACE_ROUTES");
    return value != nullptr && *value != '\0' && std::string_view(value) != "0";
}

void write_line(int fd, std::string line) {
    line.push_back('\n');
    const char* at = line.data();
    std::size_t left = line.size();
    while (left > 0) {
        ssize_t n = ::write(fd, at, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            return;
        }
        at += n;
        left -= static_cast<std::size_t>(n);
    }
}

void trace_route(std::string_view what) {
    if (tracing_routes()) write_line(STDERR_FILENO, "tarnix route: " + std::string(what));
}

void trace_fallback(std::string_view what, const PyErr& error) {
    std::string description = error.describe();
    description.resize(std::min(description.find('\n'), description.size()));
    trace_route("fallback: " + std::string(what) + ": " + description);
}

Ref index_pair(std::size_t row, std::size_t col) {
    Ref pair = own(PyTuple_New(2));
    PyTuple_SET_ITEM(pair.get(), 0, own(PyLong_FromSize_t(row)).release());
    PyTuple_SET_ITEM(pair.get(), 1, own(PyLong_FromSize_t(col)).release());
    return pair;
}

}  // namespace tarnix
