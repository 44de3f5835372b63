// Plain real constants scanned and converted in one pass over padded text, for the common case
// of list-directed reads: values of the forms "-1.2345678E+02" and "-1.23456789D-02" (the table
// rows of the field solver) by a branch-light path of fixed shape, other plain decimal forms by
// a digit loop. Both give the correctly rounded value, bit for bit the general conversion's.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

namespace p2k::plain_real {

// The 8 bytes at p as a word with the first of them in the lowest lane.
inline uint64_t load8(const char* p) {
    uint64_t w = 0;
    if constexpr (std::endian::native == std::endian::little) {
        std::memcpy(&w, p, 8);
    } else {
        for (int i = 7; i >= 0; --i) w = (w << 8) | static_cast<unsigned char>(p[i]);
    }
    return w;
}

inline constexpr uint64_t zeros8 = 0x3030303030303030ULL;

// The top bit of every lane of w that holds no digit, by one addition and one subtraction. Lanes
// above the first flagged one may be garbled by carries; the first flag is exact.
inline uint64_t non_digits(uint64_t w) {
    return ((w + 0x4646464646464646ULL) | (w - zeros8)) & 0x8080808080808080ULL;
}

// Digit values in the lanes of w, the first digit in the lowest, the leading ones possibly zero:
// their value as one decimal number, combined in lanes (pairs, then fours, then the eight).
inline uint64_t lanes_value(uint64_t w) {
    w = w * 10 + (w >> 8);
    w = (((w & 0x000000ff000000ffULL) * (100 + (1000000ULL << 32))) +
         (((w >> 16) & 0x000000ff000000ffULL) * (1 + (10000ULL << 32)))) >> 32;
    return static_cast<uint32_t>(w);
}

// The value of a digit; 10 or more for any other character.
inline unsigned digit_value(char c) { return static_cast<unsigned>(static_cast<unsigned char>(c)) - '0'; }

// Powers of ten that are exact doubles. An integer m below 2^53 is exact too, so m times or over
// one of them, a single correctly rounded operation, is the correctly rounded value of m * 10^s.
inline constexpr double exact_pow10[23] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                           1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                           1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
inline constexpr int max_exact_pow10 = 22;

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

// A constant at p, in text followed by padding, as other_form scans it.
//
// The fixed shape: an optional sign, one digit, the point, seven or eight digits, E or D (either
// case), the exponent's sign and two digits. The digit before the point and the seven after it
// are checked and combined as one word; at most nine digits keep the value below 2^53. Each
// load starts at most one byte after the first byte that no check has passed yet, so that none
// reaches past the padding.
inline scanned scan(const char* p) {
    const char* const start = p;
    const bool negative = *p == '-';
    p += (*p == '-') | (*p == '+');
    // From the point on, with the point's lane taken by the digit before it.
    const uint64_t w = load8(p + 1);
    const uint64_t digits = (w & ~uint64_t{0xff}) | static_cast<unsigned char>(*p);
    if ((w & 0xff) != '.' || non_digits(digits) != 0) return other_form(start);
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
    if ((letter != 'e' && letter != 'd') || (sign != '+' && sign != '-') || e1 >= 10 || e0 >= 10)
        return other_form(start);
    const int x = static_cast<int>(e1 * 10 + e0);
    scale += sign == '-' ? -x : x;
    if (scale < -max_exact_pow10 || scale > max_exact_pow10) return other_form(start);
    double v = static_cast<double>(m);
    v = scale < 0 ? v / exact_pow10[-scale] : v * exact_pow10[scale];
    return {p + 4, negative ? -v : v};
}

}  // namespace p2k::plain_real
