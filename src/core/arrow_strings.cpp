#include "core/arrow_strings.hpp"

#include <string>

#include "core/fatal.hpp"

namespace tarnix {

void malformed_strings(const char* what) { panic(std::string("an Arrow string array is malformed: ") + what); }

std::optional<StringLayout> string_layout(const char* format) noexcept {
    if (format == nullptr) return std::nullopt;
    const std::string_view f(format);
    if (f == "u") return StringLayout::Offsets32;
    if (f == "U") return StringLayout::Offsets64;
    if (f == "vu") return StringLayout::Views;
    return std::nullopt;
}

void check_string_array(const ArrowArray& array, StringLayout layout) {
    if (array.length < 0 || array.offset < 0) malformed_strings("bad length or offset");
    // An empty array may leave out even the buffers it would need.
    if (array.length == 0) return;
    if (array.buffers == nullptr) malformed_strings("buffers missing");
    if (array.null_count != 0 && array.buffers[0] == nullptr) malformed_strings("nulls without a validity bitmap");
    if (layout == StringLayout::Views) {
        if (array.n_buffers < 3 || array.buffers[1] == nullptr) malformed_strings("views missing");
        if (array.n_buffers > 3 && array.buffers[array.n_buffers - 1] == nullptr) {
            malformed_strings("buffer sizes missing");
        }
        return;
    }
    if (array.n_buffers != 3 || array.buffers[1] == nullptr) malformed_strings("offsets missing");
    auto check = [&](auto first, auto last) {
        if (first < 0 || (array.buffers[2] == nullptr && last != first)) malformed_strings("offsets out of range");
    };
    const auto offset = static_cast<std::size_t>(array.offset);
    const auto length = static_cast<std::size_t>(array.length);
    if (layout == StringLayout::Offsets32) {
        const auto* offsets = static_cast<const std::int32_t*>(array.buffers[1]) + offset;
        check(offsets[0], offsets[length]);
    } else {
        const auto* offsets = static_cast<const std::int64_t*>(array.buffers[1]) + offset;
        check(offsets[0], offsets[length]);
    }
}

void append_string_views(const ArrowArray& array, StringLayout layout, NullLabels& nulls,
                         std::vector<std::string_view>& out) {
    check_string_array(array, layout);
    visit_strings(array, layout, 0, static_cast<std::size_t>(array.length),
                  [&](std::size_t, const std::string_view* label) {
                      if (label == nullptr) return out.push_back(nulls.next());
                      nulls.seen_text = true;
                      out.push_back(*label);
                  });
}

}  // namespace tarnix
