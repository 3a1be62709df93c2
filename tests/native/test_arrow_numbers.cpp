// A column of several Arrow number arrays built here by hand, read as doubles
// over every range of rows: chunk borders crossed and started from, array
// offsets, validity bitmaps, and a value type whose cells are bits.
#include "core/arrow_arrays.hpp"
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

ArrowArrayOwned build(ArrowType type, const Chunk& chunk) {
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
            case ArrowType::Int32: put<std::int32_t>(b->values, i, value); break;
            case ArrowType::Int64: put<std::int64_t>(b->values, i, value); break;
            case ArrowType::Float64: put<double>(b->values, i, value); break;
            case ArrowType::Bool:
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

class ArrowNumberChunks : public ::testing::TestWithParam<Case> {};

TEST_P(ArrowNumberChunks, ReadAsDoubles) {
    const Case& c = GetParam();
    ArrowSchema schema{};
    schema.format = c.format;
    const auto type = arrow_type(schema);
    ASSERT_TRUE(type) << c.format;
    ArrowChunks numbers(*type);
    auto read = [&] {
        for (const Chunk& chunk : c.chunks) {
            ArrowArrayOwned built = build(*type, chunk);
            if (c.alter != nullptr) c.alter(*built.get());
            numbers.add(std::move(built));
        }
    };
    if (c.want.empty()) {
        EXPECT_THROW(read(), Panic);
        return;
    }
    read();
    ASSERT_EQ(numbers.length(), c.want.size());
    // Every range, so that each chunk border is crossed and started from.
    for (std::size_t begin = 0; begin < c.want.size(); ++begin) {
        for (std::size_t end = begin + 1; end <= c.want.size(); ++end) {
            std::vector<double> got(end - begin, -1.0);
            numbers.read_numbers(begin, end, got.data());
            for (std::size_t row = begin; row < end; ++row) {
                ASSERT_EQ(std::bit_cast<std::uint64_t>(got[row - begin]), std::bit_cast<std::uint64_t>(c.want[row]))
                    << "rows " << begin << ".." << end << ", row " << row;
            }
        }
    }
}

const Case kCases[] = {
    {"int32_chunks_with_offsets", "i", {{{1, std::nullopt}, 5}, {{-7}, 0}, {{std::nullopt, 3, 4}, 9}},
     {1, kNull, -7, kNull, 3, 4}},
    {"int64_empty_chunk_between", "l", {{{1, 2}, 1}, {{}, 0}, {{std::nullopt, 3}, 2}}, {1, 2, kNull, 3}},
    {"bools_across_bytes_and_chunks", "b", {{{1, 0, std::nullopt, 1, 1, 0, 0, 1, 1, 0}, 6}, {{0, 1}, 7}},
     {1, 0, kNull, 1, 1, 0, 0, 1, 1, 0, 0, 1}},
    {"all_null", "g", {{{std::nullopt, std::nullopt}, 0}, {{std::nullopt}, 1}}, {kNull, kNull, kNull}},
    {"nulls_without_bitmap", "i", {{{1, std::nullopt}, 0}}, {}, [](ArrowArray& a) { a.buffers[0] = nullptr; }},
};

INSTANTIATE_TEST_SUITE_P(Arrays, ArrowNumberChunks, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tarnix
