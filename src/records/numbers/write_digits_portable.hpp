// Decimal digits in plain 64-bit arithmetic, for targets without SSE2 (and built on every target
// by the portable configuration, so that it stays tested).
#pragma once

#include <cstdint>
#include <cstring>

namespace p2k::numbers::detail {

// Eight decimal digits of v < 10^8 as ASCII in one word, the first digit in the lowest byte:
// split into 4-digit, 2-digit and 1-digit lanes by multiplications that stay within each lane.
// 10486 / 2^20 stands for 1/100 over 0 .. 9999 and 103 / 2^10 for 1/10 over 0 .. 99, exact there
// (T. Granlund and P. Montgomery, "Division by Invariant Integers using Multiplication",
// PLDI 1994).
inline uint64_t ascii8(uint32_t v) {
    const uint64_t abcd_efgh = (v / 10000) | (static_cast<uint64_t>(v % 10000) << 32);
    const uint64_t q100 = ((abcd_efgh * 10486) >> 20) & 0x0000007f0000007fULL;
    const uint64_t ab_cd_ef_gh = q100 | ((abcd_efgh - q100 * 100) << 16);
    const uint64_t q10 = ((ab_cd_ef_gh * 103) >> 10) & 0x000f000f000f000fULL;
    const uint64_t digits = q10 | ((ab_cd_ef_gh - q10 * 10) << 8);
    return digits + 0x3030303030303030ULL;
}

// Sixteen decimal digits of v < 10^16, leading zeros included.
inline void digits16(uint64_t v, char* out) {
    for (const uint64_t w : {ascii8(static_cast<uint32_t>(v / 100000000)), ascii8(static_cast<uint32_t>(v % 100000000))}) {
        for (int i = 0; i < 8; ++i) *out++ = static_cast<char>(w >> (8 * i));
    }
}

// The fixed form of q, the value in units of its 15th digit (10^14 <= q < 10^15), with k digits
// before the point: all 24 columns, laid out in a scratch field by overlapping fixed-size copies
// ("0d1..d15" at column 2, the digits after the point moved one column right, the point, then
// the leading and trailing blanks and the sign), then copied whole.
inline void lay_out_fixed(uint64_t q, unsigned k, bool negative, char* out) {
    char d[32];
    digits16(q, d);
    std::memcpy(d + 16, d, 16);  // defined bytes for the second copy to run over
    char f[40];
    std::memcpy(f + 2, d, 16);
    std::memcpy(f + 4 + k, d + 1 + k, 16);
    f[3 + k] = '.';
    std::memcpy(f + 19, "        ", 8);
    f[0] = f[1] = ' ';
    if (k != 0) f[2] = ' ';
    if (negative) f[k == 0 ? 1 : 2] = '-';
    std::memcpy(out, f, 24);
}

// As the fixed-form table's side gives k.
inline void lay_out_fixed_side(uint64_t q, uint32_t side, bool negative, char* out) {
    lay_out_fixed(q, fixed_sides.k[side], negative, out);
}

}  // namespace p2k::numbers::detail
