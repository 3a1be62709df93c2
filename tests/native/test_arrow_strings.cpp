// Views of the cells of Arrow string arrays built here by hand: both offset
// widths and the view layout, array offsets, validity bitmaps, the labels of
// null cells across the chunks of one column, and malformed arrays.
#include "core/arrow_strings.hpp"
#include "core/fatal.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tarnix {
namespace {

using Cell = std::optional<std::string>;
using Labels = std::vector<std::string>;
const Cell Null = std::nullopt;

// One array and the buffers it points into.
struct Built {
    std::vector<std::uint8_t> validity;
    std::string slots;              // the offsets, or the 16-byte views
    std::vector<std::string> data;  // the data buffer, or the variadic buffers of the views
    std::vector<std::int64_t> sizes;
    std::vector<const void*> buffers;
    ArrowArray array{};

    template <class T>
    void put(std::size_t at, T value) { std::memcpy(slots.data() + at, &value, sizeof value); }
};

template <class Offset>
void lay_out_offsets(Built& b, const std::vector<Cell>& cells) {
    b.data.emplace_back();
    b.slots.resize((cells.size() + 1) * sizeof(Offset));
    for (std::size_t i = 0; i < cells.size(); ++i) {
        if (cells[i]) b.data[0] += *cells[i];
        b.put((i + 1) * sizeof(Offset), static_cast<Offset>(b.data[0].size()));
    }
}

// Strings of more than 12 bytes go to two variadic buffers in turn, the
// second starting after a few bytes of its own.
void lay_out_views(Built& b, const std::vector<Cell>& cells) {
    b.slots.resize(cells.size() * 16);
    std::int32_t long_strings = 0;
    for (std::size_t i = 0; i < cells.size(); ++i) {
        const std::string text = cells[i].value_or("");
        b.put(i * 16, static_cast<std::int32_t>(text.size()));
        if (text.size() <= 12) {
            std::memcpy(b.slots.data() + i * 16 + 4, text.data(), text.size());
            continue;
        }
        if (b.data.size() < 2) b.data = {"", "pad"};
        const std::int32_t buffer = long_strings++ % 2;
        std::memcpy(b.slots.data() + i * 16 + 4, text.data(), 4);
        b.put(i * 16 + 8, buffer);
        b.put(i * 16 + 12, static_cast<std::int32_t>(b.data[buffer].size()));
        b.data[buffer] += text;
    }
}

// An array of `cells` at array offset `offset`: the buffers start with that
// many cells of their own, alternately "pad" and null.
std::unique_ptr<Built> build(StringLayout layout, std::vector<Cell> cells, std::int64_t offset) {
    auto b = std::make_unique<Built>();
    std::vector<Cell> all;
    for (std::int64_t i = 0; i < offset; ++i) all.push_back(i % 2 ? Null : Cell("pad"));
    all.insert(all.end(), cells.begin(), cells.end());
    std::int64_t nulls = 0;
    b->validity.assign(all.size() / 8 + 1, 0);
    for (std::size_t i = 0; i < all.size(); ++i) {
        if (all[i]) b->validity[i / 8] |= static_cast<std::uint8_t>(1u << (i % 8));
        if (!all[i] && static_cast<std::int64_t>(i) >= offset) ++nulls;
    }
    switch (layout) {
        case StringLayout::Offsets32: lay_out_offsets<std::int32_t>(*b, all); break;
        case StringLayout::Offsets64: lay_out_offsets<std::int64_t>(*b, all); break;
        case StringLayout::Views: lay_out_views(*b, all); break;
    }
    const bool any_null = std::any_of(all.begin(), all.end(), [](const Cell& c) { return !c; });
    b->buffers = {any_null ? b->validity.data() : nullptr, b->slots.data()};
    for (const std::string& data : b->data) b->buffers.push_back(data.empty() ? nullptr : data.data());
    if (layout == StringLayout::Views) {
        for (const std::string& data : b->data) b->sizes.push_back(static_cast<std::int64_t>(data.size()));
        b->buffers.push_back(b->sizes.empty() ? nullptr : b->sizes.data());
    }
    b->array.length = static_cast<std::int64_t>(cells.size());
    b->array.null_count = nulls;
    b->array.offset = offset;
    b->array.n_buffers = static_cast<std::int64_t>(b->buffers.size());
    b->array.buffers = b->buffers.data();
    return b;
}

struct Chunk {
    std::vector<Cell> cells;
    std::int64_t offset = 0;
};

struct Case {
    const char* name;
    const char* format;
    bool numeric_nan;
    std::vector<Chunk> chunks;  // read in turn into one column
    std::optional<Labels> labels;  // nothing: the read is fatal
    void (*alter)(Built&) = nullptr;  // applied to every chunk once it is built
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

class AppendStringViews : public ::testing::TestWithParam<Case> {};

TEST_P(AppendStringViews, LabelsOfEveryCell) {
    const Case& c = GetParam();
    const std::optional<StringLayout> layout = string_layout(c.format);
    ASSERT_TRUE(layout) << c.format;
    NullLabels nulls{c.numeric_nan};
    std::vector<std::string_view> views;
    std::vector<std::unique_ptr<Built>> built;
    auto read = [&] {
        for (const Chunk& chunk : c.chunks) {
            built.push_back(build(*layout, chunk.cells, chunk.offset));
            if (c.alter != nullptr) c.alter(*built.back());
            append_string_views(built.back()->array, *layout, nulls, views);
        }
    };
    if (!c.labels) {
        EXPECT_THROW(read(), Panic);
        return;
    }
    read();
    EXPECT_EQ(Labels(views.begin(), views.end()), *c.labels);
}

const std::string kLong = "thirteen byte";  // one byte past the inline views

const Case kCases[] = {
    {"offsets32_nulls_before_and_after_text", "u", true,
     {{{Null, "a", "", Null, "é", "😀", Null}, 9}}, Labels{"NaN", "a", "", "nan", "é", "😀", "nan"}},
    {"offsets64_nulls_are_NA", "U", false, {{{Null, "a", Null}, 3}}, Labels{"<NA>", "a", "<NA>"}},
    {"views_inline_and_in_two_buffers", "vu", true,
     {{{Null, "", "twelve bytes", kLong, Null, "é😀 out of line", "x", kLong + "!"}, 5}},
     Labels{"NaN", "", "twelve bytes", kLong, "nan", "é😀 out of line", "x", kLong + "!"}},
    {"no_bitmap_and_no_data", "u", true, {{{"", ""}, 0}}, Labels{"", ""}},
    {"nulls_across_chunks", "U", true, {{{Null, Null}, 0}, {{Null, "a", Null}, 1}, {{Null}, 0}},
     Labels{"NaN", "NaN", "NaN", "a", "nan", "nan"}},
    {"views_nulls_are_NA", "vu", false, {{{kLong, Null}, 0}}, Labels{kLong, "<NA>"}},
    // Arrow lets an empty array leave its offsets or views out
    {"empty_without_offsets", "u", true, {{{}, 0}}, Labels{},
     [](Built& b) { b.buffers[1] = b.buffers[2] = nullptr; }},
    {"empty_without_views", "vu", true, {{{}, 0}}, Labels{}, [](Built& b) { b.buffers[1] = nullptr; }},
    {"offsets_decrease", "u", true, {{{"ab", "cd", "ef"}, 0}}, std::nullopt,
     [](Built& b) { b.put<std::int32_t>(2 * 4, 1); }},
    {"nulls_without_bitmap", "U", true, {{{"a", Null}, 0}}, std::nullopt,
     [](Built& b) { b.buffers[0] = nullptr; }},
    {"view_past_its_buffer", "vu", true, {{{kLong, "b", kLong}, 0}}, std::nullopt,
     [](Built& b) { b.sizes[0] -= 1; }},
    {"view_of_a_missing_buffer", "vu", true, {{{kLong}, 0}}, std::nullopt,
     [](Built& b) { b.put<std::int32_t>(8, 2); }},
};

INSTANTIATE_TEST_SUITE_P(Arrays, AppendStringViews, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tarnix
