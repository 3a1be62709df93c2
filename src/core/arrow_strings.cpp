#include "core/arrow_strings.hpp"

#include <cstring>

#include "core/fatal.hpp"

namespace tarnix {

namespace {

[[noreturn]] void malformed(const char* what) { panic(std::string("an Arrow string array is malformed: ") + what); }

// The validity bitmap, or nullptr when every cell is valid.
const std::uint8_t* validity_of(const ArrowArray& array) {
    if (array.null_count == 0) return nullptr;
    const auto* validity = static_cast<const std::uint8_t*>(array.buffers[0]);
    if (validity == nullptr && array.null_count > 0) malformed("nulls without a validity bitmap");
    return validity;
}

bool is_valid(const std::uint8_t* validity, std::int64_t index) noexcept {
    return validity == nullptr || ((validity[index >> 3] >> (index & 7)) & 1) != 0;
}

template <class Offset>
void append_offset_strings(const ArrowArray& array, NullLabels& nulls, std::vector<std::string_view>& out) {
    if (array.n_buffers != 3 || array.buffers[1] == nullptr) malformed("offsets missing");
    const auto* validity = validity_of(array);
    const auto* offsets = static_cast<const Offset*>(array.buffers[1]) + array.offset;
    const auto* data = static_cast<const char*>(array.buffers[2]);
    if (offsets[0] < 0 || (data == nullptr && offsets[array.length] != offsets[0])) malformed("offsets out of range");
    for (std::int64_t row = 0; row < array.length; ++row) {
        const Offset begin = offsets[row];
        const Offset end = offsets[row + 1];
        if (end < begin) malformed("offsets decrease");
        if (!is_valid(validity, array.offset + row)) {
            out.push_back(nulls.next());
            continue;
        }
        nulls.seen_text = true;
        out.emplace_back(end == begin ? "" : data + begin, static_cast<std::size_t>(end - begin));
    }
}

void append_view_strings(const ArrowArray& array, NullLabels& nulls, std::vector<std::string_view>& out) {
    if (array.n_buffers < 3 || array.buffers[1] == nullptr) malformed("views missing");
    const std::int64_t data_buffers = array.n_buffers - 3;
    const auto* sizes = static_cast<const std::int64_t*>(array.buffers[array.n_buffers - 1]);
    if (data_buffers > 0 && sizes == nullptr) malformed("buffer sizes missing");
    const auto* validity = validity_of(array);
    const auto* views = static_cast<const char*>(array.buffers[1]) + array.offset * 16;
    for (std::int64_t row = 0; row < array.length; ++row) {
        if (!is_valid(validity, array.offset + row)) {
            out.push_back(nulls.next());
            continue;
        }
        nulls.seen_text = true;
        const char* view = views + row * 16;
        std::int32_t size;
        std::memcpy(&size, view, 4);
        if (size < 0) malformed("negative length");
        if (size <= 12) {
            out.emplace_back(view + 4, static_cast<std::size_t>(size));
            continue;
        }
        std::int32_t buffer, offset;
        std::memcpy(&buffer, view + 8, 4);
        std::memcpy(&offset, view + 12, 4);
        if (buffer < 0 || buffer >= data_buffers || offset < 0 || offset + std::int64_t{size} > sizes[buffer] ||
            array.buffers[2 + buffer] == nullptr) {
            malformed("view out of range");
        }
        out.emplace_back(static_cast<const char*>(array.buffers[2 + buffer]) + offset, static_cast<std::size_t>(size));
    }
}

}  // namespace

std::optional<StringLayout> string_layout(const char* format) noexcept {
    if (format == nullptr) return std::nullopt;
    const std::string_view f(format);
    if (f == "u") return StringLayout::Offsets32;
    if (f == "U") return StringLayout::Offsets64;
    if (f == "vu") return StringLayout::Views;
    return std::nullopt;
}

void append_string_views(const ArrowArray& array, StringLayout layout, NullLabels& nulls,
                         std::vector<std::string_view>& out) {
    if (array.length < 0 || array.offset < 0) malformed("bad length or offset");
    // An empty array may leave out even the buffers it would need.
    if (array.length == 0) return;
    if (array.buffers == nullptr) malformed("buffers missing");
    switch (layout) {
        case StringLayout::Offsets32: return append_offset_strings<std::int32_t>(array, nulls, out);
        case StringLayout::Offsets64: return append_offset_strings<std::int64_t>(array, nulls, out);
        case StringLayout::Views: return append_view_strings(array, nulls, out);
    }
}

}  // namespace tarnix
