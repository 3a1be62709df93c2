#include "core/arrow_numbers.hpp"

#include <algorithm>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>

#include "core/fatal.hpp"

namespace tarnix {

namespace {

[[noreturn]] void malformed(const char* what) { panic(std::string("an Arrow number array is malformed: ") + what); }

template <class T>
void convert(const void* values, std::size_t first, std::size_t count, double* out) noexcept {
    const auto* at = static_cast<const char*>(values) + first * sizeof(T);
    for (std::size_t i = 0; i < count; ++i) {
        T value;
        std::memcpy(&value, at + i * sizeof(T), sizeof value);
        out[i] = static_cast<double>(value);
    }
}

bool bit(const std::uint8_t* bits, std::size_t index) noexcept { return ((bits[index >> 3] >> (index & 7)) & 1) != 0; }

}  // namespace

std::optional<ArrowNumberType> arrow_number_type(const char* format) noexcept {
    if (format == nullptr || format[0] == '\0' || format[1] != '\0') return std::nullopt;
    switch (format[0]) {
        case 'c': return ArrowNumberType::Int8;
        case 'C': return ArrowNumberType::UInt8;
        case 's': return ArrowNumberType::Int16;
        case 'S': return ArrowNumberType::UInt16;
        case 'i': return ArrowNumberType::Int32;
        case 'I': return ArrowNumberType::UInt32;
        case 'l': return ArrowNumberType::Int64;
        case 'L': return ArrowNumberType::UInt64;
        case 'f': return ArrowNumberType::Float32;
        case 'g': return ArrowNumberType::Float64;
        case 'b': return ArrowNumberType::Bool;
        default: return std::nullopt;
    }
}

void ArrowNumbers::append(ArrowArrayOwned chunk) {
    const ArrowArray& array = *chunk;
    if (array.length < 0 || array.offset < 0 || array.null_count < -1) malformed("bad length or offset");
    if (array.length == 0) return;
    if (array.buffers == nullptr || array.n_buffers != 2 || array.buffers[1] == nullptr) malformed("buffers missing");
    const auto* validity = array.null_count == 0 ? nullptr : static_cast<const std::uint8_t*>(array.buffers[0]);
    if (validity == nullptr && array.null_count > 0) malformed("nulls without a validity bitmap");
    chunks_.push_back(Chunk{rows_, static_cast<std::size_t>(array.length), static_cast<std::size_t>(array.offset),
                            validity, array.buffers[1]});
    rows_ += static_cast<std::size_t>(array.length);
    kept_.push_back(std::move(chunk));
}

void ArrowNumbers::write_chunk(const Chunk& chunk, std::size_t from, std::size_t count, double* out) const noexcept {
    const std::size_t first = chunk.offset + from;
    switch (type_) {
        case ArrowNumberType::Int8: convert<std::int8_t>(chunk.values, first, count, out); break;
        case ArrowNumberType::UInt8: convert<std::uint8_t>(chunk.values, first, count, out); break;
        case ArrowNumberType::Int16: convert<std::int16_t>(chunk.values, first, count, out); break;
        case ArrowNumberType::UInt16: convert<std::uint16_t>(chunk.values, first, count, out); break;
        case ArrowNumberType::Int32: convert<std::int32_t>(chunk.values, first, count, out); break;
        case ArrowNumberType::UInt32: convert<std::uint32_t>(chunk.values, first, count, out); break;
        case ArrowNumberType::Int64: convert<std::int64_t>(chunk.values, first, count, out); break;
        case ArrowNumberType::UInt64: convert<std::uint64_t>(chunk.values, first, count, out); break;
        case ArrowNumberType::Float32: convert<float>(chunk.values, first, count, out); break;
        case ArrowNumberType::Float64: convert<double>(chunk.values, first, count, out); break;
        case ArrowNumberType::Bool: {
            const auto* bits = static_cast<const std::uint8_t*>(chunk.values);
            for (std::size_t i = 0; i < count; ++i) out[i] = bit(bits, first + i) ? 1.0 : 0.0;
            break;
        }
    }
    if (chunk.validity == nullptr) return;
    for (std::size_t i = 0; i < count; ++i) {
        if (!bit(chunk.validity, first + i)) out[i] = std::numeric_limits<double>::quiet_NaN();
    }
}

void ArrowNumbers::write(std::size_t begin, std::size_t end, double* out) const noexcept {
    // The chunk holding `begin`, then the chunks after it.
    auto it = std::upper_bound(chunks_.begin(), chunks_.end(), begin,
                               [](std::size_t row, const Chunk& chunk) { return row < chunk.first_row; });
    for (--it; begin < end; ++it) {
        const std::size_t from = begin - it->first_row;
        const std::size_t count = std::min(end - begin, it->length - from);
        write_chunk(*it, from, count, out);
        out += count;
        begin += count;
    }
}

}  // namespace tarnix
