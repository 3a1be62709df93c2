#include "boundary/args.hpp"

#include "boundary/text.hpp"

namespace tarnix {

namespace {

KeywordName keyword_name(PyObject* name) {
    if (!PyUnicode_Check(name)) return std::nullopt;
    return utf8_view(name);
}

// args: the positional arguments followed by the keyword values; names: the
// keyword names in the same order.
Result<Arguments> match(const CallableDescription& callable, PyObject* const* args,
                        std::size_t positional_count, std::span<PyObject* const> names) {
    std::vector<KeywordName> keywords;
    keywords.reserve(names.size());
    for (PyObject* name : names) keywords.push_back(keyword_name(name));
    auto display = [&](std::size_t k) {
        auto text = str_of(names[k]);
        if (!text) PyErr_Clear();
        return text ? *text : std::string("<unprintable>");
    };
    auto matched = match_arguments(callable, positional_count, keywords, display);
    if (auto* message = std::get_if<std::string>(&matched)) {
        return PyErr::lazy(PyExc_TypeError, std::move(*message));
    }
    Arguments arguments;
    for (const auto& slot : std::get<ArgumentSlots>(matched)) {
        arguments.push_back(slot ? args[*slot] : nullptr);
    }
    return arguments;
}

}  // namespace

Result<Arguments> match_vectorcall(const CallableDescription& callable, PyObject* const* args,
                                   Py_ssize_t nargsf, PyObject* kwnames) {
    const auto positional = static_cast<std::size_t>(PyVectorcall_NARGS(nargsf));
    std::span<PyObject* const> names;
    if (kwnames != nullptr) {
        names = {&PyTuple_GET_ITEM(kwnames, 0), static_cast<std::size_t>(PyTuple_GET_SIZE(kwnames))};
    }
    return match(callable, args, positional, names);
}

Result<Arguments> match_tuple_dict(const CallableDescription& callable, PyObject* args,
                                   PyObject* kwargs) {
    const auto positional = static_cast<std::size_t>(PyTuple_GET_SIZE(args));
    std::vector<PyObject*> values(&PyTuple_GET_ITEM(args, 0), &PyTuple_GET_ITEM(args, 0) + positional);
    std::vector<PyObject*> names;
    if (kwargs != nullptr) {
        Py_ssize_t position = 0;
        PyObject* key = nullptr;
        PyObject* value = nullptr;
        while (PyDict_Next(kwargs, &position, &key, &value)) {
            names.push_back(key);
            values.push_back(value);
        }
    }
    return match(callable, values.data(), positional, names);
}

}  // namespace tarnix
