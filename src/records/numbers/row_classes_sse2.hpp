// A row's byte classes against a template's, sixteen bytes at a time with SSE2.
#pragma once

#include <emmintrin.h>

namespace p2k::numbers {

// Every byte up to the line end in the class the template has there, or in its alternative.
inline bool matches_classes(const row_template& t, const char* p) {
    const __m128i zero = _mm_set1_epi8('0'), nine = _mm_set1_epi8(9), plus = _mm_set1_epi8('+'), two = _mm_set1_epi8(2);
    uint64_t same = 0;
#pragma GCC unroll 4
    for (size_t at = 0; at < row_span; at += 16) {
        const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + at));
        const __m128i d = _mm_sub_epi8(x, zero);
        const __m128i digit = _mm_cmpeq_epi8(_mm_min_epu8(d, nine), d);
        __m128i c = _mm_sub_epi8(x, _mm_and_si128(digit, d));          // digits become '0'
        c = _mm_add_epi8(c, _mm_and_si128(_mm_cmpeq_epi8(x, plus), two));  // '+' becomes '-'
        const __m128i eq = _mm_or_si128(_mm_cmpeq_epi8(c, _mm_load_si128(reinterpret_cast<const __m128i*>(t.classes + at))),
                                        _mm_cmpeq_epi8(c, _mm_load_si128(reinterpret_cast<const __m128i*>(t.alternative + at))));
        same |= static_cast<uint64_t>(static_cast<uint32_t>(_mm_movemask_epi8(eq))) << at;
    }
    return (same & t.looked_at) == t.looked_at;
}

}  // namespace p2k::numbers
