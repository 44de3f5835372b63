#include "records/list_input.hpp"

#include "records/failure.hpp"

#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>
#include <string>

namespace p2k {
namespace {

[[noreturn]] void fail(const line_source& in, int number) { throw io_failure(number, in.unit, in.file); }

bool blank(char c) { return c == ' ' || c == '\t'; }
bool ends_value(char c) { return blank(c) || c == ',' || c == '/' || c == ')' || c == '*'; }
bool digit(char c) { return c >= '0' && c <= '9'; }
// The value of a digit; 10 or more for any other character.
unsigned digit_value(char c) { return static_cast<unsigned>(static_cast<unsigned char>(c)) - '0'; }
bool exponent_letter(char c) {
    return c == 'e' || c == 'E' || c == 'd' || c == 'D' || c == 'q' || c == 'Q';
}
bool letter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// A numeric constant split into its parts by one scan.
struct numeric_constant {
    bool negative = false;
    bool real_form = false;  // has a decimal point or an exponent
    std::string_view mantissa;  // digits and point, no sign
    bool exp_negative = false;
    std::string_view exp_digits;
    std::string_view whole;  // the constant as written
    bool plain = true;       // readable as written: no leading '+', exponent letter E or none
};

// Checks the form of a constant; false when it is malformed.
bool scan_constant(std::string_view t, numeric_constant& c) {
    size_t i = 0;
    c.whole = t;
    c.plain = t[0] != '+';
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) c.negative = t[i++] == '-';
    size_t m0 = i;
    size_t digits = 0;
    bool point = false;
    for (; i < t.size(); ++i) {
        if (digit(t[i])) ++digits;
        else if (t[i] == '.' && !point) point = true;
        else break;
    }
    if (digits == 0) return false;
    c.mantissa = t.substr(m0, i - m0);
    c.real_form = point;
    if (i == t.size()) return true;
    if (!exponent_letter(t[i])) return false;
    c.real_form = true;
    c.plain = c.plain && (t[i] == 'e' || t[i] == 'E');
    ++i;
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) c.exp_negative = t[i++] == '-';
    size_t e0 = i;
    while (i < t.size() && digit(t[i])) ++i;
    if (i == e0 || i != t.size()) return false;
    c.exp_digits = t.substr(e0, i - e0);
    return true;
}

// The value of a constant as a 64-bit real, correctly rounded. Overflow fails with 64;
// underflow gives a zero of the constant's sign.
double real_value(const line_source& in, const numeric_constant& c, std::string& scratch) {
    double v = 0;
    if (c.plain) {
        auto r = std::from_chars(c.whole.data(), c.whole.data() + c.whole.size(), v, std::chars_format::general);
        if (r.ec == std::errc() && r.ptr == c.whole.data() + c.whole.size()) return v;
    }
    scratch.clear();
    if (c.negative) scratch += '-';
    scratch.append(c.mantissa);
    if (!c.exp_digits.empty()) {
        scratch += 'e';
        if (c.exp_negative) scratch += '-';
        scratch.append(c.exp_digits);
    }
    auto r = std::from_chars(scratch.data(), scratch.data() + scratch.size(), v, std::chars_format::general);
    if (r.ec == std::errc() && r.ptr == scratch.data() + scratch.size()) return v;
    if (r.ec != std::errc::result_out_of_range) fail(in, msg_syntax_error);

    // Out of range: tell overflow from underflow by the decimal exponent of the first nonzero digit.
    long long exp10 = 0;
    for (char d : c.exp_digits) {
        exp10 = exp10 * 10 + (d - '0');
        if (exp10 > 1000000000LL) break;
    }
    if (c.exp_negative) exp10 = -exp10;
    long long lead = 0;  // position of the first nonzero digit relative to the point
    size_t point = c.mantissa.find('.');
    size_t int_digits = point == std::string_view::npos ? c.mantissa.size() : point;
    size_t first = c.mantissa.find_first_not_of("0.");
    if (first == std::string_view::npos) return c.negative ? -0.0 : 0.0;
    lead = first < int_digits ? static_cast<long long>(int_digits - first)
                              : -static_cast<long long>(first - int_digits - 1);
    if (exp10 + lead > 0) fail(in, msg_conversion_error);
    return c.negative ? -0.0 : 0.0;
}

int32_t integer_value(const line_source& in, const numeric_constant& c, std::string& scratch) {
    if (c.real_form) {
        double v = real_value(in, c, scratch);
        if (!(v > -2147483649.0 && v < 2147483648.0)) fail(in, msg_conversion_error);
        return static_cast<int32_t>(v);  // truncation toward zero
    }
    long long v = 0;
    for (char d : c.mantissa) {
        v = v * 10 + (d - '0');
        if (v > 2147483648LL) fail(in, msg_conversion_error);
    }
    if (c.negative) v = -v;
    if (v > 2147483647LL) fail(in, msg_conversion_error);
    return static_cast<int32_t>(v);
}

