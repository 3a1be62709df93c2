// String columns in Arrow memory, read through the Arrow C data interface:
// the structures producers hand over (their layout is a stable ABI) and views
// of every cell of a string array, without copying its text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#ifndef ARROW_C_DATA_INTERFACE
#define ARROW_C_DATA_INTERFACE

extern "C" {

struct ArrowSchema {
    const char* format;
    const char* name;
    const char* metadata;
    int64_t flags;
    int64_t n_children;
    struct ArrowSchema** children;
    struct ArrowSchema* dictionary;
    void (*release)(struct ArrowSchema*);
    void* private_data;
};

struct ArrowArray {
    int64_t length;
    int64_t null_count;
    int64_t offset;
    int64_t n_buffers;
    int64_t n_children;
    const void** buffers;
    struct ArrowArray** children;
    struct ArrowArray* dictionary;
    void (*release)(struct ArrowArray*);
    void* private_data;
};

}  // extern "C"

#endif  // ARROW_C_DATA_INTERFACE

#ifndef ARROW_C_STREAM_INTERFACE
#define ARROW_C_STREAM_INTERFACE

extern "C" {

struct ArrowArrayStream {
    int (*get_schema)(struct ArrowArrayStream*, struct ArrowSchema* out);
    int (*get_next)(struct ArrowArrayStream*, struct ArrowArray* out);
    const char* (*get_last_error)(struct ArrowArrayStream*);
    void (*release)(struct ArrowArrayStream*);
    void* private_data;
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

// The three string layouts: 32-bit offsets ("u"), 64-bit offsets ("U") and
// 16-byte views into variadic buffers ("vu").
enum class StringLayout { Offsets32, Offsets64, Views };
std::optional<StringLayout> string_layout(const char* format) noexcept;

// How the cells an array marks null are labelled. A column whose nulls are
// NaN numbers stays numeric until its first string, so nulls before it are
// the rendered number "NaN" and nulls after it str(nan), "nan"; a column
// whose nulls are pandas.NA labels every one "<NA>".
struct NullLabels {
    bool numeric_nan = false;
    bool seen_text = false;  // a valid string was met already

    std::string_view next() noexcept {
        if (!numeric_nan) return "<NA>";
        return seen_text ? "nan" : "NaN";
    }
};

[[noreturn]] void malformed_strings(const char* what);

// Checks what can be checked of a string array of `layout` as a whole (its
// length, offset and buffers); the rest is checked cell by cell as it is
// read. A malformed array is a fatal error.
void check_string_array(const ArrowArray& array, StringLayout layout);

// Calls f(i, label) for every cell i in [from, to) of a checked array (i
// counts from the array's first cell, after its offset): label views the
// cell's text, or is nullptr for a null cell. The views live as long as the
// array. A malformed cell is a fatal error.
template <class F>
void visit_strings(const ArrowArray& array, StringLayout layout, std::size_t from, std::size_t to, F&& f);

// Appends a view of every cell of `array` (a string array of `layout`) to
// `out`, in row order, honouring its offset and validity bitmap. The views
// live as long as the array. A malformed array is a fatal error.
void append_string_views(const ArrowArray& array, StringLayout layout, NullLabels& nulls,
                         std::vector<std::string_view>& out);

namespace arrow_detail {

inline bool is_valid(const std::uint8_t* validity, std::size_t index) noexcept {
    return validity == nullptr || ((validity[index >> 3] >> (index & 7)) & 1) != 0;
}

inline const std::uint8_t* validity_of(const ArrowArray& array) noexcept {
    return array.null_count == 0 ? nullptr : static_cast<const std::uint8_t*>(array.buffers[0]);
}

template <class Offset, class F>
void visit_offsets(const ArrowArray& array, std::size_t from, std::size_t to, F&& f) {
    const auto* validity = validity_of(array);
    const auto offset = static_cast<std::size_t>(array.offset);
    const auto* offsets = static_cast<const Offset*>(array.buffers[1]) + offset;
    const auto* data = static_cast<const char*>(array.buffers[2]);
    for (std::size_t i = from; i < to; ++i) {
        const Offset begin = offsets[i];
        const Offset end = offsets[i + 1];
        if (end < begin) malformed_strings("offsets decrease");
        if (!is_valid(validity, offset + i)) {
            f(i, static_cast<const std::string_view*>(nullptr));
            continue;
        }
        const std::string_view label(end == begin ? "" : data + begin, static_cast<std::size_t>(end - begin));
        f(i, &label);
    }
}

template <class F>
void visit_views(const ArrowArray& array, std::size_t from, std::size_t to, F&& f) {
    const std::int64_t data_buffers = array.n_buffers - 3;
    const auto* sizes = static_cast<const std::int64_t*>(array.buffers[array.n_buffers - 1]);
    const auto* validity = validity_of(array);
    const auto offset = static_cast<std::size_t>(array.offset);
    const auto* views = static_cast<const char*>(array.buffers[1]) + offset * 16;
    for (std::size_t i = from; i < to; ++i) {
        if (!is_valid(validity, offset + i)) {
            f(i, static_cast<const std::string_view*>(nullptr));
            continue;
        }
        const char* view = views + i * 16;
        std::int32_t size;
        std::memcpy(&size, view, 4);
        if (size < 0) malformed_strings("negative length");
        if (size <= 12) {
            const std::string_view label(view + 4, static_cast<std::size_t>(size));
            f(i, &label);
            continue;
        }
        std::int32_t buffer, at;
        std::memcpy(&buffer, view + 8, 4);
        std::memcpy(&at, view + 12, 4);
        if (buffer < 0 || buffer >= data_buffers || at < 0 || at + std::int64_t{size} > sizes[buffer] ||
            array.buffers[2 + buffer] == nullptr) {
            malformed_strings("view out of range");
        }
        const std::string_view label(static_cast<const char*>(array.buffers[2 + buffer]) + at,
                                     static_cast<std::size_t>(size));
        f(i, &label);
    }
}

}  // namespace arrow_detail

template <class F>
void visit_strings(const ArrowArray& array, StringLayout layout, std::size_t from, std::size_t to, F&& f) {
    if (from >= to) return;
    switch (layout) {
        case StringLayout::Offsets32: return arrow_detail::visit_offsets<std::int32_t>(array, from, to, f);
        case StringLayout::Offsets64: return arrow_detail::visit_offsets<std::int64_t>(array, from, to, f);
        case StringLayout::Views: return arrow_detail::visit_views(array, from, to, f);
    }
}

}  // namespace tarnix
