// Fixed-width number fields of list-directed output.
#pragma once

#include <cstdint>
#include <string>

namespace p2k {

inline constexpr int int_field_width = 12;
inline constexpr int real_field_width = 24;

// Writes exactly 12 characters: the integer right-justified, minus sign for negatives.
void format_int12(int32_t v, char* out);

// Writes exactly 24 characters. Values whose 15-digit rounding lies in [0.1, 1e15) take the
// fixed form (15 significant digits, right-justified in 19 columns, 5 blanks after); all others,
// zero included, the exponent form with 16 significant digits and a 3-digit exponent. Rounding
// is correct rounding of the exact binary value, ties to even. -0.0 is written as 0.0; NaN and
// infinities as words right-justified in the field.
void format_real24(double x, char* out);

// The shortest text that reads back as the same value, ".0" added to integral values: for
// messages, not for list-directed fields.
std::string shortest_text(double v);

}  // namespace p2k