// Kinds of constant the system never reads: quoted text, logical and complex constants.
bool foreign_constant(std::string_view t) {
    if (t[0] == '\'' || t[0] == '"' || t[0] == '(') return true;
    return t.size() > 1 && t[0] == '.' && letter(t[1]) && !exponent_letter(t[1]);
}

void store(const line_source& in, const list_item& it, std::string_view token, std::string& scratch) {
    if (foreign_constant(token)) fail(in, msg_type_mismatch);
    numeric_constant c;
    if (!scan_constant(token, c)) fail(in, msg_syntax_error);
    if (it.type == list_item::kind::integer)
        *static_cast<int32_t*>(it.target) = integer_value(in, c, scratch);
    else
        *static_cast<double*>(it.target) = real_value(in, c, scratch);
}

// Digit values in the bytes of a little-endian word, the first digit in the lowest byte, the
// leading ones possibly zero: their value as one decimal number, combined in lanes (pairs, then
// fours, then the eight).
uint64_t lanes_value(uint64_t w) {
    w = w * 10 + (w >> 8);
    w = (((w & 0x000000ff000000ffULL) * (100 + (1000000ULL << 32))) +
         (((w >> 16) & 0x000000ff000000ffULL) * (1 + (10000ULL << 32)))) >> 32;
    return static_cast<uint32_t>(w);
}

// The digits at the start of the 8 bytes at p (at most 8) and their value. A byte is flagged as
// no digit by one addition and one subtraction; lanes above the first flagged one may be garbled
// by carries, but the first flag is exact.
struct digit_run {
    int count;
    uint64_t value;
};
digit_run leading_digits(const char* p) {
    uint64_t w = 0;
    if constexpr (std::endian::native == std::endian::little) {
        std::memcpy(&w, p, 8);
    } else {
        for (int i = 7; i >= 0; --i) w = (w << 8) | static_cast<unsigned char>(p[i]);
    }
    const uint64_t other = ((w + 0x4646464646464646ULL) | (w - 0x3030303030303030ULL)) & 0x8080808080808080ULL;
    const int count = other == 0 ? 8 : std::countr_zero(other) / 8;
    if (count == 0) return {0, 0};
    // The digits moved to the top lanes: the lanes below become leading zeros.
    return {count, lanes_value((w - 0x3030303030303030ULL) << (8 * (8 - count)))};
}

// The common case of a real item, in one pass over the padded line: a constant of at most 19
// digits whose value is exact as a 64-bit integer below 2^53 times or over a power of ten up to
// 10^22, both exact doubles, so that one correctly rounded multiplication or division gives the
// correctly rounded value, the same as the general conversion. The constant must end at the end
// of the line, a blank or a tab; anything else (a repeat count, a comma, a malformed or unusual
// constant) is left to the general path. Returns the end of the constant, or nullptr when it is
// left. The scan runs into the line's padding at most, whose first byte ends every loop.
constexpr double exact_pow10[23] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                    1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
constexpr uint64_t int_pow10[9] = {1, 10, 100, 1000, 10000, 100000, 1000000, 10000000, 100000000};

inline const char* quick_real(const char* p, const char* end, double& out) {
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
    int count = static_cast<int>(p - int_start);  // digits taken into m (a long run is refused below)
    int scale = 0;  // decimal exponent of m's last digit
    if (*p == '.') {
        ++p;
        for (;;) {
            const digit_run r = leading_digits(p);
            m = m * int_pow10[r.count] + r.value;
            count += r.count;
            scale -= r.count;
            p += r.count;
            if (r.count < 8 || digit_value(*p) >= 10) break;
        }
    }
    if (count == 0 || count > 19) return nullptr;
    if (const char c = static_cast<char>(*p | 0x20); c == 'e' || c == 'd' || c == 'q') {
        ++p;
        const bool exp_negative = *p == '-';
        if (*p == '-' || *p == '+') ++p;
        // Up to 4 digits, two of them in the common case; a fifth is refused below as a constant
        // that does not end.
        const unsigned d0 = digit_value(p[0]), d1 = digit_value(p[1]);
        int x;
        if (d0 < 10 && d1 < 10 && digit_value(p[2]) >= 10) {
            x = static_cast<int>(d0 * 10 + d1);
            p += 2;
        } else {
            x = 0;
            int n = 0;
            for (unsigned d; n < 4 && (d = digit_value(p[n])) < 10; ++n) x = x * 10 + static_cast<int>(d);
            if (n == 0) return nullptr;
            p += n;
        }
        scale += exp_negative ? -x : x;
    }
    if (p != end && !blank(*p)) return nullptr;
    if (m > (uint64_t{1} << 53)) return nullptr;
    double v = static_cast<double>(m);
    if (m != 0) {
        if (scale < -22 || scale > 22) return nullptr;
        if (scale < 0) v = v / exact_pow10[-scale];
        else v = v * exact_pow10[scale];
    }
    out = negative ? -v : v;
    return p;
}

