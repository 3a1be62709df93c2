#include "core/arrow_arrays.hpp"

#include <cstring>
#include <limits>
#include <string>

#include "core/fatal.hpp"
#include "core/numbers.hpp"

namespace tarnix {

void malformed_arrow(const char* what) { panic(std::string("an Arrow array is malformed: ") + what); }

namespace {

[[noreturn]] void malformed(const char* what) { malformed_arrow(what); }

// The byte width of a fixed-width number type's values (0 for Bool: bits).
std::size_t value_width(ArrowType type) noexcept {
    switch (type) {
        case ArrowType::Int8: case ArrowType::UInt8: return 1;
        case ArrowType::Int16: case ArrowType::UInt16: case ArrowType::Float16: return 2;
        case ArrowType::Int32: case ArrowType::UInt32: case ArrowType::Float32: return 4;
        case ArrowType::Int64: case ArrowType::UInt64: case ArrowType::Float64: return 8;
        default: return 0;
    }
}

NumberRunLoader loader_of(ArrowType type) noexcept {
    switch (type) {
        case ArrowType::Int8: return load_run_as_double<std::int8_t>;
        case ArrowType::UInt8: return load_run_as_double<std::uint8_t>;
        case ArrowType::Int16: return load_run_as_double<std::int16_t>;
        case ArrowType::UInt16: return load_run_as_double<std::uint16_t>;
        case ArrowType::Int32: return load_run_as_double<std::int32_t>;
        case ArrowType::UInt32: return load_run_as_double<std::uint32_t>;
        case ArrowType::Int64: return load_run_as_double<std::int64_t>;
        case ArrowType::UInt64: return load_run_as_double<std::uint64_t>;
        case ArrowType::Float16: return load_run_half;
        case ArrowType::Float32: return load_run_as_double<float>;
        case ArrowType::Float64: return load_run_as_double<double>;
        default: return nullptr;
    }
}

// Buffers a non-empty array of the type has: validity, then values,
// offsets or views, then the data (at least this many for views: their
// variadic data buffers and their sizes follow).
std::int64_t buffer_count(ArrowType type) noexcept {
    return type == ArrowType::String || type == ArrowType::LargeString || type == ArrowType::StringView ? 3 : 2;
}

template <class Offset>
void check_offsets(const void* offsets_buffer, std::int64_t offset, std::int64_t length, const char* data) {
    const auto* offsets = static_cast<const Offset*>(offsets_buffer) + offset;
    if (offsets[0] < 0 || (data == nullptr && offsets[length] != offsets[0])) malformed("offsets out of range");
}

}  // namespace

std::optional<ArrowType> arrow_type(const ArrowSchema& schema) noexcept {
    if (schema.format == nullptr || schema.dictionary != nullptr || schema.n_children != 0) return std::nullopt;
    static constexpr std::pair<std::string_view, ArrowType> kFormats[] = {
        {"b", ArrowType::Bool},     {"c", ArrowType::Int8},       {"C", ArrowType::UInt8},
        {"s", ArrowType::Int16},    {"S", ArrowType::UInt16},     {"i", ArrowType::Int32},
        {"I", ArrowType::UInt32},   {"l", ArrowType::Int64},      {"L", ArrowType::UInt64},
        {"e", ArrowType::Float16},  {"f", ArrowType::Float32},    {"g", ArrowType::Float64},
        {"u", ArrowType::String},   {"U", ArrowType::LargeString}, {"vu", ArrowType::StringView},
    };
    const std::string_view format(schema.format);
    for (const auto& [name, type] : kFormats) {
        if (format == name) return type;
    }
    return std::nullopt;
}

bool is_text(ArrowType type) noexcept { return buffer_count(type) == 3; }

ArrowChunk::ArrowChunk(const ArrowArray& array, ArrowType type)
    : type_(type), length_(array.length), offset_(array.offset), validity_(nullptr), values_(nullptr) {
    if (array.length < 0 || array.offset < 0 ||
        array.offset > std::numeric_limits<std::int64_t>::max() - array.length) {
        malformed("bad length or offset");
    }
    // An empty array may leave out even the buffers it would need.
    if (array.length == 0) return;
    const std::int64_t buffers = buffer_count(type);
    if (array.buffers == nullptr || array.n_buffers < buffers ||
        (type != ArrowType::StringView && array.n_buffers != buffers) || array.buffers[1] == nullptr) {
        malformed("buffers missing");
    }
    if (array.null_count != 0) {
        validity_ = static_cast<const std::uint8_t*>(array.buffers[0]);
        if (validity_ == nullptr && array.null_count > 0) malformed("nulls without a validity bitmap");
    }
    values_ = array.buffers[1];
    switch (type) {
        case ArrowType::String:
        case ArrowType::LargeString:
            data_ = static_cast<const char*>(array.buffers[2]);
            if (type == ArrowType::String) {
                check_offsets<std::int32_t>(values_, offset_, length_, data_);
            } else {
                check_offsets<std::int64_t>(values_, offset_, length_, data_);
            }
            break;
        case ArrowType::StringView:
            n_variadic_ = array.n_buffers - 3;
            variadic_ = array.buffers + 2;
            variadic_sizes_ = static_cast<const std::int64_t*>(array.buffers[array.n_buffers - 1]);
            if (n_variadic_ > 0 && variadic_sizes_ == nullptr) malformed("buffer sizes missing");
            break;
        default: break;
    }
}

void ArrowChunk::read_numbers(std::size_t begin, std::size_t end, double* out) const noexcept {
    if (begin >= end) return;
    constexpr double kNull = std::numeric_limits<double>::quiet_NaN();
    const auto first = static_cast<std::size_t>(offset_);
    if (type_ == ArrowType::Bool) {
        const auto* bits = static_cast<const std::uint8_t*>(values_);
        for (std::size_t row = begin; row < end; ++row) {
            const std::size_t at = first + row;
            out[row - begin] = ((bits[at >> 3] >> (at & 7)) & 1) != 0 ? 1.0 : 0.0;
        }
    } else {
        // The values of null cells are read too (they are there, of any
        // value) and then overwritten: the run converts in one loop.
        const auto width = static_cast<std::ptrdiff_t>(value_width(type_));
        loader_of(type_)(static_cast<const char*>(values_) + static_cast<std::ptrdiff_t>(first + begin) * width, width,
                         end - begin, false, out);
    }
    if (validity_ == nullptr) return;
    for (std::size_t row = begin; row < end; ++row) {
        if (!is_valid(row)) out[row - begin] = kNull;
    }
}

std::uint64_t ArrowChunk::validity_bits(std::size_t row, std::size_t count) const noexcept {
    const auto at = static_cast<std::uint64_t>(offset_) + row;
    const std::uint8_t* byte = validity_ + (at >> 3);
    const unsigned skip = at & 7;
    // The bytes that hold bits [at, at + count): at most 9.
    const std::size_t bytes = (skip + count + 7) / 8;
    std::uint64_t low = 0;
    for (std::size_t i = 0; i < std::min<std::size_t>(bytes, 8); ++i) low |= std::uint64_t{byte[i]} << (8 * i);
    std::uint64_t bits = low >> skip;
    if (bytes == 9) bits |= std::uint64_t{byte[8]} << (64 - skip);
    return count == 64 ? bits : bits & ((std::uint64_t{1} << count) - 1);
}

void ArrowChunk::append_texts(NullLabels& nulls, std::vector<std::string_view>& out) const {
    visit_texts(0, length(), [&](std::size_t, const std::string_view* label) {
        if (label == nullptr) return out.push_back(nulls.next());
        nulls.seen_text = true;
        out.push_back(*label);
    });
}

}  // namespace tarnix
