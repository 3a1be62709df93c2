#include "boundary/text.hpp"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace tarnix {

namespace {

constexpr std::string_view kThreeReplacements = "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD";

bool is_surrogate(std::uint32_t code_point) noexcept { return code_point >= 0xD800 && code_point <= 0xDFFF; }

std::size_t utf8_length(std::uint32_t code_point) noexcept {
    if (code_point < 0x80) return 1;
    if (code_point < 0x800) return 2;
    if (is_surrogate(code_point)) return kThreeReplacements.size();
    return code_point < 0x10000 ? 3 : 4;
}

// Sizes the output first, then writes every code point in place.
template <class Unit>
bool append_code_points(const Unit* units, std::size_t count, std::string& out) {
    std::size_t bytes = 0;
    for (std::size_t i = 0; i < count; ++i) bytes += utf8_length(units[i]);
    const std::size_t start = out.size();
    out.resize(start + bytes);
    char* at = out.data() + start;
    bool clean = true;
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint32_t c = units[i];
        if (c < 0x80) {
            *at++ = static_cast<char>(c);
        } else if (c < 0x800) {
            *at++ = static_cast<char>(0xC0 | (c >> 6));
            *at++ = static_cast<char>(0x80 | (c & 0x3F));
        } else if (is_surrogate(c)) {
            std::memcpy(at, kThreeReplacements.data(), kThreeReplacements.size());
            at += kThreeReplacements.size();
            clean = false;
        } else if (c < 0x10000) {
            *at++ = static_cast<char>(0xE0 | (c >> 12));
            *at++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            *at++ = static_cast<char>(0x80 | (c & 0x3F));
        } else {
            *at++ = static_cast<char>(0xF0 | (c >> 18));
            *at++ = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            *at++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            *at++ = static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return clean;
}

}  // namespace

std::optional<std::string_view> utf8_view(PyObject* str) noexcept {
    Py_ssize_t size = 0;
    const char* data = PyUnicode_AsUTF8AndSize(str, &size);
    if (data == nullptr) {
        PyErr_Clear();
        return std::nullopt;
    }
    return std::string_view(data, static_cast<std::size_t>(size));
}

std::optional<std::string_view> ascii_view(PyObject* str) noexcept {
    if (!PyUnicode_IS_ASCII(str)) return std::nullopt;
    return std::string_view(static_cast<const char*>(PyUnicode_DATA(str)),
                            static_cast<std::size_t>(PyUnicode_GET_LENGTH(str)));
}

bool append_utf8(PyObject* str, std::string& out) {
    if (auto ascii = ascii_view(str)) {
        out.append(*ascii);
        return true;
    }
    const void* data = PyUnicode_DATA(str);
    const auto count = static_cast<std::size_t>(PyUnicode_GET_LENGTH(str));
    switch (PyUnicode_KIND(str)) {
        case PyUnicode_1BYTE_KIND: return append_code_points(static_cast<const Py_UCS1*>(data), count, out);
        case PyUnicode_2BYTE_KIND: return append_code_points(static_cast<const Py_UCS2*>(data), count, out);
        default: return append_code_points(static_cast<const Py_UCS4*>(data), count, out);
    }
}

std::string utf8_lossy(PyObject* str) {
    std::string text;
    append_utf8(str, text);
    return text;
}

std::optional<std::string> str_of(PyObject* object) {
    Ref str = Ref::steal(PyObject_Str(object));
    if (!str) return std::nullopt;
    return utf8_lossy(str.get());
}

Ref make_str(std::string_view utf8) {
    // ASCII needs no decoding: the bytes are the str's own storage.
    const bool ascii = std::all_of(utf8.begin(), utf8.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    if (!ascii) return own(PyUnicode_FromStringAndSize(utf8.data(), static_cast<Py_ssize_t>(utf8.size())));
    Ref str = own(PyUnicode_New(static_cast<Py_ssize_t>(utf8.size()), 127));
    std::memcpy(PyUnicode_DATA(str.get()), utf8.data(), utf8.size());
    return str;
}

}  // namespace tarnix
