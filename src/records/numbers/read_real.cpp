// Plain real constants of every other form: a digit loop, the exact fast path where it applies,
// the library conversion for the rest of the plain forms.
#include "records/numbers/read_real.hpp"

#include <charconv>

namespace p2k::numbers {
namespace {

using namespace detail;

// The digits at the start of the 8 bytes at p (at most 8) and their value.
struct digit_run {
    int count;
    uint64_t value;
};
digit_run leading_digits(const char* p) {
    const uint64_t w = load8(p);
    const uint64_t other = non_digits(w);
    const int count = other == 0 ? 8 : std::countr_zero(other) / 8;
    if (count == 0) return {0, 0};
    // The digits moved to the top lanes: the lanes below become leading zeros.
    return {count, lanes_value((w - zeros8) << (8 * (8 - count)))};
}

// A constant beyond one exact operation, in the one form the library conversion reads as
// written (no leading '+', exponent letter E or none): converted by it, as the general
// conversion would. Other forms and values out of range are left to the general conversion.
[[gnu::noinline]] scanned library_value(const char* start, const char* end) {
    if (*start == '+') return {nullptr, 0};
    for (const char* q = start; q < end; ++q)
        if ((*q | 0x20) == 'd' || (*q | 0x20) == 'q') return {nullptr, 0};
    double v = 0;
    const auto r = std::from_chars(start, end, v, std::chars_format::general);
    if (r.ec != std::errc() || r.ptr != end) return {nullptr, 0};
    return {end, v};
}

}  // namespace

scanned other_form(const char* p) {
    const char* const start = p;
    const bool negative = *p == '-';
    if (*p == '-' || *p == '+') ++p;
    // The integer part, most often one digit.
    uint64_t m = digit_value(p[0]);
    const char* const int_start = p;
    if (m < 10 && digit_value(p[1]) >= 10) {
        ++p;
    } else {
        m = 0;
        for (unsigned d; (d = digit_value(*p)) < 10; ++p) m = m * 10 + d;
    }
    // Digits taken into m; beyond 19 it wraps around and is not used.
    int count = static_cast<int>(p - int_start);
    int scale = 0;  // decimal exponent of m's last digit
    if (*p == '.') {
        ++p;
        for (;;) {
            const digit_run r = leading_digits(p);
            m = m * pow10_u64[static_cast<size_t>(r.count)] + r.value;
            count += r.count;
            scale -= r.count;
            p += r.count;
            if (r.count < 8 || digit_value(*p) >= 10) break;
        }
    }
    if (count == 0) return {nullptr, 0};
    if (const char c = static_cast<char>(*p | 0x20); c == 'e' || c == 'd' || c == 'q') {
        ++p;
        const bool exp_negative = *p == '-';
        if (*p == '-' || *p == '+') ++p;
        // Up to 4 digits, two of them in the common case; a fifth is refused by the caller as a
        // constant that does not end.
        const unsigned d0 = digit_value(p[0]), d1 = digit_value(p[1]);
        int x;
        if (d0 < 10 && d1 < 10 && digit_value(p[2]) >= 10) {
            x = static_cast<int>(d0 * 10 + d1);
            p += 2;
        } else {
            x = 0;
            int n = 0;
            for (unsigned d; n < 4 && (d = digit_value(p[n])) < 10; ++n) x = x * 10 + static_cast<int>(d);
            if (n == 0) return {nullptr, 0};
            p += n;
        }
        scale += exp_negative ? -x : x;
    }
    if (count > 19 || m > (uint64_t{1} << 53)) return library_value(start, p);
    if (m == 0) return {p, negative ? -0.0 : 0.0};
    if (scale < -max_exact_pow10 || scale > max_exact_pow10) return library_value(start, p);
    const double v = scaled(m, scale);
    return {p, negative ? -v : v};
}

}  // namespace p2k::numbers
