#include "python/arrow_stream.hpp"

#include <cstdint>
#include <string>

#include "boundary/error.hpp"
#include "core/fatal.hpp"
#include "python/calls.hpp"

namespace tarnix {

namespace {

constexpr const char* kStreamCapsule = "arrow_array_stream";

// The stream a capsule holds; nullptr (with no error pending) for anything
// that is not a live stream capsule.
ArrowArrayStream* stream_in(PyObject* capsule) {
    if (!PyCapsule_IsValid(capsule, kStreamCapsule)) return nullptr;
    auto* stream = static_cast<ArrowArrayStream*>(PyCapsule_GetPointer(capsule, kStreamCapsule));
    if (stream == nullptr) pass_on_unless_ordinary(PyErr::fetch());
    return stream != nullptr && stream->release != nullptr ? stream : nullptr;
}

}  // namespace

namespace {

// The stream a capsule holds, with its type, if it is one of a type read.
std::optional<ArrowStream> typed_stream(std::optional<Ref> capsule) {
    ArrowArrayStream* stream = capsule ? stream_in(capsule->get()) : nullptr;
    if (stream == nullptr) return std::nullopt;
    ArrowSchemaOwned schema;
    if (stream->get_schema(stream, schema.get()) != 0) return std::nullopt;
    const auto type = arrow_type(*schema);
    if (!type) return std::nullopt;
    return ArrowStream{std::move(*capsule), *type};
}

std::optional<Ref> array_stream_capsule(PyObject* array) {
    auto chunked = probe(call_method(array, interned::dunder_arrow_array()), "array.__arrow_array__");
    return chunked ? probe(call_method(chunked->get(), interned::dunder_arrow_c_stream()),
                           "ChunkedArray.__arrow_c_stream__")
                   : std::nullopt;
}

}  // namespace

std::optional<ArrowStream> open_arrow_stream(PyObject* series) {
    auto capsule = probe(call_method(series, interned::dunder_arrow_c_stream()), "Series.__arrow_c_stream__");
    if (!capsule) {
        auto array = probe(get_attr(series, interned::array()), "Series.array");
        if (array) capsule = array_stream_capsule(array->get());
    }
    return typed_stream(std::move(capsule));
}

std::optional<ArrowStream> open_arrow_array_stream(PyObject* array) {
    return typed_stream(array_stream_capsule(array));
}

ArrowChunks read_arrow_stream(PyObject* capsule, ArrowType type, std::size_t rows) {
    ArrowArrayStream* stream = stream_in(capsule);
    if (stream == nullptr) panic("could not open an Arrow stream");
    ArrowChunks chunks(type);
    for (;;) {
        ArrowArrayOwned array;
        if (stream->get_next(stream, array.get()) != 0) {
            const char* detail = stream->get_last_error != nullptr ? stream->get_last_error(stream) : nullptr;
            panic(std::string("could not read an Arrow stream: ") + (detail != nullptr ? detail : "no detail"));
        }
        if (array.empty()) break;
        if (array->length > 0 && static_cast<std::uint64_t>(array->length) > rows - chunks.length()) {
            panic("an Arrow column holds more cells than the frame has rows");
        }
        chunks.add(std::move(array));
    }
    if (chunks.length() != rows) panic("an Arrow column holds fewer cells than the frame has rows");
    return chunks;
}

}  // namespace tarnix
