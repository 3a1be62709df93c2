// Columns in Arrow memory, read through the Arrow C data interface: the
// structures producers hand over (their layout is a stable ABI), the types
// the module reads, and each chunk of a column checked against its type
// before a cell of it is read, without copying its buffers.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "core/missing_labels.hpp"

#ifndef ARROW_C_DATA_INTERFACE
#define ARROW_C_DATA_INTERFACE

// Bits of ArrowSchema::flags.
#define ARROW_FLAG_DICTIONARY_ORDERED 1  // the dictionary's order is meaningful
#define ARROW_FLAG_NULLABLE 2            // the field may hold nulls
#define ARROW_FLAG_MAP_KEYS_SORTED 4     // a map's keys are sorted within each entry

extern "C" {

// The type of an array (and of its children), without its data.
struct ArrowSchema {
    const char* format;                   // the type, as a format string ("l" int64, "u" utf8, ...)
    const char* name;                     // the field's name, or NULL
    const char* metadata;                 // binary key-value metadata, or NULL
    int64_t flags;                        // ARROW_FLAG_* bits
    int64_t n_children;                   // number of child types (nested types)
    struct ArrowSchema** children;        // the child types
    struct ArrowSchema* dictionary;       // the values' type when the array is dictionary-encoded, else NULL
    void (*release)(struct ArrowSchema*); // frees it; NULL once released
    void* private_data;                   // the producer's own
};

// The data of one array: buffers laid out as its type says.
struct ArrowArray {
    int64_t length;                       // number of cells
    int64_t null_count;                   // number of null cells, or -1 when not computed
    int64_t offset;                       // the first cell's index in the buffers (a slice)
    int64_t n_buffers;                    // number of buffers, as the type lays them out
    int64_t n_children;                   // number of child arrays (nested types)
    const void** buffers;                 // the buffers; buffers[0] is the validity bitmap (NULL: no nulls)
    struct ArrowArray** children;         // the child arrays
    struct ArrowArray* dictionary;        // the values when dictionary-encoded, else NULL
    void (*release)(struct ArrowArray*);  // frees it; NULL once released
    void* private_data;                   // the producer's own
};

}  // extern "C"

#endif  // ARROW_C_DATA_INTERFACE

#ifndef ARROW_C_STREAM_INTERFACE
#define ARROW_C_STREAM_INTERFACE

extern "C" {

// A sequence of arrays of one type (the chunks of a column).
struct ArrowArrayStream {
    int (*get_schema)(struct ArrowArrayStream*, struct ArrowSchema* out);  // the type; 0 or an errno
    int (*get_next)(struct ArrowArrayStream*, struct ArrowArray* out);     // the next array, released
                                                                           // (release NULL) at the end
    const char* (*get_last_error)(struct ArrowArrayStream*);  // what the last failing call met, or NULL
    void (*release)(struct ArrowArrayStream*);                // frees it; NULL once released
    void* private_data;                                       // the producer's own
};

}  // extern "C"

#endif  // ARROW_C_STREAM_INTERFACE

namespace tarnix {

// Owns what a producer handed over and releases it once.
template <class T>
class ArrowOwned {
public:
    ArrowOwned() noexcept = default;
    ArrowOwned(ArrowOwned&& other) noexcept : value_(std::exchange(other.value_, T{})) {}
    ArrowOwned& operator=(ArrowOwned&& other) noexcept {
        ArrowOwned(std::move(other)).swap(*this);
        return *this;
    }
    ~ArrowOwned() {
        if (value_.release != nullptr) value_.release(&value_);
    }

