// The 24-column real field by the rule itself, on the correctly rounded digits of std::to_chars.
#include "records/number_fields.hpp"
#include "records/numbers/write_detail.hpp"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace p2k::numbers::detail {
namespace {

void right_justify(const char* s, size_t n, char* out, size_t width = real_field_width) {
    std::memset(out, ' ', width - n);
    std::memcpy(out + width - n, s, n);
}

// "d.ddd...e+XX" of |x| with `decimals` digits after the point, and its decimal exponent.
int scientific(double a, int decimals, char* s) {
    const auto r = std::to_chars(s, s + 40, a, std::chars_format::scientific, decimals);
    const char* e = static_cast<const char*>(std::memchr(s, 'e', static_cast<size_t>(r.ptr - s)));
    int exp10 = 0;
    std::from_chars(e + (e[1] == '+' ? 2 : 1), r.ptr, exp10);
    return exp10;
}

}  // namespace

// The value is 0.d1..d15 x 10^k after rounding to 15 digits; for 0 <= k <= 15 it takes the fixed
// form (k digits before the point), otherwise 16 digits and a 3-digit exponent. -0.0 is 0.0.
void reference_real24(double x, char* out) {
    if (std::isnan(x)) return right_justify("NaN", 3, out);
    if (std::isinf(x)) return x < 0 ? right_justify("-Infinity", 9, out) : right_justify("Infinity", 8, out);
    const double a = std::fabs(x);
    char s[40];
    char text[32];
    size_t n = 0;
    if (x < 0) text[n++] = '-';
    if (a != 0) {
        if (const int k = scientific(a, 14, s) + 1; k >= 0 && k <= 15) {
            if (k == 0) text[n++] = '0';
            for (int i = 0; i < 15; ++i) {
                if (i == k) text[n++] = '.';
                text[n++] = s[i == 0 ? 0 : i + 1];
            }
            if (k == 15) text[n++] = '.';
            right_justify(text, n, out, 19);  // then 5 blanks
            std::memset(out + 19, ' ', 5);
            return;
        }
    }
    int e = 0;
    if (a != 0) {
        e = scientific(a, 15, s);
    } else {
        std::memcpy(s, "0.000000000000000", 17);
    }
    std::memcpy(text + n, s, 17);
    n += 17;
    text[n++] = 'E';
    text[n++] = e < 0 ? '-' : '+';
    const int ae = std::abs(e);
    text[n++] = static_cast<char>('0' + ae / 100);
    text[n++] = static_cast<char>('0' + ae / 10 % 10);
    text[n++] = static_cast<char>('0' + ae % 10);
    right_justify(text, n, out);
}

}  // namespace p2k::numbers::detail
