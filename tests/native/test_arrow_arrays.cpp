// Arrow arrays built here by hand, read through their checked views: the
// types read, the text of both offset widths and of the view layout, numbers
// of every width and bits, array offsets, validity bitmaps, the labels of null
// cells across the chunks of one column, and malformed arrays.
#include "core/arrow_arrays.hpp"
#include "core/arrow_many_labels.hpp"
#include "core/arrow_text.hpp"
#include "core/fatal.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
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

// A null cell holds `null_text` (a producer may leave any bytes there).
template <class Offset>
void lay_out_offsets(Built& b, const std::vector<Cell>& cells, const std::string& null_text) {
    b.data.emplace_back();
    b.slots.resize((cells.size() + 1) * sizeof(Offset));
    for (std::size_t i = 0; i < cells.size(); ++i) {
        b.data[0] += cells[i].value_or(null_text);
        b.put((i + 1) * sizeof(Offset), static_cast<Offset>(b.data[0].size()));
    }
}

// Strings of more than 12 bytes go to two variadic buffers in turn, the
// second starting after a few bytes of its own.
void lay_out_views(Built& b, const std::vector<Cell>& cells, const std::string& null_text) {
    b.slots.resize(cells.size() * 16);
    std::int32_t long_strings = 0;
    for (std::size_t i = 0; i < cells.size(); ++i) {
        const std::string text = cells[i].value_or(null_text);
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

// `offset` cells of the array's own (`pad` and null in turn), then `cells`.
template <class C>
std::vector<C> padded(const std::vector<C>& cells, std::int64_t offset, const C& pad) {
    std::vector<C> all;
    for (std::int64_t i = 0; i < offset; ++i) all.push_back(i % 2 ? C() : pad);
    all.insert(all.end(), cells.begin(), cells.end());
    return all;
}

// The array of the cells of `all` from `offset` on, its slots and data laid
// out: the validity bitmap, only if a cell is null, and the nulls counted.
template <class C>
void finish(Built& b, const std::vector<C>& all, std::int64_t offset) {
    std::int64_t nulls = 0;
    b.validity.assign(all.size() / 8 + 1, 0);
    for (std::size_t i = 0; i < all.size(); ++i) {
        if (all[i]) b.validity[i / 8] |= static_cast<std::uint8_t>(1u << (i % 8));
        if (!all[i] && static_cast<std::int64_t>(i) >= offset) ++nulls;
    }
    const bool any_null = std::any_of(all.begin(), all.end(), [](const C& c) { return !c; });
    b.buffers.insert(b.buffers.begin(), {any_null ? b.validity.data() : nullptr, b.slots.data()});
    b.array.length = static_cast<std::int64_t>(all.size()) - offset;
    b.array.null_count = nulls;
    b.array.offset = offset;
    b.array.n_buffers = static_cast<std::int64_t>(b.buffers.size());
    b.array.buffers = b.buffers.data();
}

template <class C>
struct ChunkOf {
    std::vector<C> cells;
    std::int64_t offset = 0;
};

// An array of `cells` at array offset `offset`, after that many cells of its
// own ("pad" and null in turn).
std::unique_ptr<Built> build(ArrowType type, std::vector<Cell> cells, std::int64_t offset,
                             const std::string& null_text = "") {
    auto b = std::make_unique<Built>();
    const std::vector<Cell> all = padded(cells, offset, Cell("pad"));
    switch (type) {
        case ArrowType::String: lay_out_offsets<std::int32_t>(*b, all, null_text); break;
        case ArrowType::LargeString: lay_out_offsets<std::int64_t>(*b, all, null_text); break;
        default: lay_out_views(*b, all, null_text); break;
    }
    for (const std::string& data : b->data) b->buffers.push_back(data.empty() ? nullptr : data.data());
    if (type == ArrowType::StringView) {
        for (const std::string& data : b->data) b->sizes.push_back(static_cast<std::int64_t>(data.size()));
        b->buffers.push_back(b->sizes.empty() ? nullptr : b->sizes.data());
    }
    finish(*b, all, offset);
    return b;
}

using Chunk = ChunkOf<Cell>;

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

ArrowType type_of(const char* format) {
    ArrowSchema schema{};
    schema.format = format;
    const std::optional<ArrowType> type = arrow_type(schema);
    if (!type) ADD_FAILURE() << format;
    return type.value_or(ArrowType::Bool);
}

TEST_P(AppendStringViews, LabelsOfEveryCell) {
    const Case& c = GetParam();
    const ArrowType type = type_of(c.format);
    NullLabels nulls{c.numeric_nan};
    std::vector<std::string_view> views;
    std::vector<std::unique_ptr<Built>> built;
    auto read = [&] {
        for (const Chunk& chunk : c.chunks) {
            built.push_back(build(type, chunk.cells, chunk.offset));
            if (c.alter != nullptr) c.alter(*built.back());
            ArrowChunk(built.back()->array, type).append_texts(nulls, views);
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
    {"empty_without_buffers", "U", true, {{{}, 3}}, Labels{}, [](Built& b) { b.array.buffers = nullptr; }},
    {"offsets_decrease", "u", true, {{{"ab", "cd", "ef"}, 0}}, std::nullopt,
     [](Built& b) { b.put<std::int32_t>(2 * 4, 1); }},
    {"nulls_without_bitmap", "U", true, {{{"a", Null}, 0}}, std::nullopt,
     [](Built& b) { b.buffers[0] = nullptr; }},
    {"view_past_its_buffer", "vu", true, {{{kLong, "b", kLong}, 0}}, std::nullopt,
     [](Built& b) { b.sizes[0] -= 1; }},
    {"view_of_a_missing_buffer", "vu", true, {{{kLong}, 0}}, std::nullopt,
     [](Built& b) { b.put<std::int32_t>(8, 2); }},
    {"offsets_missing", "u", true, {{{"a"}, 0}}, std::nullopt, [](Built& b) { b.buffers[1] = nullptr; }},
    {"negative_offset", "u", true, {{{"a"}, 0}}, std::nullopt, [](Built& b) { b.array.offset = -1; }},
};

INSTANTIATE_TEST_SUITE_P(Arrays, AppendStringViews, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

// --- numbers -------------------------------------------------------------------

using Number = std::optional<double>;  // as stored (Float16: its bits); nothing for a null

template <class T>
void lay_out_values(Built& b, const std::vector<Number>& cells) {
    b.slots.resize(cells.size() * sizeof(T));
    for (std::size_t i = 0; i < cells.size(); ++i) b.put(i * sizeof(T), static_cast<T>(cells[i].value_or(0)));
}

void lay_out_bits(Built& b, const std::vector<Number>& cells) {
    b.slots.assign(cells.size() / 8 + 1, '\0');
    for (std::size_t i = 0; i < cells.size(); ++i) {
        if (cells[i].value_or(0) != 0) b.slots[i / 8] = static_cast<char>(b.slots[i / 8] | (1 << (i % 8)));
    }
}

// An array of `cells` at array offset `offset`, after that many cells of its
// own (7 and null in turn).
std::unique_ptr<Built> build_numbers(ArrowType type, std::vector<Number> cells, std::int64_t offset) {
    auto b = std::make_unique<Built>();
    const std::vector<Number> all = padded(cells, offset, Number(7));
    switch (type) {
        case ArrowType::Bool: lay_out_bits(*b, all); break;
        case ArrowType::Int8: lay_out_values<std::int8_t>(*b, all); break;
        case ArrowType::UInt16: case ArrowType::Float16: lay_out_values<std::uint16_t>(*b, all); break;
        case ArrowType::UInt32: lay_out_values<std::uint32_t>(*b, all); break;
        case ArrowType::Int64: lay_out_values<std::int64_t>(*b, all); break;
        case ArrowType::Float32: lay_out_values<float>(*b, all); break;
        default: lay_out_values<double>(*b, all); break;
    }
    finish(*b, all, offset);
    return b;
}

using NumberChunk = ChunkOf<Number>;

struct NumberCase {
    const char* name;
    const char* format;
    std::vector<NumberChunk> chunks;
    std::optional<std::vector<double>> numbers;  // nothing: the array is refused
    void (*alter)(Built&) = nullptr;
};

void PrintTo(const NumberCase& c, std::ostream* os) { *os << c.name; }

class ReadNumbers : public ::testing::TestWithParam<NumberCase> {};

// Each chunk read in two pieces, the column's cells one after the other.
TEST_P(ReadNumbers, EveryCellAsADouble) {
    const NumberCase& c = GetParam();
    const ArrowType type = type_of(c.format);
    std::vector<std::unique_ptr<Built>> built;
    std::vector<double> numbers;
    auto read = [&] {
        for (const NumberChunk& chunk : c.chunks) {
            built.push_back(build_numbers(type, chunk.cells, chunk.offset));
            if (c.alter != nullptr) c.alter(*built.back());
            const ArrowChunk view(built.back()->array, type);
            const std::size_t at = numbers.size(), half = view.length() / 2;
            numbers.resize(at + view.length());
            view.read_numbers(half, view.length(), numbers.data() + at + half);
            view.read_numbers(0, half, numbers.data() + at);
        }
    };
    if (!c.numbers) {
        EXPECT_THROW(read(), Panic);
        return;
    }
    read();
    auto bits = [](const std::vector<double>& v) {
        std::vector<std::uint64_t> out;
        for (double x : v) out.push_back(std::bit_cast<std::uint64_t>(x));
        return out;
    };
    EXPECT_EQ(bits(numbers), bits(*c.numbers));
}

const double N = std::nan("");

const NumberCase kNumberCases[] = {
    {"int64_chunks_with_offsets_and_nulls", "l",
     {{{1, Number(), -3, 9007199254740993.0}, 3}, {{Number(), 7}, 0}, {{}, 2}, {{-1}, 1}},
     std::vector<double>{1, N, -3, 9007199254740992.0, N, 7, -1}},
    {"bool_across_bytes", "b", {{{1, 0, Number(), 1, 1, 0, 0, 1, 1, 0, Number()}, 5}},
     std::vector<double>{1, 0, N, 1, 1, 0, 0, 1, 1, 0, N}},
    {"int8_extremes", "c", {{{-128, 127, 0}, 1}}, std::vector<double>{-128, 127, 0}},
    {"uint32_largest", "I", {{{4294967295.0, 0}, 0}}, std::vector<double>{4294967295.0, 0}},
    {"float16_bits", "e", {{{0x3c00, 0xfc00, Number(), 0x0001}, 2}},
     std::vector<double>{1.0, -INFINITY, N, 0x1p-24}},
    {"float32", "f", {{{0.1, -0.0}, 0}}, std::vector<double>{static_cast<double>(0.1f), -0.0}},
    {"float64_nan_kept", "g", {{{-0.0, N, 1e300}, 1}}, std::vector<double>{-0.0, N, 1e300}},
    {"null_count_unknown", "l", {{{1, Number()}, 0}}, std::vector<double>{1, N},
     [](Built& b) { b.array.null_count = -1; }},
    {"empty_without_buffers", "l", {{{}, 0}}, std::vector<double>{}, [](Built& b) { b.array.buffers = nullptr; }},
    {"values_missing", "l", {{{1}, 0}}, std::nullopt, [](Built& b) { b.buffers[1] = nullptr; }},
    {"nulls_without_bitmap", "g", {{{1, Number()}, 0}}, std::nullopt, [](Built& b) { b.buffers[0] = nullptr; }},
    {"a_buffer_too_many", "l", {{{1}, 0}}, std::nullopt, [](Built& b) { b.array.n_buffers = 3; }},
};

INSTANTIATE_TEST_SUITE_P(Arrays, ReadNumbers, ::testing::ValuesIn(kNumberCases),
                         [](const auto& info) { return std::string(info.param.name); });

// --- types -------------------------------------------------------------------

TEST(ArrowType, OnlyPlainArraysOfTheTypesRead) {
    ArrowSchema schema{};
    for (const char* format : {"b", "c", "C", "s", "S", "i", "I", "l", "L", "e", "f", "g", "u", "U", "vu"}) {
        schema.format = format;
        EXPECT_TRUE(arrow_type(schema)) << format;
    }
    for (const char* format : {"n", "z", "Z", "vz", "d:10,2", "tdD", "tsu:UTC", "w:4", "+l", "uu", ""}) {
        schema.format = format;
        EXPECT_FALSE(arrow_type(schema)) << format;
    }
    schema.format = "u";
    EXPECT_TRUE(is_text(*arrow_type(schema)));
    ArrowSchema values{};
    schema.format = "i";
    schema.dictionary = &values;  // dictionary-encoded: the indices' format
    EXPECT_FALSE(arrow_type(schema));
    schema.dictionary = nullptr;
    schema.n_children = 1;
    EXPECT_FALSE(arrow_type(schema));
    schema.format = nullptr;
    schema.n_children = 0;
    EXPECT_FALSE(arrow_type(schema));
}

// --- coding few labels where they lie ------------------------------------------

// A built array owned as a producer hands it over.
ArrowArrayOwned owned(std::unique_ptr<Built> built) {
    ArrowArrayOwned array;
    *array.get() = built->array;
    array.get()->private_data = built.release();
    array.get()->release = [](ArrowArray* a) {
        delete static_cast<Built*>(a->private_data);
        a->release = nullptr;
    };
    return array;
}

struct FewCase {
    const char* name;
    ArrowType type;
    bool nan_nulls;
    std::vector<Cell> pattern;  // repeated over the rows
    std::size_t own_every;  // every this many rows a label of a row's own (more than kFewLabels a block), or 0
    std::size_t rows = 150'000;  // three blocks of rows and a bit, spread over buckets
    std::vector<Cell> late = {};  // first met at rows kLateRows[i], past the first block
    const char* null_text = "";   // what a null cell holds
};

// Past the rows learnt first: in the second block, in both chunks, and in the third.
constexpr std::size_t kLateRows[] = {70'000, 100'000, 140'000};

void PrintTo(const FewCase& c, std::ostream* os) { *os << c.name; }

class CodeFewLabels : public ::testing::TestWithParam<FewCase> {
protected:
    // The case's column in two chunks, the first sliced; half the labels of
    // a row's own are long.
    ArrowText column() const {
        const FewCase& c = GetParam();
        ArrowChunks chunks(c.type);
        std::vector<Cell> cells;
        for (std::size_t row = 0; row < c.rows; ++row) {
            if (c.own_every != 0 && row % c.own_every == 0) {
                cells.push_back((row / c.own_every % 2 == 0 ? "x" : "a label past sixteen bytes ") + std::to_string(row));
            } else {
                cells.push_back(c.pattern[row % c.pattern.size()]);
            }
        }
        for (std::size_t i = 0; i < c.late.size(); ++i) cells[kLateRows[i]] = c.late[i];
        const std::size_t half = c.rows / 2 + 3;
        chunks.add(owned(build(c.type, {cells.begin(), cells.begin() + half}, 5, c.null_text)));
        chunks.add(owned(build(c.type, {cells.begin() + half, cells.end()}, 0, c.null_text)));
        return ArrowText(std::move(chunks), c.nan_nulls);
    }
};

void expect_same_codes(const std::vector<double>& got, const std::vector<double>& want) {
    ASSERT_EQ(got.size(), want.size());
    for (std::size_t row = 0; row < want.size(); ++row) {
        ASSERT_EQ(std::bit_cast<std::uint64_t>(got[row]), std::bit_cast<std::uint64_t>(want[row])) << row;
    }
}

void expect_same_labels(const LabelCodes& got, const LabelCodes& want) {
    const CodedLabels got_labels = coded_labels_of(got), want_labels = coded_labels_of(want);
    ASSERT_EQ(got_labels.size(), want_labels.size());
    for (std::size_t code = 0; code < want_labels.size(); ++code) EXPECT_EQ(got_labels[code], want_labels[code]);
}

// Straight coding gives the codes and labels of coding the column's views.
TEST_P(CodeFewLabels, AsCodingEveryView) {
    const FewCase& c = GetParam();
    const ArrowText text = column();
    const LabelCodes want = code_labels(LabelColumn::of_views(text.views()));
    std::vector<double> codes(c.rows);
    const std::optional<LabelCodes> got = code_few_labels(text, codes.data());
    if (c.own_every != 0) {
        EXPECT_FALSE(got);  // a block meets more than kFewLabels labels
        return;
    }
    ASSERT_TRUE(got);
    expect_same_codes(codes, want.codes);
    expect_same_labels(*got, want);
}

// So does the coder of many labels, whatever the column's count of labels,
// into its place or on its own.
TEST_P(CodeFewLabels, ManyLabelsAsCodingEveryView) {
    const ArrowText text = column();
    const LabelCodes want = code_labels(LabelColumn::of_views(text.views()));
    std::vector<double> codes(GetParam().rows, 1.0);
    const LabelCodes got = code_many_labels(text, codes.data());
    expect_same_codes(codes, want.codes);
    expect_same_labels(got, want);
    expect_same_codes(code_many_labels(text, nullptr).codes, want.codes);
}

const FewCase kFewCases[] = {
    // equal short keys told apart by length; missing labels among valid text
    {"short_labels_and_nulls", ArrowType::String, true,
     {"ab", "abb", Null, "", "nan", "NaN", "b", "abcXdefg", "abcYdefg", "é", Null, "ab"}, 0},
    {"long_labels_sharing_ends", ArrowType::LargeString, false,
     {"nine bytes", "nine_bytes", Null, "a much longer label", "nine bytes", "<NA>"}, 0},
    {"views", ArrowType::StringView, true, {"thirteen byte", "twelve bytes", Null, "x"}, 0},
    {"too_many_labels", ArrowType::String, true, {"a", "b", Null}, 16},
    {"too_many_labels_in_views", ArrowType::StringView, false, {"thirteen byte", Null}, 16},
    {"too_many_labels_in_few_rows", ArrowType::LargeString, true, {"nan", Null, "b"}, 2, 20'000},
    {"all_missing", ArrowType::String, true, {Null}, 0},
    // labels first met late: codes that move, or not (one sorting last), short and long ones
    {"late_labels_move_codes", ArrowType::String, true, {"b", "d", Null, "f"}, 0, 150'000,
     {"a", "c", "a label of 17 byte"}},
    {"late_label_sorts_last", ArrowType::LargeString, true, {"b", "d", "f"}, 0, 150'000, {"zz"}},
    // one null among many short labels (no rows read one by one in bulk); nulls read as pandas.NA
    {"few_nulls", ArrowType::String, true,
     {"a", "b", "c", "d", "e", "f", "g", "h", "i", "j", "k", "l", "m", Null, "o", "p", "q", "r", "s", "t", "u", "v",
      "w", "x", "y", "z", "ab", "abc", "abcd", "abcde", "abcdef", "abcdefg", "abcdefgh", "b"}, 0},
    {"all_missing_as_na", ArrowType::String, false, {Null}, 0},
    {"views_without_nulls", ArrowType::StringView, true, {"eight by", "x", "twelve bytes", "x"}, 0, 150'000, {"a"}},
    // null cells whose bytes are a label's
    {"nulls_holding_text", ArrowType::String, true, {"b", Null, "c", "d", "e", Null, Null, "f"}, 0, 150'000, {}, "b"},
    {"view_nulls_holding_text", ArrowType::StringView, false, {"b", Null, "c", Null}, 0, 150'000, {}, "b"},
};

INSTANTIATE_TEST_SUITE_P(Columns, CodeFewLabels, ::testing::ValuesIn(kFewCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tarnix
