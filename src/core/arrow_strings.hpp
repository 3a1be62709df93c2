// String columns in Arrow memory, read through the Arrow C data interface:
// the structures producers hand over (their layout is a stable ABI) and views
// of every cell of a string array, without copying its text.
#pragma once

#include <cstddef>
#include <cstdint>
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

// Appends a view of every cell of `array` (a string array of `layout`) to
// `out`, in row order, honouring its offset and validity bitmap. The views
// live as long as the array. A malformed array is a fatal error.
void append_string_views(const ArrowArray& array, StringLayout layout, NullLabels& nulls,
                         std::vector<std::string_view>& out);

}  // namespace tarnix
