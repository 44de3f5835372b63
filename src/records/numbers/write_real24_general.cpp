// The 24-column real field of every value the table leaves: the fixed form at the ends of its
// range and on carries into a new leading digit, zero, and the exponent form.
#include "records/number_fields.hpp"
#include "records/numbers/write_detail.hpp"

#include <bit>
#include <cmath>
#include <cstring>

namespace p2k::numbers::detail {
namespace {

// Integer rounding of a positive value m x 2^e (m < 2^53) to 16 significant digits: n = the
// 16-digit integer and exp10 = the decimal exponent of its first digit, so that the value is
// close to n x 10^(exp10 - 15). The exact product m x 5^t (t = 15 - exp10, at most 32: below
// 2^128) is shifted by e + t bits; the bits shifted out decide the rounding exactly, ties to even.
// From 10^16 up the value is an integer below 2^128, divided by 10^-t with its remainder. False
// outside these ranges (magnitudes below about 1e-17 or from about 3e38 up).
struct rounded {
    uint64_t n;
    int exp10;
};

bool round16(uint64_t m, int e, int exp10_guess, rounded& out) {
    constexpr uint64_t upper = pow10_u64[16];
    for (int exp10 = exp10_guess; exp10 <= exp10_guess + 1; ++exp10) {
        const int t = 15 - exp10;
        uint64_t q;
        bool up;
        if (t < 0) {
            if (e < 0 || e > 127 - 53 || -t >= static_cast<int>(pow10_u128.size())) return false;
            const u128 num = static_cast<u128>(m) << e;
            const u128 div = pow10_u128[static_cast<size_t>(-t)];
            const u128 qq = num / div;
            if (qq >= upper) continue;
            q = static_cast<uint64_t>(qq);
            const u128 rest = num - qq * div;
            up = 2 * rest > div || (2 * rest == div && (q & 1) != 0);
        } else {
            if (t >= static_cast<int>(pow5_u128.size())) return false;
            const u128 num = static_cast<u128>(m) * pow5_u128[static_cast<size_t>(t)];
            const int s = -(e + t);  // num x 2^-s is the scaled value
            if (s <= 0) {
                if (s < -63 || num > (static_cast<u128>(upper - 1) >> -s)) continue;  // 17 digits or more
                q = static_cast<uint64_t>(num << -s);
                up = false;
            } else {
                if (s > 127) return false;
                const u128 qq = num >> s;
                if (qq >= upper) continue;
                q = static_cast<uint64_t>(qq);
                const u128 rest = num - (qq << s);
                const u128 half = static_cast<u128>(1) << (s - 1);
                up = rest > half || (rest == half && (q & 1) != 0);
            }
        }
        if (q < upper / 10) return false;  // the guess was too high: cannot happen, stay exact
        q += up ? 1 : 0;
        int x = exp10;
        if (q == upper) {  // carried into a new leading digit
            q = upper / 10;
            ++x;
        }
        out = {q, x};
        return true;
    }
    return false;
}

// The exponent form, "  d.dddddddddddddddE+0xx", the sign in column 1 for negatives. Zero is
// written by its own constant; NaN, infinities, subnormals and the magnitudes round16 does not
// reach by the reference.
void format_exponent(double x, char* out) {
    const uint64_t bits = std::bit_cast<uint64_t>(x);
    const int biased = static_cast<int>((bits >> 52) & 0x7ff);
    const uint64_t frac = bits & ((uint64_t{1} << 52) - 1);
    if (biased == 0 && frac == 0) {
        std::memcpy(out, "  0.000000000000000E+000", 24);
        return;
    }
    rounded r;
    if (biased == 0 || biased == 0x7ff ||
        !round16(frac | (uint64_t{1} << 52), biased - 1075, floor_log10_pow2(biased - 1023), r))
        return reference_real24(x, out);
    char d[16];
    digits16(r.n, d);
    out[0] = ' ';
    out[1] = (bits >> 63) != 0 ? '-' : ' ';
    out[2] = d[0];
    out[3] = '.';
    std::memcpy(out + 4, d + 1, 15);
    out[19] = 'E';
    out[20] = r.exp10 < 0 ? '-' : '+';
    const int ae = r.exp10 < 0 ? -r.exp10 : r.exp10;  // below 100 in this range
    out[21] = '0';
    out[22] = static_cast<char>('0' + ae / 10);
    out[23] = static_cast<char>('0' + ae % 10);
}

}  // namespace

// The fixed form takes the values whose 15-digit rounding lies in [0.1, 1e15): all of
// [0.0999, 1e15) is looked at, the rounding decides at the ends. The decimal exponent comes from
// one comparison, and the 15 digits from the exact product m x 5^t (t <= 16, below 2^91) shifted
// right by s = -(e + t) bits (1 <= s <= 44): the bits shifted out decide the rounding exactly,
// ties to even.
void format_real24_general(double x, char* out) {
    const double a = std::fabs(x);
    if (a >= 0.0999 && a < 1e15) {
        const uint64_t bits = std::bit_cast<uint64_t>(x);
        const int biased = static_cast<int>((bits >> 52) & 0x7ff);
        const uint64_t m = (bits & ((uint64_t{1} << 52) - 1)) | (uint64_t{1} << 52);
        const int e = biased - 1075;  // a = m x 2^e
        const int exp10_guess = floor_log10_pow2(biased - 1023);
        const int exp10 = exp10_guess + (a >= decade_start[static_cast<size_t>(exp10_guess + 3)] ? 1 : 0);
        const int t = 14 - exp10;
        const u128 num = static_cast<u128>(m) * pow5_u64[static_cast<size_t>(t)];
        const int sh = -(e + t);
        const auto low = static_cast<uint64_t>(num), high = static_cast<uint64_t>(num >> 64);
        uint64_t q = (low >> sh) | (high << (64 - sh));
        const uint64_t rest = low << (64 - sh);  // the bits shifted out, at the top of a word
        constexpr uint64_t half = uint64_t{1} << 63;
        q += (rest > half || (rest == half && (q & 1) != 0)) ? 1 : 0;
        int k = exp10 + 1;  // the value is 0.d1..d15 x 10^k
        if (q == pow10_u64[15]) {  // carried into a new leading digit
            q = pow10_u64[14];
            ++k;
        }
        if (k >= 0 && k <= 15) {
            lay_out_fixed(q, static_cast<unsigned>(k), (bits >> 63) != 0, out);
            return;
        }
    }
    format_exponent(x, out);
}

}  // namespace p2k::numbers::detail
