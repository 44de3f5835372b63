// The template of a row of reals, taken from a row the scan has read.
#include "records/numbers/read_row.hpp"

namespace p2k::numbers {

void learn_row(row_template& t, const char* p, const char* lf, size_t count) {
    t.length = 0;
    const size_t length = static_cast<size_t>(lf - p) + 1;
    if (count == 0 || count > max_row_values || length > row_span) return;
    // The classes, then the columns of each value; a blank before a value may hold its sign
    // only where another blank or the line start stays before it as the separator.
    for (size_t i = 0; i < row_span; ++i) {
        char c = i < length ? p[i] : '\0';
        if (c >= '0' && c <= '9') c = '0';
        if (c == '+') c = '-';
        t.classes[i] = t.alternative[i] = c;
    }
    size_t at = 0;
    for (size_t j = 0; j < count; ++j) {
        while (p[at] == ' ') ++at;
        const scanned r = solver_shape(p + at);
        if (r.end == nullptr) return;
        const bool signed_ = p[at] == '-' || p[at] == '+';
        row_template::value_columns& c = t.values[j];
        c.digit = static_cast<uint8_t>(at + (signed_ ? 1 : 0));
        const bool nine = detail::digit_value(p[c.digit + 9]) < 10;
        c.fraction = static_cast<uint8_t>(c.digit + (nine ? 2 : 1));
        c.exponent = static_cast<uint8_t>(c.digit + (nine ? 10 : 9));
        c.scale = static_cast<int8_t>(nine ? -8 : -7);
        c.keep = nine ? ~uint64_t{0} : ~uint64_t{0xff};
        c.lead = nine ? 100000000 : 10000000;
        c.sign = c.digit;  // never '-': no sign column
        if (signed_) {
            c.sign = static_cast<uint8_t>(at);
            if (at == 0 || p[at - 1] == ' ') t.alternative[at] = ' ';
        } else if (at == 1 || (at >= 2 && p[at - 1] == ' ' && p[at - 2] == ' ')) {
            c.sign = static_cast<uint8_t>(at - 1);
            t.alternative[at - 1] = '-';
        }
        at = static_cast<size_t>(r.end - p);
        if (p[at] != ' ' && p + at != lf && !(p[at] == '\r' && p + at + 1 == lf)) return;
    }
    t.looked_at = length == 64 ? ~uint64_t{0} : (uint64_t{1} << length) - 1;
    t.count = static_cast<uint32_t>(count);
    t.length = static_cast<uint32_t>(length);
}

}  // namespace p2k::numbers