    T* get() noexcept { return &value_; }
    const T& operator*() const noexcept { return value_; }
    const T* operator->() const noexcept { return &value_; }
    bool empty() const noexcept { return value_.release == nullptr; }
    void swap(ArrowOwned& other) noexcept { std::swap(value_, other.value_); }

private:
    T value_{};
};

using ArrowSchemaOwned = ArrowOwned<ArrowSchema>;
using ArrowArrayOwned = ArrowOwned<ArrowArray>;

// The types read, by format string: "b" bool (one bit a cell), "c" "C" "s"
// "S" "i" "I" "l" "L" signed and unsigned integers of 8 to 64 bits, "e" "f"
// "g" floats of 16, 32 and 64 bits, "u" "U" strings with 32- and 64-bit
// offsets, "vu" strings as 16-byte views into variadic buffers.
enum class ArrowType : std::uint8_t {
    Bool, Int8, UInt8, Int16, UInt16, Int32, UInt32, Int64, UInt64, Float16, Float32, Float64,
    String, LargeString, StringView,
};

// The type of a schema's arrays, when it is one of those and the arrays are
// plain (not dictionary-encoded, no children).
std::optional<ArrowType> arrow_type(const ArrowSchema& schema) noexcept;
bool is_text(ArrowType type) noexcept;

// How the null cells of a text column are labelled. A column whose nulls are
// NaN numbers stays numeric until its first string, so nulls before it are
// the rendered number "NaN" and nulls after it str(nan), "nan"; a column
// whose nulls are pandas.NA labels every one "<NA>".
struct NullLabels {
    bool numeric_nan = false;
    bool seen_text = false;  // a valid string was met already

    std::string_view next() noexcept {
        if (!numeric_nan) return kNaLabel;
        return seen_text ? kStrNanLabel : kNanLabel;
    }
};

// One array of a column, checked against the column's type when it is made:
// its length and offset are sane, the buffers its cells need are there (an
// empty array needs none) and nulls have a bitmap. A text cell's bounds are
// checked as it is read (the interface gives no data buffer's size). The view
// lives as long as the array's buffers.
class ArrowChunk {
public:
    // A malformed array is a fatal error.
    ArrowChunk(const ArrowArray& array, ArrowType type);

    ArrowType type() const noexcept { return type_; }
    std::size_t length() const noexcept { return static_cast<std::size_t>(length_); }
    bool is_valid(std::size_t row) const noexcept {
        const auto at = static_cast<std::uint64_t>(offset_) + row;
        return validity_ == nullptr || ((validity_[at >> 3] >> (at & 7)) & 1) != 0;
    }

    // Number types: cells [begin, end) as doubles into out[0, end - begin):
    // true 1.0, false 0.0, integers rounded as NumPy casts them, nulls NaN.
    void read_numbers(std::size_t begin, std::size_t end, double* out) const noexcept;

    // Text types: a view of every cell appended to `out`, in row order, the
    // null cells labelled by `nulls`. A malformed cell is a fatal error.
    void append_texts(NullLabels& nulls, std::vector<std::string_view>& out) const;

    // Text types: f(row, label) for every cell in [begin, end), label viewing
    // the cell's text or nullptr for a null cell. A malformed cell is a fatal
    // error.
    template <class F>
    void visit_texts(std::size_t begin, std::size_t end, F&& f) const;
    // Text types: fetches ahead what visiting cell `row` reads first (its
    // validity bit, and its offsets or its view).
    void prefetch_text(std::size_t row) const noexcept {
        const auto at = static_cast<std::uint64_t>(offset_) + row;
        if (validity_ != nullptr) __builtin_prefetch(validity_ + (at >> 3));
        const std::size_t width = type_ == ArrowType::String ? 4 : type_ == ArrowType::LargeString ? 8 : 16;
        __builtin_prefetch(static_cast<const char*>(values_) + at * width);
    }

    // Text types: for each row of [begin, end) whose cell is a valid label
    // of 1 to 8 bytes that one word of the buffers holds, the label's
    // short_key and length are read as that word (no view is made) and
    // looked up: find(key, size) gives a number, or kNotFound, and then
    // out[row - begin] = values[number]. Every other row (null, empty,
    // longer, not found) goes, as row - begin, to others[0, count), for
    // visit_texts to read; returns count. Rows of a chunk without nulls are
    // not checked for one.
    static constexpr std::uint32_t kNotFound = ~std::uint32_t{0};
    template <class Find>
    std::size_t map_short_labels(std::size_t begin, std::size_t end, const Find& find, const double* values,
                                 double* out, std::uint32_t* others) const;

private:
    template <class Offset, class F>
    void visit_offset_texts(std::size_t begin, std::size_t end, F& f) const;
    template <class F>
    void visit_view_texts(std::size_t begin, std::size_t end, F& f) const;
    // Bit i: whether row + i is valid, for i < count <= 64 (a chunk with nulls).
    std::uint64_t validity_bits(std::size_t row, std::size_t count) const noexcept;
    template <class Offset, class Find>
    std::size_t map_offset_short_labels(std::size_t begin, std::size_t end, const Find& find, const double* values,
                                        double* out, std::uint32_t* others) const;
    template <class Find>
    std::size_t map_view_short_labels(std::size_t begin, std::size_t end, const Find& find, const double* values,
                                      double* out, std::uint32_t* others) const;

