// The template of a row of four reals, taken from a row the scan has read, and the paths by
// which later rows are checked against it.
#include "records/numbers/read_row.hpp"

#include "records/numbers/read_real.hpp"

namespace p2k::numbers {

void learn_row(row_template& t, const char* p, const char* lf) {
    t.length = 0;
    const size_t length = static_cast<size_t>(lf - p) + 1;
    if (length > row_span) return;
    for (size_t i = 0; i < row_span; ++i) {
        const char c = i < length ? p[i] : '\0';
        const bool digit = i < length && detail::digit_value(c) < 10;
        t.digit_limit[i] = digit ? 9 : 0;
        t.classes[i] = t.alternative[i] = digit ? '0' : c;
    }
    // A blank before a value may hold its sign only where another blank or the line start stays
    // before it as the separator.
    size_t at = 0;
    for (size_t j = 0; j < row_values; ++j) {
        while (p[at] == ' ') ++at;
        const bool signed_ = p[at] == '-' || p[at] == '+';
        const size_t digit = at + (signed_ ? 1 : 0);
        const shape_digits value = solver_shape_digits(p + digit);
        if (value.end == nullptr) return;
        const size_t shape = static_cast<size_t>(value.end - (p + digit));  // 13 or 14 bytes
        const bool nine = shape == 14;
        t.digit[j] = static_cast<uint8_t>(digit);
        t.fraction[j] = static_cast<uint8_t>(digit + (nine ? 2 : 1));
        t.exponent[j] = static_cast<uint8_t>(digit + (nine ? 10 : 9));
        t.scale_at[j] = (nine ? -8 : -7) + detail::max_exact_pow10;
        t.keep[j] = nine ? ~uint64_t{0} : ~uint64_t{0xff};
        t.lead[j] = nine ? 100000000 : 10000000;
        t.lead_zeros[j] = '0' * t.lead[j];
        t.sign[j] = static_cast<uint8_t>(digit);  // never '-': no sign column
        if (signed_) {
            if (p[at] == '+') return;
            t.sign[j] = static_cast<uint8_t>(at);
            t.alternative[at] = ' ';
        } else if (at == 1 || (at >= 2 && p[at - 2] == ' ')) {
            t.sign[j] = static_cast<uint8_t>(at - 1);
            t.alternative[at - 1] = '-';
        }
        const size_t exp_sign = t.exponent[j] + 1;
        t.classes[exp_sign] = '+';
        t.alternative[exp_sign] = '-';
        at = digit + shape;
        if (p[at] != ' ' && p + at != lf && !(p[at] == '\r' && p + at + 1 == lf)) return;
    }
    t.looked_at = length == 64 ? ~uint64_t{0} : (uint64_t{1} << length) - 1;
    t.length = static_cast<uint32_t>(length);
}

namespace {

std::span<const row_path> available_row_paths() {
    static const row_path all[] = {row_path::baseline, row_path::avx2};
#if defined(P2K_ROW_AVX2)
    // The runtime sets up what the processor has before main, but a static initializer such as
    // chosen_row_path may come first.
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx2")) return all;
#endif
    return {all, 1};
}

}  // namespace

std::span<const row_path> row_paths() {
    static const std::span<const row_path> paths = available_row_paths();
    return paths;
}

const row_path chosen_row_path = row_paths().back();

}  // namespace p2k::numbers
