// A row of four reals by its template, one byte and one value at a time.
#pragma once

namespace p2k::numbers {

// Digits exactly where the template has them, and every other byte up to the line end the
// template's or its alternative.
inline bool matches_classes(const row_template& t, const char* p) {
    for (uint32_t i = 0; i < t.length; ++i) {
        const bool digit = detail::digit_value(p[i]) < 10;
        if (digit ? t.digit_limit[i] == 0 : (p[i] != t.classes[i] && p[i] != t.alternative[i])) return false;
    }
    return true;
}

// The exponents of the values stored first, all in the range of one exact scaling or false;
// then those values.
inline bool combine_values(const row_template& t, const char* p, double* out) {
    using namespace detail;
    unsigned at[row_values];  // into scale_pairs
    for (size_t j = first_stored; j < row_values; ++j) {
        const char* e = p + t.exponent[j];
        const int x = static_cast<int>(digit_value(e[2]) * 10 + digit_value(e[3]));
        at[j] = static_cast<unsigned>((e[1] == '-' ? -x : x) + t.scale_at[j]);
        if (at[j] > 2 * max_exact_pow10) return false;
    }
    for (size_t j = first_stored; j < row_values; ++j) {
        const uint64_t m = lanes_value(((load8(p + t.fraction[j]) & t.keep[j]) | (zeros8 & ~t.keep[j])) - zeros8) +
                           static_cast<unsigned char>(p[t.digit[j]]) * t.lead[j] - t.lead_zeros[j];
        const double v = (static_cast<double>(m) * scale_pairs[at[j]].times) / scale_pairs[at[j]].over;
        out[j] = p[t.sign[j]] == '-' ? -v : v;
    }
    return true;
}

}  // namespace p2k::numbers
