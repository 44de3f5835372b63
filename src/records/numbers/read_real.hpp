// Plain real constants scanned and converted in one pass over padded text, for the common case
// of list-directed reads: values of the forms "-1.2345678E+02" and "-1.23456789D-02" (the table
// rows of the field solver) by a branch-light path of fixed shape, other plain decimal forms by
// a digit loop. Both give the correctly rounded value, bit for bit the general conversion's.
#pragma once

#include "records/numbers/read_detail.hpp"

namespace p2k::numbers {

// A constant's value and its end; the end is nullptr when the constant is left to the general
// conversion. Returned in registers.
struct scanned {
    const char* end;
    double value;
};

// Any other plain constant at p: an optional sign, digits with an optional point, an optional
// exponent of E, D or Q, an optional sign and up to four digits. Returns the end of the
// constant, or nullptr when it is no such constant or its value is left to the general
// conversion. Its end is not checked: the caller tells whether the next byte may end a value.
scanned other_form(const char* p);

// The solver's shape at p, after any sign: one digit, the point, seven or eight digits, E or D
// (either case), the exponent's sign and two digits. Its end, its digits as one integer m and
// the decimal exponent of the last of them; a null end where p holds no such shape. The digit
// before the point and the seven after it are checked and combined as one word; at most nine
// digits keep m below 2^53. Each load starts at most one byte after the first byte that no
// check has passed yet, so that none reaches past the padding.
struct shape_digits {
    const char* end;
    uint64_t m;
    int scale;
};
inline shape_digits solver_shape_digits(const char* p) {
    using namespace detail;
    // From the point on, with the point's lane taken by the digit before it.
    const uint64_t w = load8(p + 1);
    const uint64_t digits = (w & ~uint64_t{0xff}) | static_cast<unsigned char>(*p);
    if ((w & 0xff) != '.' || non_digits(digits) != 0) return {nullptr, 0, 0};
    uint64_t m = lanes_value(digits - zeros8);
    int scale = -7;
    p += 9;
    if (const unsigned d = digit_value(*p); d < 10) {
        m = m * 10 + d;
        scale = -8;
        ++p;
    }
    const unsigned letter = static_cast<unsigned char>(*p) | 0x20u;
    const char sign = p[1];
    const unsigned e1 = digit_value(p[2]), e0 = digit_value(p[3]);
    if ((letter != 'e' && letter != 'd') || (sign != '+' && sign != '-') || e1 >= 10 || e0 >= 10) return {nullptr, 0, 0};
    const int x = static_cast<int>(e1 * 10 + e0);
    return {p + 4, m, scale + (sign == '-' ? -x : x)};
}

// The solver's shape at p with an optional sign, or a null end; also a null end where its value
// is beyond one exact scaling.
inline scanned solver_shape(const char* p) {
    using namespace detail;
    const bool negative = *p == '-';
    p += (*p == '-') | (*p == '+');
    const shape_digits d = solver_shape_digits(p);
    if (d.end == nullptr || d.scale < -max_exact_pow10 || d.scale > max_exact_pow10) return {nullptr, 0};
    const double v = scaled(d.m, d.scale);
    return {d.end, negative ? -v : v};
}

// A constant at p, in text followed by padding: the solver's shape, else other_form.
inline scanned scan(const char* p) {
    const scanned r = solver_shape(p);
    return r.end != nullptr ? r : other_form(p);
}

}  // namespace p2k::numbers
