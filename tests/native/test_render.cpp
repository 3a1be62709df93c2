// Rendering doubles as labels: shortest round-trip digits, always positional.
#include "core/render.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <random>
#include <string>

namespace {

using tarnix::render_double;

double from_bits(std::uint64_t bits) { return std::bit_cast<double>(bits); }

struct Rendering {
    const char* label;
    double value;
    std::string expected;
};

void PrintTo(const Rendering& r, std::ostream* os) { *os << r.label; }

class RenderDouble : public ::testing::TestWithParam<Rendering> {};

TEST_P(RenderDouble, Renders) { EXPECT_EQ(render_double(GetParam().value), GetParam().expected); }

const Rendering kRenderings[] = {
    {"one", 1.0, "1"},
    {"zero", 0.0, "0"},
    {"negative_zero", -0.0, "-0"},
    {"hundred", 100.0, "100"},
    {"e20", 1e20, "1" + std::string(20, '0')},
    {"e23", 1e23, "1" + std::string(23, '0')},
    {"two_and_a_half", 2.5, "2.5"},
    {"minus_two_and_a_half", -2.5, "-2.5"},
    {"tenth", 0.1, "0.1"},
    {"e_minus_5", 1e-5, "0.00001"},
    {"e_minus_7", 1e-7, "0.0000001"},
    {"third", 1.0 / 3.0, "0.3333333333333333"},
    {"sum_of_tenths", 0.1 + 0.2, "0.30000000000000004"},
    {"decimal", 123.456, "123.456"},
    {"two_pow_53", 9007199254740992.0, "9007199254740992"},
    {"above_two_pow_53", 9007199254740994.0, "9007199254740994"},
    {"seventeen_digits_e20", 123456789012345680000.0, "123456789012345680000"},
    {"smallest_denormal", 5e-324, "0." + std::string(323, '0') + "5"},
    {"denormal", 1e-320, "0." + std::string(319, '0') + "1"},
    {"negative_tiny", -1e-300, "-0." + std::string(299, '0') + "1"},
    {"largest", std::numeric_limits<double>::max(), "17976931348623157" + std::string(292, '0')},
    {"lowest", std::numeric_limits<double>::lowest(), "-17976931348623157" + std::string(292, '0')},
    {"quiet_nan", from_bits(0x7FF8000000000000), "NaN"},
    {"negative_nan", from_bits(0xFFF8000000000000), "NaN"},
    {"signalling_nan", from_bits(0x7FF0000000000001), "NaN"},
    {"payload_nan", from_bits(0xFFF80000DEADBEEF), "NaN"},
    {"infinity", std::numeric_limits<double>::infinity(), "inf"},
    {"negative_infinity", -std::numeric_limits<double>::infinity(), "-inf"},
};

INSTANTIATE_TEST_SUITE_P(Values, RenderDouble, ::testing::ValuesIn(kRenderings),
                         [](const auto& info) { return std::string(info.param.label); });

// The significant digits of a positional rendering: no sign, no point, no
// leading or trailing zeros ("0" for zero).
std::string significant_digits(std::string text) {
    std::erase(text, '-');
    std::erase(text, '.');
    const auto first = text.find_first_not_of('0');
    if (first == std::string::npos) return "0";
    const auto last = text.find_last_not_of('0');
    return text.substr(first, last - first + 1);
}

// The shortest round-trip digits of value, from the standard library.
std::string shortest_digits(double value) {
    char buffer[64];
    const auto result =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific);
    std::string text(buffer, result.ptr);
    return significant_digits(text.substr(0, text.find('e')));
}

// An optional minus, the integer part without leading zeros, and a
// fractional part only when it has a non-zero digit at its end.
bool is_positional(std::string_view text) {
    if (!text.empty() && text.front() == '-') text.remove_prefix(1);
    const auto point = text.find('.');
    const std::string_view whole = text.substr(0, point);
    auto all_digits = [](std::string_view s) {
        return !s.empty() && s.find_first_not_of("0123456789") == std::string_view::npos;
    };
    if (!all_digits(whole) || (whole.size() > 1 && whole.front() == '0')) return false;
    if (point == std::string_view::npos) return true;
    const std::string_view fraction = text.substr(point + 1);
    return all_digits(fraction) && fraction.back() != '0';
}

TEST(RenderDoubleProperty, RandomFiniteValuesRoundTripWithoutExponent) {
    std::mt19937_64 gen(0x7a41c5);
    std::uniform_real_distribution<double> moderate(-1e6, 1e6);
    std::uniform_int_distribution<int> shift(0, 63);
    int checked = 0;
    for (int i = 0; i < 6000; ++i) {
        double value;
        switch (i % 3) {
            case 0: value = from_bits(gen()); break;
            case 1: value = moderate(gen); break;
            default: value = static_cast<double>(static_cast<std::int64_t>(gen()) >> shift(gen));
        }
        if (!std::isfinite(value)) continue;
        ++checked;
        const std::string text = render_double(value);
        ASSERT_TRUE(is_positional(text)) << text;
        char* end = nullptr;
        const double back = std::strtod(text.c_str(), &end);
        ASSERT_EQ(end, text.c_str() + text.size()) << text;
        ASSERT_EQ(std::bit_cast<std::uint64_t>(back), std::bit_cast<std::uint64_t>(value))
            << text;
        ASSERT_EQ(significant_digits(text), shortest_digits(value)) << text;
    }
    EXPECT_GT(checked, 5000);
}

}  // namespace
