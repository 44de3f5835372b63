// The helpers of the number conversions over their whole domains: the digit routine on every
// 4-digit quarter in every place, the exponent estimate on every binary exponent, the table of
// the fixed form on every binade and side, the solver's number shape with every two-digit
// exponent; and rows of that shape, with now and then another layout, read from a file.
#include "records/list_input.hpp"
#include "records/number_fields.hpp"
#include "records/numbers/read_real.hpp"
#include "records/numbers/write_detail.hpp"
#include "test_support.hpp"

#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace p2k {
namespace {

namespace detail = numbers::detail;

std::string field(double x) {
    char out[real_field_width];
    format_real24(x, out);
    return std::string(out, real_field_width);
}

std::string reference(double x) {
    char out[real_field_width];
    detail::reference_real24(x, out);
    return std::string(out, real_field_width);
}

// The decimal exponent of a positive double, from its correctly rounded digits (40 of them: no
// double lies so close to a power of ten that they round up to it).
int decimal_exponent(double a) {
    char s[64];
    const auto r = std::to_chars(s, s + sizeof s, a, std::chars_format::scientific, 40);
    int e = 0;
    const char* at = std::find(s, r.ptr, 'e') + 1;
    std::from_chars(at + (*at == '+'), r.ptr, e);
    return e;
}

TEST(NumberDigits, EveryQuarterInEveryPlace) {
    long wrong = 0;
    for (uint64_t q = 0; q < 10000; ++q) {
        for (int place = 0; place < 4; ++place) {
            uint64_t v = 0;
            for (int k = 3; k >= 0; --k) v = v * 10000 + (k == place ? q : (q * 7 + static_cast<uint64_t>(k) * 1111) % 10000);
            char want[17], got[16];
            std::snprintf(want, sizeof want, "%016llu", static_cast<unsigned long long>(v));
            detail::digits16(v, got);
            if (std::string(got, 16) != want && ++wrong <= 5) ADD_FAILURE() << v << " gives " << std::string(got, 16);
        }
    }
    EXPECT_EQ(wrong, 0);
}

TEST(NumberDigits, FloorLog10OfEveryBinaryExponentAndTheDecadeStarts) {
    for (int e = -1074; e <= 1023; ++e) ASSERT_EQ(detail::floor_log10_pow2(e), decimal_exponent(std::ldexp(1.0, e))) << e;
    for (int n = -2; n <= 15; ++n) {
        const double start = detail::decade_start[n + 2];
        EXPECT_EQ(decimal_exponent(start), n);
        EXPECT_EQ(decimal_exponent(std::nextafter(start, 0.0)), n - 1);
    }
}

// Per binade of the table and side of its power of ten: the side chosen, and the field against
// the reference at both ends of the side and at random values inside it, both signs.
TEST(NumberFixedTable, EveryBinadeAndSide) {
    std::mt19937_64 gen(11);
    long checked = 0, wrong = 0;
    for (int i = 0; i < detail::fixed_binades; ++i) {
        const uint64_t low = static_cast<uint64_t>(detail::first_binade + i) << 52;
        const uint64_t top = low + (uint64_t{1} << 52);
        const uint64_t decade = std::min(detail::fixed_sides.decade_bits[i], top);
        for (const auto& [from, to, side] : {std::tuple{low, decade, 2 * i}, std::tuple{decade, top, 2 * i + 1}}) {
            if (from == to) continue;
            std::vector<uint64_t> bits = {from, to - 1, from + 1, to - 2};
            for (int n = 0; n < 2000; ++n) bits.push_back(from + gen() % (to - from));
            for (const uint64_t b : bits) {
                EXPECT_EQ(detail::fixed_side(b), side) << b;
                for (const double x : {std::bit_cast<double>(b), -std::bit_cast<double>(b)}) {
                    ++checked;
                    if (field(x) != reference(x) && ++wrong <= 5) ADD_FAILURE() << x << ": " << field(x) << " / " << reference(x);
                }
            }
        }
    }
    EXPECT_EQ(detail::fixed_side(static_cast<uint64_t>(detail::first_binade - 1) << 52), -1);
    EXPECT_EQ(detail::fixed_side(static_cast<uint64_t>(detail::first_binade + detail::fixed_binades) << 52), -1);
    EXPECT_EQ(wrong, 0) << "of " << checked;
}

double correctly_rounded(std::string t) {
    for (char& c : t)
        if (c == 'D' || c == 'd') c = 'e';
    double v = 0;
    std::from_chars(t.data() + (t[0] == '+'), t.data() + t.size(), v);
    return v;
}

// d.dddddddd[d]E+dd with every two-digit exponent, both exponent signs, 8 and 9 digits, with and
// without a sign, each exponent letter: the shape's own conversion where one exact scaling
// covers it (and nothing elsewhere), and the list-directed read always, against the correctly
// rounded value.
TEST(NumberSolverShape, EveryTwoDigitExponent) {
    std::mt19937_64 gen(5);
    long shaped = 0;
    for (int x = 0; x <= 99; ++x) {
        for (const char* exp_sign : {"+", "-"}) {
            for (const int digits : {8, 9}) {
                for (const char* sign : {"", "-", "+"}) {
                    for (const char letter : {'E', 'e', 'D', 'd'}) {
                        std::string t = sign;
                        t += static_cast<char>('0' + gen() % 10);
                        t += '.';
                        for (int d = 1; d < digits; ++d) t += static_cast<char>('0' + gen() % 10);
                        char e[8];
                        std::snprintf(e, sizeof e, "%c%s%02d", letter, exp_sign, x);
                        t += e;
                        const double want = correctly_rounded(t);
                        const std::string padded = t + std::string(16, '\0');
                        const numbers::scanned r = numbers::solver_shape(padded.data());
                        const int scale = (*exp_sign == '-' ? -x : x) - (digits - 1);
                        if (std::abs(scale) <= detail::max_exact_pow10) {
                            ++shaped;
                            EXPECT_EQ(r.end, padded.data() + t.size()) << t;
                            EXPECT_EQ(std::bit_cast<uint64_t>(r.value), std::bit_cast<uint64_t>(want)) << t;
                        } else {
                            EXPECT_EQ(r.end, nullptr) << t;
                        }
                        double got = 0;
                        text_record rec(t);
                        read_list(rec, {item(got)});
                        EXPECT_EQ(std::bit_cast<uint64_t>(got), std::bit_cast<uint64_t>(want)) << t;
                    }
                }
            }
        }
    }
    EXPECT_GT(shaped, 1000);
}

// A table in the solver's layout, " r  z Er Ez" with 8 and 9 digits, exponents mostly those of a
// field table and now and then any, zeros and signs of both kinds; every twentieth row in another layout (one blank apart, a
// remark, a tab, CR LF, a D exponent, a three-digit exponent), after which the next row of the
// solver's layout has to be recognised again. Read from a file as the table's reader reads it (by
// the layout of the last row read whole, else by the rules), every value stored must be the
// correctly rounded one of its text, and most rows must go by the layout.
TEST(NumberSolverShape, TableRowsReadFromAFile) {
    testing::scratch_dir dir;
    std::mt19937_64 gen(77);
    const auto value = [&] {
        const int kind = static_cast<int>(gen() % 10);
        if (kind == 0) return gen() % 2 ? 0.0 : -0.0;
        const double v = std::ldexp(static_cast<double>(gen() >> 11), -53) + 1;
        // Mostly the magnitudes of a field table, now and then any two-digit exponent.
        const int exp10 = kind == 1 ? static_cast<int>(gen() % 199) - 99 : static_cast<int>(gen() % 25) - 12;
        const double x = v * std::pow(10.0, exp10);
        return gen() % 2 ? -x : x;
    };
    std::string text;
    std::vector<std::vector<std::string>> tokens;
    const int rows = 60000;
    for (int n = 0; n < rows; ++n) {
        char b[160];
        const double r = std::fabs(value()), z = std::fabs(value());
        std::snprintf(b, sizeof b, " %.7E  %.7E % .8E % .8E", r, z, value(), value());
        std::string row = b;
        if (n % 20 == 19) {
            switch (gen() % 6) {
            case 0: row.erase(row.find("  "), 1); break;
            case 1: row += " remark 1.5"; break;
            case 2: row[row.find(' ', 2)] = '\t'; break;
            case 3: row += '\r'; break;
            case 4: row[row.find('E')] = 'D'; break;
            case 5: std::snprintf(b, sizeof b, " %.7E  %.7E % .8E % .8E", r, z, 1.5e-120, -2.5e150); row = b; break;
            }
        }
        std::istringstream words(row);
        std::vector<std::string> t(4);
        for (auto& w : t) words >> w;
        tokens.push_back(t);
        text += row + "\n";
    }
    testing::write_file("t.txt", text);
    text_input in;
    in.open_old(2, "t.txt");
    double v[4];
    const list_item items[4] = {item(v[0]), item(v[1]), item(v[2]), item(v[3])};
    numbers::row_template layout;
    long wrong = 0, by_layout = 0;
    for (int n = 0; n < rows; ++n) {
        size_t stored_from = 0;
        if (read_row_by_layout(in, layout, v)) {
            stored_from = numbers::first_stored;
            ++by_layout;
        } else {
            read_row_list(in, items, layout);
        }
        for (size_t k = stored_from; k < 4; ++k) {
            const double want = correctly_rounded(tokens[static_cast<size_t>(n)][static_cast<size_t>(k)]);
            if (std::bit_cast<uint64_t>(v[k]) != std::bit_cast<uint64_t>(want) && ++wrong <= 5)
                ADD_FAILURE() << "row " << n << " value " << k << ": " << tokens[static_cast<size_t>(n)][static_cast<size_t>(k)] << " read " << v[k];
        }
    }
    EXPECT_EQ(wrong, 0);
    EXPECT_GT(by_layout, rows / 2);
}

// Rows of the solver's layout read by every path this processor runs (the baseline and AVX2
// here); every third row has one byte changed to any other, every seventh coordinates beyond one
// exact scaling. Each path accepts exactly the rows the baseline accepts, with the correctly
// rounded values from the third on and none stored before it; the coordinates only have to be
// values.
TEST(NumberSolverShape, EveryRowPathOnGeneratedRows) {
    std::mt19937_64 gen(19);
    const auto value = [&](int decades) {
        const double x = (std::ldexp(static_cast<double>(gen() >> 11), -53) + 1) *
                         std::pow(10.0, static_cast<int>(gen() % static_cast<unsigned>(2 * decades + 1)) - decades);
        return gen() % 2 ? -x : x;
    };
    const std::string learnt = " 1.0000000E+00  2.5000000E-01  1.23456789E+03 -9.87654321E-04\n";
    numbers::row_template t;
    numbers::learn_row(t, learnt.data(), learnt.data() + learnt.size() - 1);
    ASSERT_EQ(t.length, learnt.size());
    long wrong = 0, accepted = 0;
    for (int n = 0; n < 20000; ++n) {
        char b[160];
        const int decades = n % 7 == 0 ? 60 : 12;
        std::snprintf(b, sizeof b, " %.7E  %.7E % .8E % .8E\n", std::fabs(value(decades)), std::fabs(value(decades)), value(12), value(12));
        std::string row = b;
        if (n % 3 == 0) row[gen() % row.size()] = static_cast<char>(gen() % 256);
        std::istringstream words(row);
        std::string tokens[numbers::row_values];
        for (auto& w : tokens) words >> w;
        row += std::string(numbers::row_span, '\0');
        for (const numbers::row_path path : numbers::row_paths()) {
            double v[numbers::row_values] = {-1, -1, -1, -1}, base[numbers::row_values];
            const bool read = numbers::read_row_by(path, t, row.data(), v);
            if (read != numbers::read_row_by(numbers::row_path::baseline, t, row.data(), base) && ++wrong <= 5)
                ADD_FAILURE() << row.c_str() << " path " << int(path);
            accepted += read;
            for (size_t k = 0; k < numbers::row_values; ++k) {
                const double want = read && k >= numbers::first_stored ? correctly_rounded(tokens[k]) : -1;
                if (std::bit_cast<uint64_t>(v[k]) != std::bit_cast<uint64_t>(want) && ++wrong <= 5)
                    ADD_FAILURE() << row.c_str() << " value " << k << " path " << int(path);
            }
        }
    }
    EXPECT_EQ(wrong, 0);
    const long paths = static_cast<long>(numbers::row_paths().size());
    EXPECT_GT(accepted, 11000 * paths);
}

}  // namespace
}  // namespace p2k
