#include "records/number_fields.hpp"

#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace p2k {

void format_int12(int32_t v, char* out) {
    char digits[12];
    auto r = std::to_chars(digits, digits + sizeof digits, v);
    size_t n = static_cast<size_t>(r.ptr - digits);
    std::memset(out, ' ', int_field_width - n);
    std::memcpy(out + int_field_width - n, digits, n);
}

namespace {

void right_justify(const char* s, size_t n, char* out, size_t width) {
    std::memset(out, ' ', width - n);
    std::memcpy(out + width - n, s, n);
}

// Decimal exponent of "d.ddd...e+XX" as written by to_chars in scientific form.
int exponent_of(const char* s, const char* end) {
    const char* e = static_cast<const char*>(std::memchr(s, 'e', static_cast<size_t>(end - s)));
    int v = 0;
    std::from_chars(e + (e[1] == '+' ? 2 : 1), end, v);
    return v;
}

// The field of a finite nonzero value from the digits of std::to_chars: exact for every
// magnitude, used where the integer method below does not apply.
void format_real24_by_to_chars(double x, char* out) {
    const double a = std::fabs(x);
    char s[40];
    char text[32];
    size_t n = 0;
    if (std::signbit(x)) text[n++] = '-';

    {
        auto r = std::to_chars(s, s + sizeof s, a, std::chars_format::scientific, 14);
        const int k = exponent_of(s, r.ptr) + 1;  // value = 0.d1..d15 x 10^k
        if (k >= 0 && k <= 15) {
            // s = "d.dddddddddddddd": 15 significant digits at s[0] and s[2..15]
            char digits[15];
            digits[0] = s[0];
            std::memcpy(digits + 1, s + 2, 14);
            if (k == 0) {
                text[n++] = '0';
                text[n++] = '.';
                std::memcpy(text + n, digits, 15);
                n += 15;
            } else {
                std::memcpy(text + n, digits, static_cast<size_t>(k));
                n += static_cast<size_t>(k);
                text[n++] = '.';
                std::memcpy(text + n, digits + k, static_cast<size_t>(15 - k));
                n += static_cast<size_t>(15 - k);
            }
            right_justify(text, n, out, 19);
            std::memset(out + 19, ' ', 5);
            return;
        }
    }

    auto r = std::to_chars(s, s + sizeof s, a, std::chars_format::scientific, 15);
    const int e = exponent_of(s, r.ptr);
    std::memcpy(text + n, s, 17);  // "d.ddddddddddddddd"
    n += 17;
    text[n++] = 'E';
    text[n++] = e < 0 ? '-' : '+';
    int ae = e < 0 ? -e : e;
    text[n++] = static_cast<char>('0' + ae / 100);
    text[n++] = static_cast<char>('0' + ae / 10 % 10);
    text[n++] = static_cast<char>('0' + ae % 10);
    right_justify(text, n, out, real_field_width);
}

// Integer rounding of a positive value m x 2^e (m < 2^53) to p significant digits, p = 15 or 16:
// n = the p-digit integer and exp10 = the decimal exponent of its first digit, so that the value
// is close to n x 10^(exp10 - p + 1). The exact product m x 5^t (t = p - 1 - exp10, at most 32:
// below 2^128) is shifted by e + t bits; the bits shifted out decide the rounding exactly, ties
// to even. From 10^p up the value is an integer below 2^128, divided by 10^-t with its remainder.
// False outside these ranges (magnitudes below about 1e-17 or from about 3e38 up).
__extension__ typedef unsigned __int128 u128;

constexpr int max_pow5 = 32;

template <typename T, size_t N>
constexpr std::array<T, N> powers_of(T base) {
    std::array<T, N> t{};
    T v = 1;
    for (auto& x : t) {
        x = v;
        v *= base;
    }
    return t;
}

constexpr auto pow5_table = powers_of<u128, max_pow5 + 1>(5);
constexpr auto pow10_table = powers_of<uint64_t, 18>(10);
constexpr auto pow10_wide = powers_of<u128, 25>(10);
constexpr auto pow5_narrow = powers_of<uint64_t, 17>(5);

// The smallest doubles at or above 10^n, n = -2 .. 15: 10^n itself from 1 up, and the doubles
// nearest to 1/100 and 1/10, which lie just above them with no double in between. A positive
// double a has the decimal exponent n (10^n <= a < 10^(n+1)) exactly when it lies between
// decade_start[n + 2] and the next entry.
constexpr double decade_start[18] = {0.01, 0.1, 1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6,
                                     1e7,  1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};

struct rounded {
    uint64_t n;
    int exp10;
};

inline bool round_digits(uint64_t m, int e, int exp10_guess, int p, rounded& out) {
    const uint64_t upper = pow10_table[static_cast<size_t>(p)];
    for (int exp10 = exp10_guess; exp10 <= exp10_guess + 1; ++exp10) {
        const int t = p - 1 - exp10;
        uint64_t q;
        bool up;
        if (t < 0) {
            // From 10^p up, an integer m x 2^e (e >= 0) below 2^128, over 10^-t.
            if (e < 0 || e > 127 - 53 || -t >= static_cast<int>(pow10_wide.size())) return false;
            const u128 num = static_cast<u128>(m) << e;
            const u128 div = pow10_wide[static_cast<size_t>(-t)];
            const u128 qq = num / div;
            if (qq >= upper) continue;
            q = static_cast<uint64_t>(qq);
            const u128 rest = num - qq * div;
            up = 2 * rest > div || (2 * rest == div && (q & 1) != 0);
        } else {
            if (t > max_pow5) return false;
            const u128 num = static_cast<u128>(m) * pow5_table[static_cast<size_t>(t)];
            const int s = -(e + t);  // num x 2^-s is the scaled value
            if (s <= 0) {
                if (s < -63 || num > (static_cast<u128>(upper - 1) >> -s)) continue;  // p + 1 digits or more
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

#if defined(__SSE2__)
// The sixteen decimal digits of v < 10^16 as byte values 0 .. 9, the first in the lowest byte:
// v split into 10^8 halves, each into two 4-digit quarters, each quarter spread over four 16-bit
// lanes and divided there by 1000, 100, 10 and 1 with fixed-point multiplications, then each
// lane less ten times the lane before it. Exact for every v < 10^16 (the quarters checked over
// all their values).
__m128i digit_values16(uint64_t v) {
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
void digits16(uint64_t v, char* out) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_add_epi8(digit_values16(v), _mm_set1_epi8('0')));
}
#else
// Eight decimal digits of v < 10^8 as ASCII in one word, the first digit in the lowest byte:
// split into 4-digit, 2-digit and 1-digit lanes by multiplications that stay within each lane.
uint64_t ascii8(uint32_t v) {
    const uint64_t abcd_efgh = (v / 10000) | (static_cast<uint64_t>(v % 10000) << 32);
    const uint64_t q100 = ((abcd_efgh * 10486) >> 20) & 0x0000007f0000007fULL;
    const uint64_t ab_cd_ef_gh = q100 | ((abcd_efgh - q100 * 100) << 16);
    const uint64_t q10 = ((ab_cd_ef_gh * 103) >> 10) & 0x000f000f000f000fULL;
    const uint64_t digits = q10 | ((ab_cd_ef_gh - q10 * 10) << 8);
    return digits + 0x3030303030303030ULL;
}

// Sixteen decimal digits of v < 10^16, leading zeros included.
void digits16(uint64_t v, char* out) {
    for (const uint64_t w : {ascii8(static_cast<uint32_t>(v / 100000000)), ascii8(static_cast<uint32_t>(v % 100000000))}) {
        for (int i = 0; i < 8; ++i) *out++ = static_cast<char>(w >> (8 * i));
    }
}
#endif

// Everything outside the fixed form, and the values at its ends that round out of it: NaN,
// infinities, zero, subnormals and the exponent form. Kept out of line so that the fixed form
// runs without its registers and stack.
[[gnu::noinline]] void format_real24_exponent(double x, char* out) {
    uint64_t bits;
    std::memcpy(&bits, &x, 8);
    const int biased = static_cast<int>((bits >> 52) & 0x7ff);
    const uint64_t frac = bits & ((uint64_t{1} << 52) - 1);
    if (biased == 0x7ff) {
        if (frac != 0) return right_justify("NaN", 3, out, real_field_width);
        if (x < 0) return right_justify("-Infinity", 9, out, real_field_width);
        return right_justify("Infinity", 8, out, real_field_width);
    }
    if (biased == 0) {  // zero and subnormals
        if (frac == 0) {
            std::memcpy(out, "  0.000000000000000E+000", real_field_width);
            return;
        }
        return format_real24_by_to_chars(x, out);
    }
    const bool negative = (bits >> 63) != 0;
    const uint64_t m = frac | (uint64_t{1} << 52);
    const int e = biased - 1075;                              // a = m x 2^e
    const int exp10_guess = ((biased - 1023) * 78913) >> 18;  // floor(log10(2^(biased-1023)))
    rounded r;
    if (!round_digits(m, e, exp10_guess, 16, r)) return format_real24_by_to_chars(x, out);
    // "  d.dddddddddddddddE+0xx", the sign in column 1 for negatives.
    char d[16];
    digits16(r.n, d);
    out[0] = out[1] = ' ';
    out[2] = d[0];
    out[3] = '.';
    std::memcpy(out + 4, d + 1, 15);
    if (negative) out[1] = '-';
    out[19] = 'E';
    out[20] = r.exp10 < 0 ? '-' : '+';
    const int ae = r.exp10 < 0 ? -r.exp10 : r.exp10;  // below 100 in this range
    out[21] = '0';
    out[22] = static_cast<char>('0' + ae / 10);
    out[23] = static_cast<char>('0' + ae % 10);
}

// Laid out in a scratch field by overlapping fixed-size copies, then copied whole:
// "0d1..d15" at column 2, the digits after the point moved one column right, the
// point, then the leading and trailing blanks and the sign.
void lay_out_fixed(uint64_t q, int k, bool negative, char* out) {
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
    std::memcpy(out, f, real_field_width);
}

// Every value the table path below leaves: the fixed form by one comparison for the decimal
// exponent and the digits of the exact product m x 5^t (t <= 16, below 2^91) shifted right by
// s = -(e + t) bits (1 <= s <= 44), whose bits shifted out decide the rounding exactly, ties to
// even; the carries into a new leading digit; the exponent form.
[[gnu::noinline]] void format_real24_general(double x, char* out) {
    // The fixed form takes the values whose 15-digit rounding lies in [0.1, 1e15): all of
    // [0.0999, 1e15) is looked at, the rounding decides at the ends. There the decimal exponent
    // comes from one comparison, and the 15 digits from the exact product m x 5^t (t <= 16, below
    // 2^91) shifted right by s = -(e + t) bits (1 <= s <= 44): the bits shifted out decide the
    // rounding exactly, ties to even.
    const double a = std::fabs(x);
    if (a >= 0.0999 && a < 1e15) {
        uint64_t bits;
        std::memcpy(&bits, &x, 8);
        const int biased = static_cast<int>((bits >> 52) & 0x7ff);
        const uint64_t m = (bits & ((uint64_t{1} << 52) - 1)) | (uint64_t{1} << 52);
        const int e = biased - 1075;                              // a = m x 2^e
        const int exp10_guess = ((biased - 1023) * 78913) >> 18;  // floor(log10(2^(biased-1023)))
        const int exp10 = exp10_guess + (a >= decade_start[static_cast<size_t>(exp10_guess + 3)] ? 1 : 0);
        const int t = 14 - exp10;
        const u128 num = static_cast<u128>(m) * pow5_narrow[static_cast<size_t>(t)];
        const int sh = -(e + t);
        const auto low = static_cast<uint64_t>(num), high = static_cast<uint64_t>(num >> 64);
        uint64_t q = (low >> sh) | (high << (64 - sh));
        const uint64_t rest = low << (64 - sh);  // the bits shifted out, at the top of a word
        constexpr uint64_t half = uint64_t{1} << 63;
        q += (rest > half || (rest == half && (q & 1) != 0)) ? 1 : 0;
        int k = exp10 + 1;  // the value is 0.d1..d15 x 10^k
        if (q == pow10_table[15]) {  // carried into a new leading digit
            q = pow10_table[14];
            ++k;
        }
        if (k >= 0 && k <= 15) {
            lay_out_fixed(q, k, (bits >> 63) != 0, out);
            return;
        }
    }
    format_real24_exponent(x, out);
}

#if defined(__SSE2__)
// Per k, the fixed-form columns 3 .. 18 from the digit values D = 0 d1 .. d15: the integer digits
// from D moved one byte down (bytes below k), the point at byte k, the fraction digits from D
// itself (bytes above k), all made ASCII; and columns 0 .. 2 by sign.
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
constexpr auto fixed_layouts = make_fixed_layouts();
#endif

// The fixed form by table, binade by binade of the magnitudes 2^-4 .. 2^50: the value is
// m' x 2^(biased - 1086) with m' = (1.f) x 2^63; a binade holds at most one power of ten, above
// which the decimal exponent is one more. For each side the table gives the factor
// C = 5^t x 2^(64 - s) (below 2^64) for which the high word of m' x C is q, the value in units of
// its 15th digit, and the low word the bits below them exactly. Sides outside the fixed form
// give q >= 10^15 (C = 2^63), as do carries into a new leading digit: both go to the general path.
constexpr int first_binade = 1019, fixed_binades = 54;  // biased exponents 1019 .. 1072

struct fixed_table {
    uint64_t decade_bits[fixed_binades];  // magnitude bits from which the upper side applies
    uint64_t factor[2 * fixed_binades];   // lower, upper side of each binade
#if defined(__SSE2__)
    const fixed_layout* layout[2 * fixed_binades];
#else
    uint8_t k[2 * fixed_binades];
#endif
};

constexpr fixed_table make_fixed_table() {
    fixed_table t{};
    for (int i = 0; i < fixed_binades; ++i) {
        const int biased = first_binade + i;
        const int exp10 = ((biased - 1023) * 78913) >> 18;  // of the binade's lowest value
        const uint64_t bits = std::bit_cast<uint64_t>(decade_start[static_cast<size_t>(exp10 + 3)]);
        const uint64_t top = static_cast<uint64_t>(biased + 1) << 52;
        t.decade_bits[i] = bits < top ? bits : ~uint64_t{0};
        for (int upper = 0; upper < 2; ++upper) {
            const int n = exp10 + upper;
            const bool fixed = n >= -1 && n <= 14;
            const int tt = 14 - n;
            const size_t side = static_cast<size_t>(2 * i + upper);
            t.factor[side] = fixed ? pow5_narrow[static_cast<size_t>(tt)] << (64 - (1086 - biased - tt)) : uint64_t{1} << 63;
#if defined(__SSE2__)
            t.layout[side] = &fixed_layouts[fixed ? static_cast<size_t>(n + 1) : 0];
#else
            t.k[side] = static_cast<uint8_t>(fixed ? n + 1 : 0);
#endif
        }
    }
    return t;
}
constexpr fixed_table fixed_sides = make_fixed_table();

}  // namespace

void format_real24(double x, char* out) {
    const uint64_t bits = std::bit_cast<uint64_t>(x);
    const uint64_t magnitude = bits & ~(uint64_t{1} << 63);
    const uint32_t binade = static_cast<uint32_t>(magnitude >> 52) - first_binade;
    if (binade < fixed_binades) {
        const uint32_t side = 2 * binade + (magnitude >= fixed_sides.decade_bits[binade] ? 1 : 0);
#if defined(__SSE2__)
        const fixed_layout& l = *fixed_sides.layout[side];
        const uint64_t lead = l.lead[bits >> 63];
#endif
        const u128 num = static_cast<u128>((bits << 11) | (uint64_t{1} << 63)) * fixed_sides.factor[side];
        uint64_t q = static_cast<uint64_t>(num >> 64);
        // The bits below q: the lowest is always 0 and takes the parity of q, so that a tie
        // rounds up exactly when q is odd.
        const uint64_t rest = static_cast<uint64_t>(num) | (q & 1);
        q += rest > (uint64_t{1} << 63) ? 1 : 0;
        if (q < pow10_table[15]) {
#if defined(__SSE2__)
            const __m128i d = digit_values16(q);
            const __m128i integer = _mm_and_si128(_mm_srli_si128(d, 1), _mm_load_si128(reinterpret_cast<const __m128i*>(l.integer_mask)));
            const __m128i fraction = _mm_and_si128(d, _mm_load_si128(reinterpret_cast<const __m128i*>(l.fraction_mask)));
            const __m128i columns = _mm_or_si128(_mm_or_si128(integer, fraction), _mm_load_si128(reinterpret_cast<const __m128i*>(l.ascii)));
            std::memcpy(out, &lead, 8);
            std::memcpy(out + 16, "        ", 8);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 3), columns);
#else
            lay_out_fixed(q, fixed_sides.k[side], (bits >> 63) != 0, out);
#endif
            return;
        }
    }
    format_real24_general(x, out);
}

std::string shortest_text(double v) {
    char b[64];
    auto r = std::to_chars(b, b + sizeof b, v);
    std::string s(b, r.ptr);
    if (std::isfinite(v) && s.find_first_of(".e") == std::string::npos) s += ".0";
    return s;
}

}  // namespace p2k
