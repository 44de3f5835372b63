// The helpers of writing 24-column reals, with the constants they are made of: in a header of
// their own so that the tests can check each of them over its whole domain. Not part of the
// record layer's interface; the fields themselves are declared in records/number_fields.hpp.
#pragma once

#include "records/numbers/powers.hpp"

#include <bit>
#include <cstddef>
#include <cstdint>

namespace p2k::numbers::detail {

// floor(log10(2^e)) for -1650 <= e <= 1650: 78913 / 2^18 is log10(2) rounded up far enough that
// the product stays below the next integer over that range (U. Adams, "Ryu: Fast Float-to-String
// Conversion", PLDI 2018, the function log10Pow2). The shift rounds negative products down too.
constexpr int floor_log10_pow2(int e) { return (e * 78913) >> 18; }

// The smallest doubles at or above 10^n, n = -2 .. 15: 10^n itself from 1 up, and the doubles
// nearest to 1/100 and 1/10, which lie just above them with no double in between. A positive
// double a has the decimal exponent n (10^n <= a < 10^(n+1)) exactly when it lies between
// decade_start[n + 2] and the next entry.
inline constexpr double decade_start[18] = {0.01, 0.1, 1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6,
                                            1e7,  1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};

// ---- The fixed form by table ----
//
// Binade by binade of the magnitudes 2^-4 .. 2^50 (biased exponents 1019 .. 1072): the value is
// m' x 2^(biased - 1086) with m' = (1.f) x 2^63, and a binade holds at most one power of ten,
// above which the decimal exponent n is one more. The value in units of its 15th significant
// digit is m' x 5^t x 2^-s, t = 14 - n, s = 1086 - biased - t; over the fixed form s <= 64, so
// C = 5^t x 2^(64 - s) is an integer below 2^64 and the 128-bit product m' x C holds that value
// exactly: q in its high word, the fraction below q in its low word. A table of multipliers per
// exponent for a fixed count of digits, as in U. Adams, "Ryu Revisited: Printf Floating Point
// Conversion", OOPSLA 2019, here small enough to need no rounding of its own. Sides outside the
// fixed form give q >= 10^15 (C = 2^63), as do carries into a new leading digit: both go to the
// general path. k is the count of digits before the point, 0 .. 15.
inline constexpr int first_binade = 1019, fixed_binades = 54;

struct fixed_table {
    uint64_t decade_bits[fixed_binades];  // magnitude bits from which the upper side applies
    uint64_t factor[2 * fixed_binades];   // lower, upper side of each binade
    uint8_t k[2 * fixed_binades];
};

constexpr fixed_table make_fixed_table() {
    fixed_table t{};
    for (int i = 0; i < fixed_binades; ++i) {
        const int biased = first_binade + i;
        const int exp10 = floor_log10_pow2(biased - 1023);  // of the binade's lowest value
        const uint64_t bits = std::bit_cast<uint64_t>(decade_start[static_cast<size_t>(exp10 + 3)]);
        const uint64_t top = static_cast<uint64_t>(biased + 1) << 52;
        t.decade_bits[i] = bits < top ? bits : ~uint64_t{0};
        for (int upper = 0; upper < 2; ++upper) {
            const int n = exp10 + upper;
            const bool fixed = n >= -1 && n <= 14;
            const int tt = 14 - n;
            const size_t side = static_cast<size_t>(2 * i + upper);
            t.factor[side] = fixed ? pow5_u64[static_cast<size_t>(tt)] << (64 - (1086 - biased - tt)) : uint64_t{1} << 63;
            t.k[side] = static_cast<uint8_t>(fixed ? n + 1 : 0);
        }
    }
    return t;
}
inline constexpr fixed_table fixed_sides = make_fixed_table();

// The side of the table for the magnitude bits of a double, or -1 outside the table's binades.
inline int fixed_side(uint64_t magnitude) {
    const uint32_t binade = static_cast<uint32_t>(magnitude >> 52) - first_binade;
    if (binade >= fixed_binades) return -1;
    return static_cast<int>(2 * binade + (magnitude >= fixed_sides.decade_bits[binade] ? 1 : 0));
}

// q of the table's side for the magnitude bits, rounded to nearest, ties to even. The lowest bit
// of the low word is always 0 (m' is even) and takes the parity of q, so that a tie rounds up
// exactly when q is odd.
inline uint64_t fixed_digits(uint64_t magnitude, uint32_t side) {
    const u128 num = static_cast<u128>((magnitude << 11) | (uint64_t{1} << 63)) * fixed_sides.factor[side];
    const uint64_t q = static_cast<uint64_t>(num >> 64);
    const uint64_t rest = static_cast<uint64_t>(num) | (q & 1);
    return q + (rest > (uint64_t{1} << 63) ? 1 : 0);
}

// ---- Out of line ----

// The 24-column field by the rule itself, from the digits of std::to_chars: short and exact for
// every value, slow. The oracle of the tests, and the field of the few values (subnormals, NaN,
// infinities, magnitudes beyond 1e-17 .. 3e38) that the integer methods do not reach.
void reference_real24(double x, char* out);

// Every value the table leaves: the fixed form by exact integer rounding, the exponent form.
void format_real24_general(double x, char* out);

}  // namespace p2k::numbers::detail

#if defined(__SSE2__) && !defined(P2K_PORTABLE_DIGITS)
#include "records/numbers/write_digits_sse2.hpp"
#else
#include "records/numbers/write_digits_portable.hpp"
#endif
