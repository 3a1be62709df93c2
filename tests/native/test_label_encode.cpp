// Label encoding of one column: dense codes in byte order, NaN for missing
// labels, and the label map / code map that go with them.
#include "core/fatal.hpp"
#include "core/label_encode.hpp"
#include "pool/pool.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace {

using namespace std::string_literals;
using tarnix::label_encode;
using tarnix::LabelEncoding;

using Code = std::optional<std::uint64_t>;
constexpr std::nullopt_t N = std::nullopt;
constexpr std::uint64_t kMissingBits = 0x7FF8000000000000;

// One text per cell: the code, "NaN" for the canonical missing NaN, anything
// else spelled out so that a mismatch shows what was written.
std::vector<std::string> describe(const std::vector<double>& codes) {
    std::vector<std::string> out;
    out.reserve(codes.size());
    for (const double c : codes) {
        const auto bits = std::bit_cast<std::uint64_t>(c);
        if (bits == kMissingBits)
            out.push_back("NaN");
        else if (c >= 0 && c == std::floor(c) && c < 1e18)
            out.push_back(std::to_string(static_cast<std::uint64_t>(c)));
        else
            out.push_back("odd value, bits " + std::to_string(bits));
    }
    return out;
}

std::vector<std::string> describe(const std::vector<Code>& codes) {
    std::vector<std::string> out;
    out.reserve(codes.size());
    for (const Code& c : codes) out.push_back(c ? std::to_string(*c) : "NaN");
    return out;
}

// The labels of a record in code order.
std::vector<std::string> in_code_order(const tarnix::CodedLabels& labels) {
    std::vector<std::string> out;
    for (std::size_t code = 0; code < labels.size(); ++code) out.emplace_back(labels[code]);
    return out;
}

// Checks the codes and the record of labels against the expected code of
// every row (which also fixes the code of every distinct label).
void expect_encoding(const std::vector<std::string>& labels, const std::vector<Code>& expected) {
    ASSERT_EQ(labels.size(), expected.size()) << "test table is malformed";
    const LabelEncoding result = label_encode(tarnix::LabelColumn::of(labels));
    EXPECT_EQ(describe(result.codes), describe(expected));

    std::map<std::uint64_t, std::string> by_code;
    for (std::size_t i = 0; i < labels.size(); ++i) {
        if (expected[i]) by_code.emplace(*expected[i], labels[i]);
    }
    std::vector<std::string> want;
    for (const auto& [code, label] : by_code) {
        ASSERT_EQ(code, want.size()) << "test table is malformed: codes are not dense";
        want.push_back(label);
    }
    EXPECT_EQ(in_code_order(result.labels), want);
}

struct Column {
    const char* label;
    std::vector<std::string> labels;
    std::vector<Code> codes;
};

void PrintTo(const Column& c, std::ostream* os) { *os << c.label; }

class LabelEncode : public ::testing::TestWithParam<Column> {};

TEST_P(LabelEncode, CodesAndMaps) { expect_encoding(GetParam().labels, GetParam().codes); }

const Column kColumns[] = {
    {"worked_example", {"b", "a", "nan", "b", "c", ""}, {2, 1, N, 2, 3, 0}},
    {"empty", {}, {}},
    {"single_label", {"x", "x", "x"}, {0, 0, 0}},
    {"single_cell", {"only"}, {0}},
    {"all_nan", {"nan", "nan"}, {N, N}},
    {"all_missing_kinds", {"<NA>", "NaN", "nan", "NaN"}, {N, N, N, N}},
    {"byte_not_numeric_order", {"9", "10", "100", "-1", "1.5", "09"}, {5, 3, 4, 0, 2, 1}},
    {"upper_before_lower", {"b", "B", "a", "A", "Z"}, {4, 1, 3, 0, 2}},
    {"non_ascii_after_ascii",
     {"é", "z", "~", "日本", "Z", "\x7f", "ÿ", "e", "😀"},
     {5, 2, 3, 7, 0, 4, 6, 1, 8}},
    {"missing_between_ordinary", {"a", "nan", "b"}, {0, N, 1}},
    {"missing_take_no_codes", {"<NA>", "A", "NaN", "Z"}, {N, 0, N, 1}},
    {"missing_around_empty", {"nan", "", "<NA>", "~"}, {N, 0, N, 1}},
    {"only_look_missing",
     {"NAN", "Nan", " nan", "None", "", "nan ", "na", "<na>", "NA", "<NA>", "nan"},
     {4, 5, 1, 6, 0, 8, 7, 2, 3, N, N}},
    {"embedded_nul_and_prefixes",
     {"ab", "a\0"s, "a", "a\0\0"s, "\0"s, ""},
     {5, 3, 2, 4, 1, 0}},
    {"repeated_labels", {"q", "p", "q", "q", "p", "nan", "q"}, {1, 0, 1, 1, 0, N, 1}},
    // long labels are kept once per distinct text; empty labels sit beside the repeats
    {"repeated_long_labels",
     {std::string(70, 'x'), "", std::string(69, 'x') + "y", std::string(70, 'x'), "", std::string(70, 'x'),
      std::string(69, 'x') + "y"},
     {1, 0, 2, 1, 0, 1, 2}},
};

