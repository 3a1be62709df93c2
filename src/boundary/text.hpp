// UTF-8 text of Python strings.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "boundary/python.hpp"
#include "boundary/ref.hpp"

namespace tarnix {

// The UTF-8 form the interpreter keeps for a str (made and cached inside the
// str on first use); nothing (and no exception left set) when the string holds
// surrogates. Valid while `str` lives. For names and keywords, never for the
// cells of a table: those are only read.
std::optional<std::string_view> utf8_view(PyObject* str) noexcept;

// The text of an ASCII str as it lies in the object, or nothing for any other
// str. Valid while `str` lives and is unchanged.
std::optional<std::string_view> ascii_view(PyObject* str) noexcept;

// Appends the UTF-8 of `str` to `out`, read from the string's own storage:
// nothing is left in the object. Surrogate code points cannot be UTF-8; each
// becomes three U+FFFD, as encoding with "surrogatepass" and decoding with
// "replace" gives. Returns whether the text held none.
bool append_utf8(PyObject* str, std::string& out);

// The UTF-8 of `str`, surrogates replaced as append_utf8 does.
std::string utf8_lossy(PyObject* str);

// str(object) as lossy UTF-8, or nothing when str() raises (left pending).
std::optional<std::string> str_of(PyObject* object);

// A new str from UTF-8 text made for the module's own use.
Ref make_str(std::string_view utf8);

}  // namespace tarnix
