// Decimal digits with SSE2: the sixteen digits of a 64-bit value in one register, and the
// fixed-form columns laid out from them by masks.
#pragma once

#include <emmintrin.h>

#include <array>
#include <cstdint>
#include <cstring>

namespace p2k::numbers::detail {

// The sixteen decimal digits of v < 10^16 as byte values 0 .. 9, the first in the lowest byte:
// v split into 10^8 halves, each into two 4-digit quarters, each quarter spread over four 16-bit
// lanes and divided there by 1000, 100, 10 and 1 with fixed-point multiplications, then each
// lane less ten times the lane before it (W. Mula, "SSE: conversion of integers to decimal
// representation", 2011, its algorithm 2). The constants are reciprocals rounded up with enough bits to be exact
// over the quarters' range 0 .. 9999 (T. Granlund and P. Montgomery, "Division by Invariant
// Integers using Multiplication", PLDI 1994): 0xd1b71759 / 2^45 for 1/10000, and per lane
// (x 4) x 8389 / 2^16 x 2^7 / 2^16 for 1/1000, 5243 and 2^11 for 1/100, 13108 and 2^13 for 1/10.
inline __m128i digit_values16(uint64_t v) {
    const __m128i div10000 = _mm_set1_epi32(static_cast<int>(0xd1b71759u));
    const __m128i div_powers = _mm_setr_epi16(8389, 5243, 13108, static_cast<short>(0x8000), 8389, 5243, 13108,
                                              static_cast<short>(0x8000));
    const __m128i shift_powers = _mm_setr_epi16(1 << 7, 1 << 11, 1 << 13, static_cast<short>(0x8000), 1 << 7, 1 << 11,
                                                1 << 13, static_cast<short>(0x8000));
    const __m128i halves = _mm_set_epi64x(static_cast<long long>(v % 100000000), static_cast<long long>(v / 100000000));
    const __m128i abcd = _mm_srli_epi64(_mm_mul_epu32(halves, div10000), 45);
    const __m128i efgh = _mm_sub_epi32(halves, _mm_mul_epu32(abcd, _mm_set1_epi32(10000)));
    // 16-bit lanes 0, 2, 4, 6: the quarters; times 4 for the precision of the divisions
    const __m128i quarters = _mm_slli_epi16(_mm_packs_epi32(abcd, efgh), 2);
    const __m128i first = _mm_shufflehi_epi16(_mm_shufflelo_epi16(quarters, 0x00), 0x00);
    const __m128i second = _mm_shufflehi_epi16(_mm_shufflelo_epi16(quarters, 0xaa), 0xaa);
    __m128i ten = _mm_set1_epi16(10);
#if defined(__GNUC__)
    __asm__("" : "+x"(ten));  // one multiplication, not the three shifts and adds it would become
#endif
    const auto digits = [&](__m128i spread) {
        const __m128i prefixes = _mm_mulhi_epu16(_mm_mulhi_epu16(spread, div_powers), shift_powers);  // a, ab, abc, abcd, ...
        return _mm_sub_epi16(prefixes, _mm_slli_epi64(_mm_mullo_epi16(prefixes, ten), 16));
    };
    return _mm_packus_epi16(digits(first), digits(second));
}

// Sixteen decimal digits of v < 10^16, leading zeros included.
inline void digits16(uint64_t v, char* out) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_add_epi8(digit_values16(v), _mm_set1_epi8('0')));
}

// Per k, the fixed-form columns 3 .. 18 from the digit values D = 0 d1 .. d15: the integer digits
// from D moved one byte down (bytes below k), the point at byte k, the fraction digits from D
// itself (bytes above k), all made ASCII; and columns 0 .. 7 by sign.
struct fixed_layout {
    alignas(16) uint8_t integer_mask[16];
    alignas(16) uint8_t fraction_mask[16];
    alignas(16) uint8_t ascii[16];
    uint64_t lead[2];
};

constexpr std::array<fixed_layout, 16> make_fixed_layouts() {
    std::array<fixed_layout, 16> t{};
    for (size_t k = 0; k < 16; ++k) {
        for (size_t j = 0; j < 16; ++j) {
            t[k].integer_mask[j] = j < k ? 0xff : 0;
            t[k].fraction_mask[j] = j > k ? 0xff : 0;
            t[k].ascii[j] = j == k ? '.' : '0';
        }
        const uint64_t blanks = 0x2020202020202020u;
        const uint64_t lead = k == 0 ? blanks ^ (uint64_t{' ' ^ '0'} << 16) : blanks;  // "  0" or "   "
        t[k].lead[0] = lead;
        t[k].lead[1] = lead ^ (uint64_t{' ' ^ '-'} << (k == 0 ? 8 : 16));
    }
    return t;
}
inline constexpr auto fixed_layouts = make_fixed_layouts();

// The layout of each side of the fixed-form table, one load away.
constexpr std::array<const fixed_layout*, 2 * fixed_binades> make_side_layouts() {
    std::array<const fixed_layout*, 2 * fixed_binades> t{};
    for (size_t side = 0; side < t.size(); ++side) t[side] = &fixed_layouts[fixed_sides.k[side]];
    return t;
}
inline constexpr auto side_layouts = make_side_layouts();

// The fixed form of q, the value in units of its 15th digit (10^14 <= q < 10^15), laid out by l:
// all 24 columns.
inline void lay_out_fixed(uint64_t q, const fixed_layout& l, bool negative, char* out) {
    const __m128i d = digit_values16(q);
    const __m128i integer = _mm_and_si128(_mm_srli_si128(d, 1), _mm_load_si128(reinterpret_cast<const __m128i*>(l.integer_mask)));
    const __m128i fraction = _mm_and_si128(d, _mm_load_si128(reinterpret_cast<const __m128i*>(l.fraction_mask)));
    const __m128i columns = _mm_or_si128(_mm_or_si128(integer, fraction), _mm_load_si128(reinterpret_cast<const __m128i*>(l.ascii)));
    std::memcpy(out, &l.lead[negative ? 1 : 0], 8);
    std::memcpy(out + 16, "        ", 8);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 3), columns);
}

// With k digits before the point, or as the table's side gives them.
inline void lay_out_fixed(uint64_t q, unsigned k, bool negative, char* out) { lay_out_fixed(q, fixed_layouts[k], negative, out); }
inline void lay_out_fixed_side(uint64_t q, uint32_t side, bool negative, char* out) {
    lay_out_fixed(q, *side_layouts[side], negative, out);
}

}  // namespace p2k::numbers::detail
