#include "records/list_input.hpp"

#include "records/failure.hpp"
#include "records/numbers/read_real.hpp"

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

// The general rules, from the start of the statement's first line: null values, repeat counts,
// slashes, values of every form and statements over several lines.
[[gnu::noinline]] void read_list_general(line_source& in, const list_item* items, size_t count, std::string_view line) {
    std::string scratch;  // for the constants the library conversion does not read as written
    size_t pos = 0;
    size_t filled = 0;
    bool after_comma = true;  // a comma at the very start of the statement gives a null value
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
            const numbers::scanned r = numbers::scan(line.data() + pos);
            if (r.end != nullptr && (r.end == line.data() + line.size() || blank(*r.end))) {
                *static_cast<double*>(items[filled++].target) = r.value;
                pos = static_cast<size_t>(r.end - line.data());
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


// The common statement taken straight out of the bytes the source holds ahead: real items whose
// values stand on the next line, separated by blanks and tabs, each plain, the last followed by
// the line end or by a blank or tab and the rest of the line. The line is taken, LF included,
// and true returned; false leaves the position where it was for the general rules, which read
// the line again from its start and store the same values into the items stored here.
// A row of four reals read here becomes `layout` where one is given.
bool read_plain_row(line_source& in, const list_item* items, size_t count, numbers::row_template* layout) {
    const char* const start = in.ahead();
    const char* const end = in.ahead_end();
    if (start == end || count == 0) return false;
    const char* p = start;
    for (size_t k = 0; k < count; ++k) {
        while (*p == ' ') ++p;
        if (*p == '\t') {
            while (blank(*p)) ++p;
        }
        if (items[k].type != list_item::kind::real) return false;
        const numbers::scanned r = numbers::scan(p);
        p = r.end;
        // Stored only once it is known to end where a value may: "2*" is no value 2, but two nulls.
        if (p == nullptr || !(blank(*p) || *p == '\n' || (*p == '\r' && p[1] == '\n'))) return false;
        *static_cast<double*>(items[k].target) = r.value;
    }
    const char* lf = p + (*p == '\r');
    if (*lf != '\n') {
        lf = static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(end - p)));
        if (lf == nullptr) return false;
    }
    in.take_ahead(lf + 1);
    if (layout != nullptr) numbers::learn_row(*layout, start, lf);
    return true;
}

// read_list, a row read whole by read_plain_row becoming `layout` where one is given.
void read_list_learning(line_source& in, const list_item* items, size_t count, numbers::row_template* layout) {
    if (read_plain_row(in, items, count, layout)) return;
    std::string_view line;
    if (!in.next_line(line)) fail(in, msg_end_of_file);
    read_list_general(in, items, count, line);
}

}  // namespace

void read_list(line_source& in, const list_item* items, size_t count) { read_list_learning(in, items, count, nullptr); }

void read_row_list(line_source& in, const list_item (&items)[numbers::row_values], numbers::row_template& layout) {
    read_list_learning(in, items, numbers::row_values, &layout);
}

}  // namespace p2k
