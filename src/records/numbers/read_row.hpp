// Rows of reals read by their layout: a row that the scan read whole gives a template, the
// classes of its bytes (digit, blank, point, exponent letter and sign, line end) and the columns
// of its values; a later row whose classes match it byte for byte, checked over the whole row at
// once, has its values at the same columns and the shape of the scan already proven, so that
// they are only combined. The table rows of the field solver are written by a fixed format and
// match the template of the first.
#pragma once

#include "records/numbers/read_real.hpp"

#include <cstddef>
#include <cstdint>

namespace p2k::numbers {

inline constexpr size_t row_span = 64;         // bytes a row with its line end fits in
inline constexpr size_t max_row_values = 4;    // values of the solver's shape in a row span

struct row_template {
    // The classes of the row's bytes: digits as '0', '+' as '-', all others as they are;
    // `alternative` the same with a blank and a '-' swapped where a value may carry a sign or
    // not. The bytes from the line end on are not looked at.
    alignas(16) char classes[row_span];
    alignas(16) char alternative[row_span];
    uint64_t looked_at = 0;  // bits 0 .. LF
    uint32_t length = 0;     // the row's bytes, LF included; 0: no template
    uint32_t count = 0;
    struct value_columns {
        uint8_t sign;       // the column that holds '-' for a negative value
        uint8_t digit;      // the digit before the point
        uint8_t fraction;   // the 8 bytes that end with the last digit after the point
        uint8_t exponent;   // the exponent letter
        int8_t scale;       // of the last digit, before the exponent: -7 or -8
        uint64_t keep;      // the lanes of those 8 bytes that hold digits: all, or all but the point
        uint64_t lead;      // the weight of the digit before the point: 10^7 or 10^8
    } values[max_row_values];
};

// Takes the row at p, `count` values in the solver's shape separated by blanks, its LF at lf,
// as the template; leaves it without one when the row does not fit that description.
void learn_row(row_template& t, const char* p, const char* lf, size_t count);

}  // namespace p2k::numbers

#if defined(__SSE2__) && !defined(P2K_PORTABLE_DIGITS)
#include "records/numbers/row_classes_sse2.hpp"
#else
#include "records/numbers/row_classes_portable.hpp"
#endif

namespace p2k::numbers {

// The values of the row at p into out, when it has the template's layout of N values: true, and
// the row ends at p + t.length. 64 bytes from p must be readable.
// The digits after the point are one word (the point's lane cleared where there are seven of
// them), the digit before it is weighted on its own; the exponents' range is checked for all
// values at once, the values already stored in out only counting when it holds.
template <size_t N>
inline bool read_row(const row_template& t, const char* p, double* out) {
    using namespace detail;
    if (!matches_classes(t, p)) return false;
    unsigned out_of_range = 0;
#pragma GCC unroll 4
    for (size_t j = 0; j < N; ++j) {
        const row_template::value_columns& c = t.values[j];
        const char* e = p + c.exponent;
        const int x = static_cast<int>(digit_value(e[2]) * 10 + digit_value(e[3]));
        const unsigned at = static_cast<unsigned>((e[1] == '-' ? -x : x) + c.scale + max_exact_pow10);
        out_of_range |= at > 2 * max_exact_pow10;
        const scale_pair f = scale_pairs[at <= 2 * max_exact_pow10 ? at : 0];
        const uint64_t m = digit_value(p[c.digit]) * c.lead + lanes_value((load8(p + c.fraction) - zeros8) & c.keep);
        const double v = (static_cast<double>(m) * f.times) / f.over;
        out[j] = p[c.sign] == '-' ? -v : v;
    }
    return out_of_range == 0;
}

}  // namespace p2k::numbers
