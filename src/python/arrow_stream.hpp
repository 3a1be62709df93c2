// The Arrow C streams of pandas columns, on the interpreter's side: a stream
// is taken from its column once, its schema read once, and its arrays handed
// to the core (core/arrow_arrays.hpp) checked against that schema's type.
#pragma once

#include <cstddef>
#include <optional>

#include "boundary/ref.hpp"
#include "core/arrow_arrays.hpp"

namespace tarnix {

struct ArrowStream {
    Ref capsule;     // an "arrow_array_stream" capsule: releases the stream with it
    ArrowType type;  // of the stream's schema
};

// The Series' Arrow stream (pandas 3: Series.__arrow_c_stream__; before it:
// that of the pyarrow chunked array its array converts to), if it offers one
// whose arrays are of a type read. Nothing otherwise.
std::optional<ArrowStream> open_arrow_stream(PyObject* series);

// The same for a pandas array backed by a pyarrow chunked array (its
// __arrow_array__), such as the array of an Index of Arrow-backed strings.
std::optional<ArrowStream> open_arrow_array_stream(PyObject* array);

// Every array of an opened stream of `type`, in order. A failing stream, a
// malformed array or a count of cells other than `rows` is a fatal error.
ArrowChunks read_arrow_stream(PyObject* capsule, ArrowType type, std::size_t rows);

}  // namespace tarnix