int32_t repeat_count(const line_source& in, std::string_view t) {
    long long r = 0;
    for (char d : t) {
        if (!digit(d)) fail(in, msg_syntax_error);
        r = r * 10 + (d - '0');
        if (r > 2147483647LL) fail(in, msg_conversion_error);
    }
    if (r == 0) fail(in, msg_syntax_error);
    return static_cast<int32_t>(r);
}

}  // namespace

void skip_line(line_source& in) {
    std::string_view line;
    if (!in.next_line(line)) fail(in, msg_end_of_file);
}

void read_fixed(line_source& in, char* out, size_t len) {
    std::string_view line;
    if (!in.next_line(line)) fail(in, msg_end_of_file);
    size_t n = line.size() < len ? line.size() : len;
    std::memcpy(out, line.data(), n);
    std::memset(out + n, ' ', len - n);
}

namespace {

// The general rules, from position `pos` of `line` with `filled` items already filled: null
// values, repeat counts, slashes, values of every form and statements over several lines.
[[gnu::noinline]] void read_list_general(line_source& in, const list_item* items, size_t count, std::string_view line,
                                         size_t pos, size_t filled) {
    thread_local std::string scratch;
    bool after_comma = filled == 0;  // a comma at the very start of the statement gives a null value
    while (filled < count) {
        while (pos < line.size() && blank(line[pos])) ++pos;
        if (pos == line.size()) {
            if (!in.next_line(line)) fail(in, msg_end_of_file);
            pos = 0;
            continue;
        }
        char ch = line[pos];
        if (ch == ',') {
            if (after_comma) ++filled;  // null value: the item keeps its value
            after_comma = true;
            ++pos;
            continue;
        }
        if (ch == '/') return;

        if (items[filled].type == list_item::kind::real) {
            double v;
            if (const char* next = quick_real(line.data() + pos, line.data() + line.size(), v); next != nullptr) {
                *static_cast<double*>(items[filled++].target) = v;
                pos = static_cast<size_t>(next - line.data());
                after_comma = false;
                continue;
            }
        }

        size_t start = pos;
        while (pos < line.size() && !ends_value(line[pos])) ++pos;
        std::string_view token = line.substr(start, pos - start);
        if (token.empty()) fail(in, msg_syntax_error);  // a ')' or '*' where a value should be
        int32_t repeat = 1;
        if (pos < line.size() && line[pos] == '*') {
            repeat = repeat_count(in, token);
            ++pos;
            if (pos == line.size() || blank(line[pos]) || line[pos] == ',' || line[pos] == '/') {
                filled += static_cast<size_t>(repeat) < count - filled ? static_cast<size_t>(repeat) : count - filled;
                after_comma = false;
                continue;
            }
            start = pos;
            while (pos < line.size() && !ends_value(line[pos])) ++pos;
            token = line.substr(start, pos - start);
            if (token.empty()) fail(in, msg_syntax_error);
        }
        for (int32_t r = 0; r < repeat && filled < count; ++r) store(in, items[filled++], token, scratch);
        after_comma = false;
    }
}


}  // namespace

void read_list(line_source& in, const list_item* items, size_t count) {
    std::string_view line;
    if (!in.next_line(line)) fail(in, msg_end_of_file);
    // The common statement first: real items whose values stand on this line, separated by
    // blanks and tabs, each plain. Where that ends, the general rules go on from the same place.
    size_t filled = 0;
    const char* p = line.data();
    const char* const end = p + line.size();
    while (filled < count && items[filled].type == list_item::kind::real) {
        while (*p == ' ') ++p;
        if (*p == '\t') {
            while (blank(*p)) ++p;
        }
        if (p == end) break;
        double v;
        const char* const next = quick_real(p, end, v);
        if (next == nullptr) break;
        *static_cast<double*>(items[filled++].target) = v;
        p = next;
    }
    if (filled < count) read_list_general(in, items, count, line, static_cast<size_t>(p - line.data()), filled);
}

}  // namespace p2k
