// Arrow number arrays built here by hand, read as doubles: every primitive
// type and booleans, array offsets, validity bitmaps, several chunks read
// across their borders, and malformed arrays.
#include "core/arrow_numbers.hpp"
#include "core/fatal.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tarnix {
namespace {

constexpr double kNull = std::numeric_limits<double>::quiet_NaN();

// One chunk: its cells (nullopt for a null) at array offset `offset`.
struct Chunk {
    std::vector<std::optional<double>> cells;
    std::int64_t offset = 0;
};

struct Case {
    const char* name;
    const char* format;
    std::vector<Chunk> chunks;
    std::vector<double> want;  // empty: reading is fatal
    void (*alter)(ArrowArray&) = nullptr;
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

// The buffers of one chunk, released with it.
struct Buffers {
    std::vector<std::uint8_t> validity;
    std::vector<unsigned char> values;
    const void* pointers[2];
};

void release(ArrowArray* array) {
    delete static_cast<Buffers*>(array->private_data);
    array->release = nullptr;
}

template <class T>
void put(std::vector<unsigned char>& values, std::size_t at, double value) {
    const T typed = static_cast<T>(value);
    std::memcpy(values.data() + at * sizeof(T), &typed, sizeof typed);
}

ArrowArrayOwned build(ArrowNumberType type, const Chunk& chunk) {
    auto* b = new Buffers;
    const std::size_t n = chunk.cells.size() + static_cast<std::size_t>(chunk.offset);
    b->validity.assign(n / 8 + 1, 0);
    b->values.assign(n * 8 + 1, 0);
    std::int64_t nulls = 0;
    for (std::size_t i = 0; i < n; ++i) {
        // cells before the offset: nulls of value 99, which must not be read
        const std::size_t k = i - static_cast<std::size_t>(chunk.offset);
        const std::optional<double> cell = i < static_cast<std::size_t>(chunk.offset) ? std::nullopt : chunk.cells[k];
        if (cell) b->validity[i / 8] |= static_cast<std::uint8_t>(1u << (i % 8));
        if (!cell && i >= static_cast<std::size_t>(chunk.offset)) ++nulls;
        const double value = cell.value_or(99);
        switch (type) {
            case ArrowNumberType::Int8: put<std::int8_t>(b->values, i, value); break;
            case ArrowNumberType::UInt16: put<std::uint16_t>(b->values, i, value); break;
            case ArrowNumberType::Int32: put<std::int32_t>(b->values, i, value); break;
            case ArrowNumberType::Int64: put<std::int64_t>(b->values, i, value); break;
            case ArrowNumberType::UInt64: put<std::uint64_t>(b->values, i, value); break;
            case ArrowNumberType::Float32: put<float>(b->values, i, value); break;
            case ArrowNumberType::Float64: put<double>(b->values, i, value); break;
            case ArrowNumberType::Bool:
                if (value != 0) b->values[i / 8] |= static_cast<unsigned char>(1u << (i % 8));
                break;
            default: ADD_FAILURE() << "no test builds this type";
        }
    }
    b->pointers[0] = nulls > 0 ? b->validity.data() : nullptr;
    b->pointers[1] = b->values.data();
    ArrowArrayOwned owned;
    ArrowArray& array = *owned.get();
    array.length = static_cast<std::int64_t>(chunk.cells.size());
    array.null_count = nulls;
    array.offset = chunk.offset;
    array.n_buffers = 2;
    array.buffers = b->pointers;
    array.release = release;
    array.private_data = b;
    return owned;
}

class ArrowNumberColumn : public ::testing::TestWithParam<Case> {};

TEST_P(ArrowNumberColumn, ReadAsDoubles) {
    const Case& c = GetParam();
    const auto type = arrow_number_type(c.format);
    ASSERT_TRUE(type) << c.format;
    ArrowNumbers numbers(*type);
    auto read = [&] {
        for (const Chunk& chunk : c.chunks) {
            ArrowArrayOwned built = build(*type, chunk);
            if (c.alter != nullptr) c.alter(*built.get());
            numbers.append(std::move(built));
        }
    };
    if (c.want.empty()) {
        EXPECT_THROW(read(), Panic);
        return;
    }
    read();
    ASSERT_EQ(numbers.size(), c.want.size());
    // Every range, so that each chunk border is crossed and started from.
    for (std::size_t begin = 0; begin < c.want.size(); ++begin) {
        for (std::size_t end = begin + 1; end <= c.want.size(); ++end) {
            std::vector<double> got(end - begin, -1.0);
            numbers.write(begin, end, got.data());
            for (std::size_t row = begin; row < end; ++row) {
                ASSERT_EQ(std::bit_cast<std::uint64_t>(got[row - begin]), std::bit_cast<std::uint64_t>(c.want[row]))
                    << "rows " << begin << ".." << end << ", row " << row;
            }
        }
    }
}

const double kBig = 9007199254740993.0;  // 2^53 + 1 rounds to 2^53, as NumPy's cast does

const Case kCases[] = {
    {"int8_offset_and_nulls", "c", {{{-128, std::nullopt, 127, 0}, 3}}, {-128, kNull, 127, 0}},
    {"uint16", "S", {{{65535, 1}, 0}}, {65535, 1}},
    {"int32_chunks_with_offsets", "i", {{{1, std::nullopt}, 5}, {{-7}, 0}, {{std::nullopt, 3, 4}, 9}},
     {1, kNull, -7, kNull, 3, 4}},
    {"int64_beyond_2_53", "l", {{{kBig, -kBig}, 1}}, {9007199254740992.0, -9007199254740992.0}},
    {"uint64_above_2_63", "L", {{{18446744073709549568.0, 0}, 0}}, {18446744073709549568.0, 0}},
    {"float32", "f", {{{0.1, -0.0, std::nullopt}, 2}}, {static_cast<double>(0.1f), -0.0, kNull}},
    {"float64_nan_is_kept", "g", {{{kNull, 1.5, std::nullopt, -2.25}, 0}}, {kNull, 1.5, kNull, -2.25}},
    {"bools_across_bytes", "b", {{{1, 0, std::nullopt, 1, 1, 0, 0, 1, 1, 0}, 6}}, {1, 0, kNull, 1, 1, 0, 0, 1, 1, 0}},
    {"all_null", "g", {{{std::nullopt, std::nullopt}, 0}, {{std::nullopt}, 1}}, {kNull, kNull, kNull}},
    {"nulls_without_bitmap", "i", {{{1, std::nullopt}, 0}}, {}, [](ArrowArray& a) { a.buffers[0] = nullptr; }},
    {"values_missing", "l", {{{1}, 0}}, {}, [](ArrowArray& a) { a.buffers[1] = nullptr; }},
    {"negative_offset", "l", {{{1}, 0}}, {}, [](ArrowArray& a) { a.offset = -1; }},
};

INSTANTIATE_TEST_SUITE_P(Arrays, ArrowNumberColumn, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ArrowNumberType, OnlyNumberFormats) {
    for (const char* format : {"u", "U", "vu", "e", "d:10,2", "tdD", "n", "", "ll"}) {
        EXPECT_FALSE(arrow_number_type(format)) << format;
    }
    EXPECT_FALSE(arrow_number_type(nullptr));
}

}  // namespace
}  // namespace tarnix
