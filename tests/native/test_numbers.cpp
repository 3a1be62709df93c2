// Numbers loaded from binary buffers, and cells read as codes.
#include "core/numbers.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <limits>
#include <vector>

namespace tarnix {
namespace {

struct Loading {
    const char* name;
    NumberLoader load;
    std::vector<unsigned char> bytes;  // in memory order
    bool swapped;
    std::uint64_t expected;  // the double's bits: NaN payloads and -0.0 count
};

void PrintTo(const Loading& l, std::ostream* os) { *os << l.name; }

class LoadNumber : public ::testing::TestWithParam<Loading> {};

TEST_P(LoadNumber, GivesTheDoubleBitForBit) {
    const Loading& l = GetParam();
    // one byte past an aligned start: loads take any alignment
    std::vector<unsigned char> store(l.bytes.size() + 1);
    std::copy(l.bytes.begin(), l.bytes.end(), store.begin() + 1);
    const double value = l.load(reinterpret_cast<const char*>(store.data() + 1), l.swapped);
    EXPECT_EQ(std::bit_cast<std::uint64_t>(value), l.expected) << value;
}

std::uint64_t bits(double value) { return std::bit_cast<std::uint64_t>(value); }

// Little-endian byte order is assumed of the machine for the unswapped rows.
const Loading kLoadings[] = {
    {"half_one", load_half, {0x00, 0x3c}, false, bits(1.0)},
    {"half_one_swapped", load_half, {0x3c, 0x00}, true, bits(1.0)},
    {"half_largest", load_half, {0xff, 0x7b}, false, bits(65504.0)},
    {"half_smallest_subnormal", load_half, {0x01, 0x00}, false, bits(0x1p-24)},
    {"half_largest_subnormal", load_half, {0xff, 0x03}, false, bits(0x3ffp-24)},
    {"half_negative_subnormal", load_half, {0x01, 0x80}, false, bits(-0x1p-24)},
    {"half_negative_zero", load_half, {0x00, 0x80}, false, bits(-0.0)},
    {"half_tenth", load_half, {0x66, 0x2e}, false, bits(0.0999755859375)},
    {"half_infinity", load_half, {0x00, 0x7c}, false, bits(std::numeric_limits<double>::infinity())},
    {"half_negative_infinity", load_half, {0x00, 0xfc}, false, bits(-std::numeric_limits<double>::infinity())},
    {"half_quiet_nan", load_half, {0x00, 0x7e}, false, 0x7ff8000000000000},
    {"half_nan_payload", load_half, {0x01, 0xfc}, false, 0xfff0040000000000},
    {"bool_false", load_bool, {0x00}, false, bits(0.0)},
    {"bool_any_byte_is_true", load_bool, {0x02}, false, bits(1.0)},
    {"int8_lowest", load_as_double<std::int8_t>, {0x80}, false, bits(-128.0)},
    {"int32_swapped", load_as_double<std::int32_t>, {0xff, 0xff, 0xff, 0xfe}, true, bits(-2.0)},
    {"uint64_largest_rounds", load_as_double<std::uint64_t>, std::vector<unsigned char>(8, 0xff), false,
     bits(18446744073709551616.0)},
    {"int64_above_2_pow_53_rounds", load_as_double<std::int64_t>, {0x01, 0, 0, 0, 0, 0, 0x20, 0}, false,
     bits(9007199254740992.0)},
    {"float32_tenth", load_as_double<float>, {0xcd, 0xcc, 0xcc, 0x3d}, false, bits(static_cast<double>(0.1f))},
    {"float64_swapped", load_as_double<double>, {0x3f, 0xf8, 0, 0, 0, 0, 0, 0}, true, bits(1.5)},
    {"float64_negative_zero_swapped", load_as_double<double>, {0x80, 0, 0, 0, 0, 0, 0, 0}, true, bits(-0.0)},
};

INSTANTIATE_TEST_SUITE_P(Table, LoadNumber, ::testing::ValuesIn(kLoadings),
                         [](const auto& info) { return std::string(info.param.name); });

struct Coding {
    const char* name;
    double value;
    std::uint64_t expected;
};

void PrintTo(const Coding& c, std::ostream* os) { *os << c.name; }

class CodeOf : public ::testing::TestWithParam<Coding> {};

TEST_P(CodeOf, Saturates) { EXPECT_EQ(code_of(GetParam().value), GetParam().expected); }

constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();

const Coding kCodings[] = {
    {"zero", 0.0, 0},
    {"negative_zero", -0.0, 0},
    {"fraction_truncates", 2.9, 2},
    {"half", 0.5, 0},
    {"negative", -4.0, 0},
    {"negative_fraction", -0.5, 0},
    {"negative_infinity", -std::numeric_limits<double>::infinity(), 0},
    {"largest_below_2_pow_64", 18446744073709549568.0, 18446744073709549568u},
    {"2_pow_64", 18446744073709551616.0, kMax},
    {"huge", 1e300, kMax},
    {"infinity", std::numeric_limits<double>::infinity(), kMax},
};

INSTANTIATE_TEST_SUITE_P(Table, CodeOf, ::testing::ValuesIn(kCodings),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tarnix
