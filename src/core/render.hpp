// Rendering of a double as a label, for numbers read before their column
// turned out to hold text.
#pragma once

#include <string>

namespace tarnix {

// Shortest round-trip digits, written positionally (never an exponent):
// 1.0 -> "1", 2.5 -> "2.5", 1e-7 -> "0.0000001", -0.0 -> "-0",
// NaN -> "NaN", infinities -> "inf" / "-inf".
std::string render_double(double value);

}  // namespace tarnix
