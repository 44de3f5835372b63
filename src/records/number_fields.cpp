#include "records/number_fields.hpp"

#include <charconv>
#include <cmath>
#include <cstring>

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

}  // namespace

void format_real24(double x, char* out) {
    if (std::isnan(x)) return right_justify("NaN", 3, out, real_field_width);
    if (std::isinf(x)) {
        if (x < 0) return right_justify("-Infinity", 9, out, real_field_width);
        return right_justify("Infinity", 8, out, real_field_width);
    }
    const bool negative = std::signbit(x) && x != 0;
    const double a = std::fabs(x);
    char s[40];
    char text[32];
    size_t n = 0;
    if (negative) text[n++] = '-';

    if (a != 0) {
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

    int e = 0;
    if (a == 0) {
        std::memcpy(text + n, "0.000000000000000", 17);
    } else {
        auto r = std::to_chars(s, s + sizeof s, a, std::chars_format::scientific, 15);
        e = exponent_of(s, r.ptr);
        std::memcpy(text + n, s, 17);  // "d.ddddddddddddddd"
    }
    n += 17;
    text[n++] = 'E';
    text[n++] = e < 0 ? '-' : '+';
    int ae = e < 0 ? -e : e;
    text[n++] = static_cast<char>('0' + ae / 100);
    text[n++] = static_cast<char>('0' + ae / 10 % 10);
    text[n++] = static_cast<char>('0' + ae % 10);
    right_justify(text, n, out, real_field_width);
}

}  // namespace p2k