INSTANTIATE_TEST_SUITE_P(Columns, LabelEncode, ::testing::ValuesIn(kColumns),
                         [](const auto& info) { return std::string(info.param.label); });

// Categorical columns: the codes of their cells are those code_labels gives
// the labels the cells read as (the category's text; "NaN" for a missing cell
// before the first category, "nan" after it).
struct Categorical {
    const char* label;
    std::vector<std::string> categories;
    std::vector<std::int64_t> codes;  // per row, -1 for a missing cell
    int code_bytes;
    std::vector<Code> expected;
    bool fatal = false;
};

void PrintTo(const Categorical& c, std::ostream* os) { *os << c.label; }


// "k0", "k1", ...: more categories than a narrower code could number.
std::vector<std::string> numbered(std::size_t count) {
    std::vector<std::string> categories;
    for (std::size_t i = 0; i < count; ++i) categories.push_back("k" + std::to_string(i));
    return categories;
}

class CodeCategories : public ::testing::TestWithParam<Categorical> {};

TEST_P(CodeCategories, AsTheirLabelsWouldBeCoded) {
    const Categorical& c = GetParam();
    // The codes last row first, each followed by a slot holding a code that must not be read.
    const std::size_t rows = c.codes.size();
    const std::size_t width = static_cast<std::size_t>(c.code_bytes);
    std::vector<char> slots(rows * 2 * width);
    auto put = [&](std::size_t slot, std::int64_t code) {
        char* at = slots.data() + slot * width;
        if (width == 1) { const auto v = static_cast<std::int8_t>(code); std::memcpy(at, &v, 1); }
        if (width == 2) { const auto v = static_cast<std::int16_t>(code); std::memcpy(at, &v, 2); }
        if (width == 4) { const auto v = static_cast<std::int32_t>(code); std::memcpy(at, &v, 4); }
        if (width == 8) std::memcpy(at, &code, 8);
    };
    std::size_t first_valid = rows;
    for (std::size_t row = 0; row < rows; ++row) {
        put(2 * (rows - 1 - row), c.codes[row]);
        put(2 * (rows - 1 - row) + 1, 99);
        if (c.codes[row] >= 0 && first_valid == rows) first_valid = row;
    }
    const tarnix::LabelList categories = tarnix::LabelList::of(c.categories);
    const tarnix::CategoryColumn column{&categories, slots.data() + 2 * (rows - 1) * width,
                                        -2 * static_cast<std::ptrdiff_t>(width), c.code_bytes, rows, first_valid, {}};
    if (c.fatal) {
        EXPECT_THROW(tarnix::code_categories(column), tarnix::Panic);
        return;
    }
    const tarnix::LabelCodes coded = tarnix::code_categories(column);
    EXPECT_EQ(describe(coded.codes), describe(c.expected));

    std::vector<std::string> labels;
    for (std::size_t row = 0; row < rows; ++row) {
        const std::int64_t code = c.codes[row];
        if (code >= 0) labels.push_back(c.categories[static_cast<std::size_t>(code)]);
        else labels.push_back(row < first_valid ? "NaN" : "nan");
    }
    const tarnix::LabelEncoding reference = label_encode(tarnix::LabelColumn::of(labels));
    EXPECT_EQ(in_code_order(tarnix::coded_labels_of(coded)), in_code_order(reference.labels));
}

