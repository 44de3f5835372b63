// A row of four reals by its template, with SSE2: the byte classes of the whole row, and the
// values stored combined side by side.
#pragma once

#include <emmintrin.h>

#include <cstring>

namespace p2k::numbers {

// Digits exactly where the template has them, and every other byte up to the line end the
// template's or its alternative (which are '0' where the template has digits, so that a byte
// matched by them is a digit too): a byte less its class byte at most its limit (a digit where
// the limit is 9, the class byte itself where it is 0), or its alternative.
inline bool matches_classes(const row_template& t, const char* p) {
    uint64_t same = 0;
#pragma GCC unroll 4
    for (size_t at = 0; at < row_span; at += 16) {
        const auto at_t = [&](const void* v) { return _mm_load_si128(reinterpret_cast<const __m128i*>(static_cast<const char*>(v) + at)); };
        const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + at));
        const __m128i d = _mm_sub_epi8(x, at_t(t.classes));
        const __m128i within = _mm_cmpeq_epi8(_mm_min_epu8(d, at_t(t.digit_limit)), d);
        const __m128i eq = _mm_or_si128(within, _mm_cmpeq_epi8(x, at_t(t.alternative)));
        same |= static_cast<uint64_t>(static_cast<uint32_t>(_mm_movemask_epi8(eq))) << at;
    }
    return (same & t.looked_at) == t.looked_at;
}

// The values stored are two, one register's worth, at fixed places in it.
static_assert(first_stored == 2 && row_values == 4, "the SSE2 row path combines values 2 and 3 alone");

// The 4 bytes at column c[k] of the row, for values 2 and 3, in the 32-bit lanes of the same
// number of one register; lanes 0 and 1 zero.
inline __m128i columns4(const char* p, const uint8_t* c) {
    const auto word = [&](size_t k) {
        uint32_t w;
        std::memcpy(&w, p + c[k], 4);
        return _mm_cvtsi32_si128(static_cast<int>(w));
    };
    return _mm_slli_si128(_mm_unpacklo_epi32(word(2), word(3)), 8);
}

// Values j and j + 1: the digits after the point in 16-bit pairs, 32-bit fours and 64-bit
// eights (the SSE2 form of the eight-digit combination in detail::lanes_value), plus the digit
// before the point times its weight; below 10^9, so exact as 32-bit integers and doubles; then
// scaled by one multiplication and one division, signed (`negative`: all ones in the 64-bit lane
// of a negative value), stored.
inline void combine_two(const row_template& t, const char* p, const int32_t* at, __m128i negative, size_t j, double* out) {
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
    const __m128d f0 = _mm_loadu_pd(&detail::scale_pairs[static_cast<size_t>(at[j])].times);
    const __m128d f1 = _mm_loadu_pd(&detail::scale_pairs[static_cast<size_t>(at[j + 1])].times);
    const __m128d scaled = _mm_div_pd(_mm_mul_pd(v, _mm_unpacklo_pd(f0, f1)), _mm_unpackhi_pd(f0, f1));
    const __m128i sign_bit = _mm_set1_epi64x(static_cast<long long>(uint64_t{1} << 63));
    _mm_storeu_pd(out + j, _mm_xor_pd(scaled, _mm_castsi128_pd(_mm_and_si128(negative, sign_bit))));
}

// The exponents of values 2 and 3 from their columns "E+dd" (digits as their low four bits),
// checked for the range of one exact scaling; then the two values.
inline bool combine_values(const row_template& t, const char* p, double* out) {
    const __m128i e = columns4(p, t.exponent);
    const __m128i digits = _mm_and_si128(_mm_srli_epi32(e, 16), _mm_set1_epi32(0x0f0f));
    const __m128i x = _mm_add_epi32(_mm_mullo_epi16(_mm_and_si128(digits, _mm_set1_epi32(0xff)), _mm_set1_epi32(10)),
                                    _mm_srli_epi32(digits, 8));
    const __m128i minus = _mm_cmpeq_epi32(_mm_and_si128(e, _mm_set1_epi32(0xff00)), _mm_set1_epi32('-' << 8));
    const __m128i at = _mm_add_epi32(_mm_sub_epi32(_mm_xor_si128(x, minus), minus),
                                     _mm_load_si128(reinterpret_cast<const __m128i*>(t.scale_at)));
    const __m128i outside = _mm_or_si128(_mm_cmpgt_epi32(at, _mm_set1_epi32(2 * detail::max_exact_pow10)),
                                         _mm_cmplt_epi32(at, _mm_setzero_si128()));
    if ((_mm_movemask_epi8(outside) & 0xff00) != 0) return false;
    alignas(16) int32_t index[row_values];
    _mm_store_si128(reinterpret_cast<__m128i*>(index), at);
    const __m128i negative = _mm_cmpeq_epi32(_mm_and_si128(columns4(p, t.sign), _mm_set1_epi32(0xff)), _mm_set1_epi32('-'));
    combine_two(t, p, index, _mm_unpackhi_epi32(negative, negative), first_stored, out);
    return true;
}

}  // namespace p2k::numbers
