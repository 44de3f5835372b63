// The helpers of reading reals, with the constants they are made of: in a header of their own so
// that the tests can check each of them over its whole domain. Not part of the record layer's
// interface; the reads themselves are declared in records/numbers/read_real.hpp and
// records/numbers/read_row.hpp.
#pragma once

#include "records/numbers/powers.hpp"

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace p2k::numbers::detail {

// ---- Eight characters at a time ----

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

// The top bit of every lane of w that holds no digit: adding 0x46 carries a lane above '9' into
// its top bit, subtracting '0' borrows into it for a lane below '0' (D. Lemire, "Number Parsing
// at a Gigabyte per Second", Software: Practice and Experience 51(8), 2021, the eight-digit
// check). Lanes above the first flagged one may be garbled by carries; the first flag is exact.
inline uint64_t non_digits(uint64_t w) {
    return ((w + 0x4646464646464646ULL) | (w - zeros8)) & 0x8080808080808080ULL;
}

// Digit values in the lanes of w, the first digit in the lowest, the leading ones possibly zero:
// their value as one decimal number, combined in lanes, pairs first, then fours, then the eight,
// in three multiplications (W. Mula, "Parsing decimal numbers - part 1: SWAR", 2014; D. Lemire,
// "SWAR explained: parsing eight digits", 2022).
inline uint64_t lanes_value(uint64_t w) {
    w = w * 10 + (w >> 8);
    w = (((w & 0x000000ff000000ffULL) * (100 + (1000000ULL << 32))) +
         (((w >> 16) & 0x000000ff000000ffULL) * (1 + (10000ULL << 32)))) >> 32;
    return static_cast<uint32_t>(w);
}

// The value of a digit; 10 or more for any other character.
inline unsigned digit_value(char c) { return static_cast<unsigned>(static_cast<unsigned char>(c)) - '0'; }

// ---- One exact scaling ----

// Powers of ten that are exact doubles. An integer m below 2^53 is exact too, so m times or over
// one of them, a single correctly rounded operation, is the correctly rounded value of m x 10^s
// (W. D. Clinger, "How to Read Floating Point Numbers Accurately", PLDI 1990, the fast path).
inline constexpr double exact_pow10[23] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                           1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                           1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
inline constexpr int max_exact_pow10 = 22;

// m x 10^scale, |scale| <= 22, as one multiplication and one division of which one is exact
// (by 1): no branch on the sign of the exponent, which the digits of a table leave to chance.
struct scale_pair {
    double times, over;
};
constexpr std::array<scale_pair, 2 * max_exact_pow10 + 1> make_scale_pairs() {
    std::array<scale_pair, 2 * max_exact_pow10 + 1> t{};
    for (int s = -max_exact_pow10; s <= max_exact_pow10; ++s)
        t[static_cast<size_t>(s + max_exact_pow10)] = s < 0 ? scale_pair{1, exact_pow10[-s]} : scale_pair{exact_pow10[s], 1};
    return t;
}
inline constexpr auto scale_pairs = make_scale_pairs();

inline double scaled(uint64_t m, int scale) {
    const scale_pair f = scale_pairs[static_cast<size_t>(scale + max_exact_pow10)];
    return (static_cast<double>(m) * f.times) / f.over;
}

}  // namespace p2k::numbers::detail