const Categorical kCategoricals[] = {
    {"unused_categories_and_byte_order", {"z", "unused", "b", "é", "B", ""}, {0, 2, 3, 0, 4, 5, 2}, 1,
     {3, 2, 4, 3, 1, 0, 2}},
    {"missing_cells", {"b", "a"}, {-1, 1, -1, 0, -1}, 1, {N, 0, N, 1, N}},
    {"categories_spelled_missing", {"nan", "x", "NaN", "<NA>"}, {-1, 1, 0, 2, 3, -1}, 8, {N, 0, N, N, N, N}},
    {"two_byte_codes", numbered(300), {299, -1, 130, 299}, 2, {1, N, 0, 1}},
    {"four_byte_codes", numbered(70'000), {69'999, 40'000, 5, -1}, 4, {2, 0, 1, N}},
    {"code_past_the_categories", {"a"}, {0, 1}, 1, {}, true},
    {"code_below_missing", {"a"}, {0, -2}, 2, {}, true},
};

INSTANTIATE_TEST_SUITE_P(Categoricals, CodeCategories, ::testing::ValuesIn(kCategoricals),
                         [](const auto& info) { return std::string(info.param.label); });

// The rows read to find the first valid one were missing, then category 0; the
// owner has written other codes there since. They are coded as they were read.
TEST(CodeCategoriesReadOnce, RowsUpToTheFirstValidOneAreNotReadAgain) {
    const std::int8_t now[] = {1, 1, 0, 1};
    const tarnix::LabelList categories = tarnix::LabelList::of(std::vector<std::string>{"a", "b"});
    const tarnix::CategoryColumn column{&categories, reinterpret_cast<const char*>(now), 1, 1, 4, 1, 0};
    const tarnix::LabelCodes coded = tarnix::code_categories(column);
    EXPECT_EQ(describe(coded.codes), describe({N, 0, 0, 1}));
}

// Random labels built from pieces that make prefixes, NULs, multi-byte
// characters and missing labels likely.
std::vector<std::string> random_column(std::size_t rows, std::size_t cardinality,
                                       std::uint64_t seed) {
    static const std::string kPieces[] = {"a", "b", "Z", "0", "9", " ", "é", "ÿ",
                                          "日", "\x7f", "\0"s, "n", "N", "<NA>"};
    std::mt19937_64 gen(seed);
    std::uniform_int_distribution<std::size_t> piece(0, std::size(kPieces) - 1);
    std::uniform_int_distribution<int> length(0, 5);
    std::set<std::string> pool = {"nan", "NaN", "<NA>"};
    while (pool.size() < cardinality) {
        std::string label;
        for (int n = length(gen); n > 0; --n) label += kPieces[piece(gen)];
        pool.insert(std::move(label));
    }
    const std::vector<std::string> distinct(pool.begin(), pool.end());
    std::uniform_int_distribution<std::size_t> pick(0, distinct.size() - 1);
    std::vector<std::string> column(rows);
    for (auto& cell : column) cell = distinct[pick(gen)];
    return column;
}

// Codes are the ranks of the ordinary labels among the column's distinct
// ordinary labels, in byte order.
std::vector<Code> reference_codes(const std::vector<std::string>& labels) {
    std::set<std::string> ordinary;
    for (const auto& l : labels)
        if (l != "nan" && l != "NaN" && l != "<NA>") ordinary.insert(l);
    std::map<std::string, std::uint64_t> rank;
    for (const auto& l : ordinary) rank.emplace(l, rank.size());
    std::vector<Code> codes;
    codes.reserve(labels.size());
    for (const auto& l : labels) {
        const auto it = rank.find(l);
        codes.push_back(it == rank.end() ? Code{} : Code{it->second});
    }
    return codes;
}

// Short columns are deduplicated in one pass; from 65,536 rows on, few labels
// per block of rows block by block, and more than 4,096 are spread over hash
// buckets. (rows, distinct labels) on both sides of each switch.
class LabelEncodeLarge : public ::testing::TestWithParam<std::pair<std::size_t, std::size_t>> {};

TEST_P(LabelEncodeLarge, MatchesSortedReference) {
    const auto [rows, cardinality] = GetParam();
    const auto labels = random_column(rows, cardinality, 42);
    expect_encoding(labels, reference_codes(labels));
}

INSTANTIATE_TEST_SUITE_P(Cardinalities, LabelEncodeLarge,
                         ::testing::Values(std::pair{65'535, 1000}, std::pair{65'536, 1000},
                                           std::pair{200'000, 4096}, std::pair{200'000, 4097},
                                           std::pair{200'000, 50'000}));

TEST(LabelEncodeNested, SameResultInsidePoolTasks) {
    const auto labels = random_column(20'000, 300, 7);
    const auto expected = describe(reference_codes(labels));
    std::vector<LabelEncoding> nested(6);
    tarnix::pool::for_each_index(nested.size(),
                                 [&](std::size_t i) { nested[i] = label_encode(tarnix::LabelColumn::of(labels)); });
    for (const auto& result : nested) EXPECT_EQ(describe(result.codes), expected);
}

}  // namespace
