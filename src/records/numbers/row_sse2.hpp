// A row of four reals by its template, with SSE2: the byte classes of the whole row, and the four
// values combined two at a time.
#pragma once

#include <emmintrin.h>

namespace p2k::numbers {

// Digits exactly where the template has them, and every other byte up to the line end the
// template's or its alternative (which are '0' where the template has digits, so that a byte
// matched by them is a digit too).
inline bool matches_classes(const row_template& t, const char* p) {
    const __m128i zero = _mm_set1_epi8('0'), nine = _mm_set1_epi8(9);
    uint64_t same = 0;
#pragma GCC unroll 4
    for (size_t at = 0; at < row_span; at += 16) {
        const auto at_t = [&](const void* v) { return _mm_load_si128(reinterpret_cast<const __m128i*>(static_cast<const char*>(v) + at)); };
        const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + at));
        const __m128i d = _mm_sub_epi8(x, zero);
        const __m128i digit = _mm_and_si128(_mm_cmpeq_epi8(_mm_min_epu8(d, nine), d), at_t(t.digit_lanes));
        const __m128i eq = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(x, at_t(t.classes)), _mm_cmpeq_epi8(x, at_t(t.alternative))), digit);
        same |= static_cast<uint64_t>(static_cast<uint32_t>(_mm_movemask_epi8(eq))) << at;
    }
    return (same & t.looked_at) == t.looked_at;
}

// Values j and j + 1: the digits after the point in 16-bit pairs, 32-bit fours and 64-bit
// eights (the SSE2 form of the eight-digit combination in detail::lanes_value), plus the digit
// before the point times its weight; below 10^9, so exact as 32-bit integers and doubles; then
// scaled by one multiplication and one division, signed, stored.
inline void combine_two(const row_template& t, const char* p, const unsigned* at, size_t j, double* out) {
    const auto word = [&](size_t k) { return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p + t.fraction[k])); };
    const __m128i keep = _mm_load_si128(reinterpret_cast<const __m128i*>(t.keep + j));
    const __m128i w = _mm_and_si128(_mm_sub_epi8(_mm_unpacklo_epi64(word(j), word(j + 1)), _mm_set1_epi8('0')), keep);
    const __m128i pairs = _mm_add_epi16(_mm_mullo_epi16(_mm_and_si128(w, _mm_set1_epi16(0xff)), _mm_set1_epi16(10)),
                                        _mm_srli_epi16(w, 8));
    const __m128i fours = _mm_madd_epi16(pairs, _mm_set1_epi32(100 | (1 << 16)));
    const __m128i eights = _mm_add_epi64(_mm_mul_epu32(fours, _mm_set1_epi32(10000)), _mm_srli_epi64(fours, 32));
    const __m128i lead_digits = _mm_unpacklo_epi64(_mm_cvtsi32_si128(static_cast<unsigned char>(p[t.digit[j]])),
                                                   _mm_cvtsi32_si128(static_cast<unsigned char>(p[t.digit[j + 1]])));
    const __m128i m = _mm_sub_epi64(_mm_add_epi64(eights, _mm_mul_epu32(lead_digits, _mm_load_si128(reinterpret_cast<const __m128i*>(t.lead + j)))),
                                    _mm_load_si128(reinterpret_cast<const __m128i*>(t.lead_zeros + j)));
    const __m128d v = _mm_cvtepi32_pd(_mm_shuffle_epi32(m, 0x08));
    const __m128d f0 = _mm_loadu_pd(&detail::scale_pairs[at[j]].times);
    const __m128d f1 = _mm_loadu_pd(&detail::scale_pairs[at[j + 1]].times);
    const __m128d scaled = _mm_div_pd(_mm_mul_pd(v, _mm_unpacklo_pd(f0, f1)), _mm_unpackhi_pd(f0, f1));
    const auto sign = [&](size_t k) { return static_cast<long long>(p[t.sign[k]] == '-') << 63; };
    _mm_storeu_pd(out + j, _mm_xor_pd(scaled, _mm_castsi128_pd(_mm_set_epi64x(sign(j + 1), sign(j)))));
}

inline void combine_values(const row_template& t, const char* p, const unsigned* at, double* out) {
    combine_two(t, p, at, 0, out);
    combine_two(t, p, at, 2, out);
}

}  // namespace p2k::numbers
