// Borrowed matrices over foreign memory, and their copies.
#include <gtest/gtest.h>

#include <numeric>
#include <vector>

#include "core/records.hpp"

namespace tarnix {
namespace {

struct View {
    const char* name;
    std::size_t rows, cols;
    std::ptrdiff_t row_stride, col_stride;
    std::ptrdiff_t lowest;  // index of the lowest element in the backing store
    bool keeps_layout;      // a forward row- or column-major block keeps its strides
};

class CopyInto : public ::testing::TestWithParam<View> {};

TEST_P(CopyInto, CopiesEveryElementAndKeepsBlocks) {
    const View v = GetParam();
    std::vector<double> store(64);
    std::iota(store.begin(), store.end(), 0.0);
    const Matrix m{DoubleBuffer::borrowed(store.data() + v.lowest), v.rows, v.cols, v.row_stride, v.col_stride};
    std::vector<double> expected;
    for (std::size_t r = 0; r < v.rows; ++r)
        for (std::size_t c = 0; c < v.cols; ++c) expected.push_back(m.at(r, c));

    std::vector<double> out(v.rows * v.cols);
    const bool column_major = m.copy_into(out.data());
    // A forward column-major block is copied as it lies; anything else row-major.
    EXPECT_EQ(column_major, v.keeps_layout && v.col_stride != 1);
    std::vector<double> got;
    for (std::size_t r = 0; r < v.rows; ++r)
        for (std::size_t c = 0; c < v.cols; ++c) got.push_back(out[column_major ? c * v.rows + r : r * v.cols + c]);
    EXPECT_EQ(got, expected);
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, CopyInto,
    ::testing::Values(View{"row_major", 3, 4, 4, 1, 0, true}, View{"column_major", 3, 4, 1, 3, 0, true},
                      View{"rows_reversed", 3, 4, -4, 1, 0, false},
                      View{"both_reversed", 3, 4, -4, -1, 0, false},
                      View{"column_major_reversed", 3, 4, -1, 3, 0, false},
                      View{"stepped_rows", 3, 4, 8, 1, 0, false},
                      View{"stepped_columns", 3, 4, 8, 2, 0, false},
                      View{"single_row", 1, 5, 99, 1, 0, false}, View{"single_column", 5, 1, 1, 99, 0, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Matrix, BlockTestsFollowTheStrides) {
    EXPECT_TRUE((Matrix{{}, 3, 4, 4, 1}.is_row_major_block()));
    EXPECT_FALSE((Matrix{{}, 3, 4, -4, 1}.is_row_major_block()));
    EXPECT_TRUE((Matrix{{}, 3, 4, 1, 3}.is_column_major_block()));
    EXPECT_FALSE((Matrix{{}, 3, 4, 1, 3}.is_row_major_block()));
    EXPECT_TRUE((Matrix{{}, 0, 4, 0, 0}.is_row_major_block()));
}

}  // namespace
}  // namespace tarnix