    ArrowType type_;
    std::int64_t length_;
    std::int64_t offset_;
    const std::uint8_t* validity_;        // nullptr when every cell is valid
    const void* values_;                  // values (bit-packed for Bool), offsets, or views
    const char* data_ = nullptr;          // strings with offsets: the bytes
    const void* const* variadic_ = nullptr;  // views: the data buffers
    const std::int64_t* variadic_sizes_ = nullptr;
    std::int64_t n_variadic_ = 0;
};

// The arrays of one column as its producer handed them over, each checked
// against the column's type. Owns them: their views live as long as it does.
class ArrowChunks {
public:
    explicit ArrowChunks(ArrowType type) noexcept : type_(type) {}

    // Takes the next array; a malformed one is a fatal error.
    void add(ArrowArrayOwned array) {
        chunks_.emplace_back(*array, type_);
        starts_.push_back(length_);
        length_ += chunks_.back().length();
        arrays_.push_back(std::move(array));
    }

    // The column's cells [begin, end), across its chunks: as ArrowChunk's
    // read_numbers and visit_texts (rows counted from the column's first).
    void read_numbers(std::size_t begin, std::size_t end, double* out) const noexcept {
        for_each_part(begin, end, [&](const ArrowChunk& chunk, std::size_t, std::size_t from, std::size_t to) {
            chunk.read_numbers(from, to, out);
            out += to - from;
        });
    }
    template <class F>
    void visit_texts(std::size_t begin, std::size_t end, F&& f) const {
        for_each_part(begin, end, [&](const ArrowChunk& chunk, std::size_t start, std::size_t from, std::size_t to) {
            chunk.visit_texts(from, to, [&](std::size_t row, const std::string_view* label) { f(start + row, label); });
        });
    }
    template <class Find>
    std::size_t map_short_labels(std::size_t begin, std::size_t end, const Find& find, const double* values,
                                 double* out, std::uint32_t* others) const {
        std::size_t count = 0;
        for_each_part(begin, end, [&](const ArrowChunk& chunk, std::size_t start, std::size_t from, std::size_t to) {
            const std::size_t before = count;
            const std::size_t at = start + from - begin;
            count += chunk.map_short_labels(from, to, find, values, out + at, others + before);
            for (std::size_t i = before; i < count; ++i) others[i] += static_cast<std::uint32_t>(at);
        });
        return count;
    }

    ArrowType type() const noexcept { return type_; }
    const std::vector<ArrowChunk>& chunks() const noexcept { return chunks_; }
    std::size_t length() const noexcept { return length_; }  // cells in all chunks

private:
    // part(chunk, its first row, from, to) for the part [from, to) of each
    // chunk that [begin, end) covers, in order.
    template <class Part>
    void for_each_part(std::size_t begin, std::size_t end, Part&& part) const {
        std::size_t k = static_cast<std::size_t>(std::upper_bound(starts_.begin(), starts_.end(), begin) - starts_.begin());
        for (k = k == 0 ? 0 : k - 1; begin < end && k < chunks_.size(); ++k) {
            const std::size_t to = std::min(chunks_[k].length(), end - starts_[k]);
            if (begin - starts_[k] < to) part(chunks_[k], starts_[k], begin - starts_[k], to);
            begin = starts_[k] + to;
        }
    }

