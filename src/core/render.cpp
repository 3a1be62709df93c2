#include "core/render.hpp"

#include <charconv>
#include <cmath>
#include <cstdlib>

#include "core/missing_labels.hpp"

namespace tarnix {

std::string render_double(double value) {
    if (std::isnan(value)) return std::string(kNanLabel);
    if (std::isinf(value)) return value > 0 ? "inf" : "-inf";

    // Scientific notation without a precision gives the shortest digits that
    // read back as the same double ("-1.2345e+25"); they are then written out
    // positionally. (Fixed notation would print large whole numbers exactly,
    // 1e23 as 99999999999999991611392, not as its shortest digits.)
    char scientific[32];
    auto [end, ec] = std::to_chars(scientific, scientific + sizeof scientific, value,
                                   std::chars_format::scientific);
    (void)ec;  // 32 bytes hold every double in this form
    std::string_view text(scientific, static_cast<std::size_t>(end - scientific));

    std::string rendered;
    if (text.front() == '-') {
        rendered.push_back('-');
        text.remove_prefix(1);
    }
    const std::size_t e = text.find('e');
    std::string digits;
    for (char c : text.substr(0, e)) {
        if (c != '.') digits.push_back(c);
    }
    int exponent = 0;
    std::from_chars(text.data() + e + 1 + (text[e + 1] == '+'), text.data() + text.size(), exponent);

    // The decimal point goes after `point` digits.
    const long point = static_cast<long>(exponent) + 1;
    const auto length = static_cast<long>(digits.size());
    if (point >= length) {
        rendered += digits;
        rendered.append(static_cast<std::size_t>(point - length), '0');
    } else if (point <= 0) {
        rendered += "0.";
        rendered.append(static_cast<std::size_t>(-point), '0');
        rendered += digits;
    } else {
        rendered.append(digits, 0, static_cast<std::size_t>(point));
        rendered.push_back('.');
        rendered.append(digits, static_cast<std::size_t>(point));
    }
    return rendered;
}

}  // namespace tarnix
