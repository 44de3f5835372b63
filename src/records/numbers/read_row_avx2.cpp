// The byte classes of a row checked 32 bytes at a time, a whole row in two AVX2 registers (the
// classification of a block of text by vector compares and one mask per block, as in G. Langdale
// and D. Lemire, "Parsing Gigabytes of JSON per Second", VLDB Journal 28(6), 2019). Compiled
// for AVX2 in this function alone, which runs only where row_paths() finds the processor has it;
// the same test as matches_classes in read_row_sse2.hpp.
#include "records/numbers/read_row.hpp"

#if defined(P2K_ROW_AVX2)
#include <immintrin.h>

namespace p2k::numbers {
namespace {

// Not a lambda, which would not be compiled for AVX2.
__attribute__((target("avx2"))) inline __m256i load(const void* v) {
    return _mm256_loadu_si256(static_cast<const __m256i*>(v));
}

}  // namespace

__attribute__((target("avx2"))) bool matches_classes_avx2(const row_template& t, const char* p) {
    uint64_t same = 0;
    for (size_t at = 0; at < row_span; at += 32) {
        const __m256i x = load(p + at);
        const __m256i d = _mm256_sub_epi8(x, load(t.classes + at));
        const __m256i within = _mm256_cmpeq_epi8(_mm256_min_epu8(d, load(t.digit_limit + at)), d);
        const __m256i eq = _mm256_or_si256(within, _mm256_cmpeq_epi8(x, load(t.alternative + at)));
        same |= static_cast<uint64_t>(static_cast<uint32_t>(_mm256_movemask_epi8(eq))) << at;
    }
    return (same & t.looked_at) == t.looked_at;
}

}  // namespace p2k::numbers
#endif