    ArrowType type_;
    std::size_t length_ = 0;
    std::vector<ArrowChunk> chunks_;
    std::vector<std::size_t> starts_;  // the first row of each chunk
    std::vector<ArrowArrayOwned> arrays_;
};

[[noreturn]] void malformed_arrow(const char* what);

template <class Offset, class F>
void ArrowChunk::visit_offset_texts(std::size_t begin, std::size_t end, F& f) const {
    const auto* offsets = static_cast<const Offset*>(values_) + offset_;
    for (std::size_t row = begin; row < end; ++row) {
        const Offset first = offsets[row];
        const Offset last = offsets[row + 1];
        if (last < first) malformed_arrow("offsets decrease");
        if (!is_valid(row)) {
            f(row, static_cast<const std::string_view*>(nullptr));
            continue;
        }
        const std::string_view label(last == first ? "" : data_ + first, static_cast<std::size_t>(last - first));
        f(row, &label);
    }
}

template <class F>
void ArrowChunk::visit_view_texts(std::size_t begin, std::size_t end, F& f) const {
    const auto* views = static_cast<const char*>(values_) + offset_ * 16;
    for (std::size_t row = begin; row < end; ++row) {
        if (!is_valid(row)) {
            f(row, static_cast<const std::string_view*>(nullptr));
            continue;
        }
        const char* view = views + row * 16;
        std::int32_t size;
        std::memcpy(&size, view, 4);
        if (size < 0) malformed_arrow("negative length");
        if (size <= 12) {
            const std::string_view label(view + 4, static_cast<std::size_t>(size));
            f(row, &label);
            continue;
        }
        std::int32_t buffer, offset;
        std::memcpy(&buffer, view + 8, 4);
        std::memcpy(&offset, view + 12, 4);
        if (buffer < 0 || buffer >= n_variadic_ || offset < 0 || offset + std::int64_t{size} > variadic_sizes_[buffer] ||
            variadic_[buffer] == nullptr) {
            malformed_arrow("view out of range");
        }
        const std::string_view label(static_cast<const char*>(variadic_[buffer]) + offset, static_cast<std::size_t>(size));
        f(row, &label);
    }
}

// The 8 bytes at p, the first lowest.
inline std::uint64_t load_little_endian(const char* p) noexcept {
    std::uint64_t word;
    std::memcpy(&word, p, 8);
    if constexpr (std::endian::native == std::endian::big) word = __builtin_bswap64(word);
    return word;
}

namespace arrow_detail {

// The loops of map_short_labels over the cells of offsets `at` to `stop` (of
// a chunk whose offsets start at `first`): everything they use is a
// parameter, so that it stays in a register. With `Check`, bit i of `valid`
// tells whether the i-th row is valid. A cell's word is read only where the
// chunk's offsets say its data lies: `ends` is its last offset - 7, or 0
// when that is under 8.
template <bool Check, class Offset, class Find>
[[gnu::always_inline]] inline std::uint32_t* map_offset_run(const Offset* at, const Offset* stop, const Offset* first,
                                                            const char* data, std::make_unsigned_t<Offset> ends,
                                                            Find find, const double* values, double* out,
                                                            std::uint64_t valid, std::uint32_t* other) {
    using Size = std::make_unsigned_t<Offset>;
    for (; at != stop; ++at, ++out) {
        const Offset last = at[1];
        const auto size = static_cast<Size>(static_cast<Size>(last) - static_cast<Size>(at[0]));
        // A label of 1 to 8 bytes ends a word that lies in the data (from
        // byte 0 to the chunk's last offset): the word's high bytes are the
        // label. Decreasing offsets are left to visit_texts.
        bool short_label = size - 1 < 8 && static_cast<Size>(static_cast<Size>(last) - 8) < ends;
        if constexpr (Check) {
            short_label = short_label && (valid & 1) != 0;
            valid >>= 1;
        }
        if (short_label) [[likely]] {
            const std::uint32_t number =
                find(load_little_endian(data + last - 8) >> (64 - 8 * size), static_cast<std::uint32_t>(size));
            if (number != ArrowChunk::kNotFound) [[likely]] {
                *out = values[number];
                continue;
            }
        }
        *other++ = static_cast<std::uint32_t>(at - first);
    }
    return other;
}

template <bool Check, class Find>
[[gnu::always_inline]] inline std::uint32_t* map_view_run(const char* at, const char* stop, const char* first,
                                                          Find find, const double* values, double* out,
                                                          std::uint64_t valid, std::uint32_t* other) {
    for (; at != stop; at += 16, ++out) {
        std::uint32_t size;
        std::memcpy(&size, at, 4);
        // A label of up to 12 bytes lies in the view, from its fifth byte on.
        bool short_label = size - 1 < 8;
        if constexpr (Check) {
            short_label = short_label && (valid & 1) != 0;
            valid >>= 1;
        }
        if (short_label) [[likely]] {
            const std::uint32_t number = find(load_little_endian(at + 4) & (~std::uint64_t{0} >> (64 - 8 * size)), size);
            if (number != ArrowChunk::kNotFound) [[likely]] {
                *out = values[number];
                continue;
            }
        }
        *other++ = static_cast<std::uint32_t>((at - first) / 16);
    }
    return other;
}

}  // namespace arrow_detail

// A chunk with nulls is read 64 rows at a time, their validity one word;
// when every one is valid, without looking at it.
template <class Offset, class Find>
std::size_t ArrowChunk::map_offset_short_labels(std::size_t begin, std::size_t end, const Find& find,
                                                const double* values, double* out, std::uint32_t* others) const {
    using Size = std::make_unsigned_t<Offset>;
    const Offset* const first = static_cast<const Offset*>(values_) + offset_ + begin;
    const Offset last = static_cast<const Offset*>(values_)[offset_ + length_];
    const Size ends = last >= 8 ? static_cast<Size>(last) - 7 : 0;
    const std::size_t rows = end - begin;
    std::uint32_t* other = others;
    if (validity_ == nullptr) {
        other = arrow_detail::map_offset_run<false>(first, first + rows, first, data_, ends, find, values, out, 0, other);
        return static_cast<std::size_t>(other - others);
    }
    for (std::size_t row = 0; row < rows; row += 64) {
        const std::size_t count = std::min<std::size_t>(64, rows - row);
        const std::uint64_t valid = validity_bits(begin + row, count);
        other = valid == ~std::uint64_t{0} >> (64 - count)
                    ? arrow_detail::map_offset_run<false>(first + row, first + row + count, first, data_, ends, find,
                                                          values, out + row, 0, other)
                    : arrow_detail::map_offset_run<true>(first + row, first + row + count, first, data_, ends, find,
                                                         values, out + row, valid, other);
    }
    return static_cast<std::size_t>(other - others);
}

template <class Find>
std::size_t ArrowChunk::map_view_short_labels(std::size_t begin, std::size_t end, const Find& find,
                                              const double* values, double* out, std::uint32_t* others) const {
    const char* const first = static_cast<const char*>(values_) + (offset_ + static_cast<std::int64_t>(begin)) * 16;
    const std::size_t rows = end - begin;
    std::uint32_t* other = others;
    for (std::size_t row = 0; row < rows; row += 64) {
        const std::size_t count = std::min<std::size_t>(64, rows - row);
        const std::uint64_t valid = validity_ == nullptr ? ~std::uint64_t{0} : validity_bits(begin + row, count);
        other = valid == ~std::uint64_t{0} >> (64 - count)
                    ? arrow_detail::map_view_run<false>(first + row * 16, first + (row + count) * 16, first, find,
                                                        values, out + row, 0, other)
                    : arrow_detail::map_view_run<true>(first + row * 16, first + (row + count) * 16, first, find,
                                                       values, out + row, valid, other);
    }
    return static_cast<std::size_t>(other - others);
}

template <class Find>
std::size_t ArrowChunk::map_short_labels(std::size_t begin, std::size_t end, const Find& find, const double* values,
                                         double* out, std::uint32_t* others) const {
    if (begin >= end) return 0;
    switch (type_) {
        case ArrowType::String: return map_offset_short_labels<std::int32_t>(begin, end, find, values, out, others);
        case ArrowType::LargeString: return map_offset_short_labels<std::int64_t>(begin, end, find, values, out, others);
        case ArrowType::StringView: return map_view_short_labels(begin, end, find, values, out, others);
        default: malformed_arrow("text read from an array of numbers");
    }
}

template <class F>
void ArrowChunk::visit_texts(std::size_t begin, std::size_t end, F&& f) const {
    if (begin >= end) return;
    switch (type_) {
        case ArrowType::String: return visit_offset_texts<std::int32_t>(begin, end, f);
        case ArrowType::LargeString: return visit_offset_texts<std::int64_t>(begin, end, f);
        case ArrowType::StringView: return visit_view_texts(begin, end, f);
        default: malformed_arrow("text read from an array of numbers");
    }
}

}  // namespace tarnix
