// UTF-8 text of Python strings.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "boundary/python.hpp"
#include "boundary/ref.hpp"

namespace tarnix {

// The UTF-8 form the interpreter keeps for a str; nothing (and no exception
// left set) when the string holds surrogates. Valid while `str` lives.
std::optional<std::string_view> utf8_view(PyObject* str) noexcept;

// Like utf8_view, but never fails: surrogates are encoded with
// "surrogatepass" and each invalid byte sequence read back as U+FFFD.
std::string utf8_lossy(PyObject* str);

// str(object) as lossy UTF-8, or nothing when str() raises (left pending).
std::optional<std::string> str_of(PyObject* object);

// A new str from UTF-8 text made for the module's own use.
Ref make_str(std::string_view utf8);

}  // namespace tarnix
