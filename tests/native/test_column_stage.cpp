// The parallel stage: every cell of the row-major matrix written once, from
// numbers, strided numeric columns (masked or not) and label codes alike.
#include <gtest/gtest.h>
#include <pthread.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "core/column_stage.hpp"

namespace tarnix {
namespace {

double load_int32(const char* cell, bool swapped) {
    std::uint32_t bits;
    std::memcpy(&bits, cell, sizeof bits);
    if (swapped) bits = __builtin_bswap32(bits);
    return static_cast<double>(std::bit_cast<std::int32_t>(bits));
}
constexpr NumberRunLoader load_int32_run = load_run<std::int32_t, load_int32>;

TEST(ColumnStage, WritesEveryKindOfColumn) {
    const std::size_t rows = 70'000;  // long enough for the parallel label path
    // Column 1 lies in a 2-column int32 table (stride 8 bytes), byte-swapped.
    // Column 3 is column 0 of that table, masked every fifth row.
    std::vector<std::uint32_t> table(rows * 2);
    std::vector<char> mask(rows);
    for (std::size_t r = 0; r < rows; ++r) {
        table[2 * r] = __builtin_bswap32(static_cast<std::uint32_t>(r));
        table[2 * r + 1] = __builtin_bswap32(static_cast<std::uint32_t>(-static_cast<std::int32_t>(r)));
        mask[r] = r % 5 == 0;
    }
    TableCells cells(rows, 4);
    for (std::size_t r = 0; r < rows; ++r) cells.add_number(0, r * 0.5);
    cells.set_strided(1, StridedNumbers{reinterpret_cast<const char*>(table.data() + 1), 8, load_int32, load_int32_run, true});
    cells.turn_to_text(2);
    for (std::size_t r = 0; r < rows; ++r) cells.add_label(2, r % 3 == 0 ? "nan" : "k" + std::to_string(r % 7));
    cells.set_strided(3, StridedNumbers{reinterpret_cast<const char*>(table.data()), 8, load_int32, load_int32_run, true, mask.data(), 1});

    for (MatrixOrder order : {MatrixOrder::RowMajor, MatrixOrder::ColumnMajor}) {
        SCOPED_TRACE(order == MatrixOrder::RowMajor ? "row-major" : "column-major");
        std::vector<double> matrix(rows * 4, -1.0);
        std::vector<ColumnResult> results = run_column_stage(cells, SendPtr(matrix.data()), order);
        auto at = [&](std::size_t r, std::size_t c) {
            return matrix[order == MatrixOrder::RowMajor ? r * 4 + c : c * rows + r];
        };

        ASSERT_EQ(results.size(), 1u);
        EXPECT_EQ(results[0].col, 2u);
        for (std::size_t r = 0; r < rows; ++r) {
            ASSERT_EQ(at(r, 0), r * 0.5) << r;
            ASSERT_EQ(at(r, 1), -static_cast<double>(r)) << r;
            ASSERT_EQ(std::isnan(at(r, 3)), r % 5 == 0) << r;
            if (r % 5 != 0) {
                ASSERT_EQ(at(r, 3), static_cast<double>(r)) << r;
            }
            const double code = at(r, 2);
            if (r % 3 == 0) {
                ASSERT_EQ(std::bit_cast<std::uint64_t>(code), 0x7FF8000000000000u) << r;
            } else {
                // labels k0..k6 in byte order are their digits' order
                ASSERT_EQ(code, static_cast<double>(r % 7)) << r;
            }
        }
        ASSERT_EQ(results[0].labels.size(), 7u);  // k0..k6; "nan" has no code
        EXPECT_EQ(results[0].labels[6], "k6");
    }
}

// A text column read cell by cell is coded alike however it was kept: as a
// dictionary throughout, stored label by label from a small limit on, or with
// its dictionary's index freed midway (and built again by the next label).
TEST(ColumnStage, TextColumnsCodedAlikeHoweverKept) {
    const std::size_t rows = 5'000;
    auto label_of = [](std::size_t r) { return r % 11 == 0 ? std::string("nan") : "w" + std::to_string((r * 37) % 1'500); };
    auto coded = [&](std::size_t dictionary_labels, std::size_t end_reading_at) {
        TableCells cells(rows, 1, dictionary_labels);
        cells.turn_to_text(0);
        for (std::size_t r = 0; r < rows; ++r) {
            if (r == end_reading_at) cells.end_reading();
            cells.add_label(0, label_of(r));
        }
        std::vector<double> codes(rows);
        auto results = run_column_stage(cells, SendPtr(codes.data()), MatrixOrder::ColumnMajor);
        std::vector<std::string> labels;
        for (std::size_t c = 0; c < results.at(0).labels.size(); ++c) labels.emplace_back(results[0].labels[c]);
        return std::make_pair(codes, labels);
    };
    const auto expected = coded(LabelDictionary::kMostLabels, rows);
    ASSERT_EQ(expected.second.size(), 1'500u);
    EXPECT_EQ(expected.second.front(), "w0");
    for (const auto& [limit, end_at] : {std::pair<std::size_t, std::size_t>{700, rows}, {LabelDictionary::kMostLabels, 2'000}}) {
        SCOPED_TRACE(limit);
        const auto got = coded(limit, end_at);
        EXPECT_EQ(got.second, expected.second);
        for (std::size_t r = 0; r < rows; ++r) {
            ASSERT_EQ(std::bit_cast<std::uint64_t>(got.first[r]), std::bit_cast<std::uint64_t>(expected.first[r])) << r;
        }
    }
}

// The calling thread joins the pool's work, on its own stack: a thread of
// musl's default stack size (128 KiB; glibc's is 8 MiB) must do for a large
// text column, whose labels are deduplicated and sorted on the pool.
TEST(ColumnStage, RunsOnAThreadOfMuslsDefaultStackSize) {
    const std::size_t rows = 300'000;
    TableCells cells(rows, 1);
    cells.turn_to_text(0);
    for (std::size_t r = 0; r < rows; ++r) cells.add_label(0, "label" + std::to_string((r * 7919) % 100'003));
    auto codes_of = [&] {
        std::vector<double> matrix(rows);
        auto results = run_column_stage(cells, SendPtr(matrix.data()), MatrixOrder::ColumnMajor);
        return std::make_pair(std::move(matrix), results.at(0).labels.size());
    };
    const auto expected = codes_of();
    ASSERT_EQ(expected.second, 100'003u);

    struct Run {
        decltype(codes_of)* body;
        std::pair<std::vector<double>, std::size_t> got;
    } run{&codes_of, {}};
    pthread_attr_t attr;
    ASSERT_EQ(pthread_attr_init(&attr), 0);
    ASSERT_EQ(pthread_attr_setstacksize(&attr, 128 * 1024), 0);
    pthread_t thread;
    ASSERT_EQ(pthread_create(&thread, &attr, [](void* arg) -> void* {
        auto* r = static_cast<Run*>(arg);
        r->got = (*r->body)();
        return nullptr;
    }, &run), 0);
    pthread_attr_destroy(&attr);
    ASSERT_EQ(pthread_join(thread, nullptr), 0);
    EXPECT_EQ(run.got.second, expected.second);
    EXPECT_TRUE(run.got.first == expected.first);
}

}  // namespace
}  // namespace tarnix
