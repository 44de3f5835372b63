// The 24-column real field against the reference built on std::to_chars, over millions of
// values of every magnitude, rounding ties and the values next to the form boundaries; and the
// reals read back by list-directed input against std::from_chars.
#include "records/list_input.hpp"
#include "records/number_fields.hpp"
#include "records/numbers/write_detail.hpp"

#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>

namespace {

// The oracle: the field by the rule itself, on the digits of std::to_chars.
std::string reference_field(double x) {
    char out[p2k::real_field_width];
    p2k::numbers::detail::reference_real24(x, out);
    return std::string(out, p2k::real_field_width);
}

std::string field(double x) {
    char out[p2k::real_field_width + 1];
    out[p2k::real_field_width] = '#';
    p2k::format_real24(x, out);
    EXPECT_EQ(out[p2k::real_field_width], '#') << "wrote past the field";
    return std::string(out, p2k::real_field_width);
}

// Compares one value; counts mismatches and reports the first few.
struct checker {
    long checked = 0;
    long failed = 0;
    void operator()(double x) {
        ++checked;
        const std::string got = field(x);
        const std::string want = reference_field(x);
        if (got != want) {
            if (++failed <= 10) {
                char b[64];
                auto r = std::to_chars(b, b + sizeof b, x, std::chars_format::general, 17);
                ADD_FAILURE() << "x = " << std::string(b, r.ptr) << "\n got  [" << got << "]\n want [" << want << "]";
            }
        }
    }
    void both_signs(double x) {
        (*this)(x);
        (*this)(-x);
    }
};

double from_bits(uint64_t u) {
    double d;
    std::memcpy(&d, &u, 8);
    return d;
}

}  // namespace

TEST(RealFieldExhaustive, ReferenceAgreesWithTheWorkedExamples) {
    EXPECT_EQ(reference_field(0.0), "  0.000000000000000E+000");
    EXPECT_EQ(reference_field(1.0), "   1.00000000000000     ");
    EXPECT_EQ(reference_field(0.1), "  0.100000000000000     ");
    EXPECT_EQ(reference_field(0.09), "  9.000000000000000E-002");
    EXPECT_EQ(reference_field(1.0e-5), "  1.000000000000000E-005");
    EXPECT_EQ(reference_field(123456789012345.0), "   123456789012345.     ");
    EXPECT_EQ(reference_field(1.0e15), "  1.000000000000000E+015");
    EXPECT_EQ(reference_field(2.0 / 3.0), "  0.666666666666667     ");
    EXPECT_EQ(reference_field(-10.0), "  -10.0000000000000     ");
    EXPECT_EQ(reference_field(0.025), "  2.500000000000000E-002");
}

TEST(RealFieldExhaustive, FormBoundariesAndTheirNeighbours) {
    checker c;
    const double centres[] = {0.1, 0.09999999999999999, 9.9999999999999995e-2, 0.0999999999999995, 0.01,
                              1e-3, 1.0, 10.0, 1e14, 1e15, 999999999999999.5, 9.999999999999995e14,
                              9.99999999999999e14, 1e16, 1e-17, 1e-18, 1e17, 2.0, 0.5,
                              std::numeric_limits<double>::min(), std::numeric_limits<double>::max(),
                              std::numeric_limits<double>::denorm_min(), 4503599627370496.0, 9007199254740992.0};
    for (double x : centres) {
        double lo = x, hi = x;
        for (int i = 0; i < 2000; ++i) {
            c.both_signs(lo);
            c.both_signs(hi);
            lo = std::nextafter(lo, 0.0);
            hi = std::nextafter(hi, std::numeric_limits<double>::infinity());
        }
    }
    // Every power of ten and of two, and the doubles around them.
    for (int k = -330; k <= 310; ++k) {
        char b[16];
        auto r = std::to_chars(b, b + sizeof b, k);
        std::string t = "1e" + std::string(b, r.ptr);
        double p = 0;
        std::from_chars(t.data(), t.data() + t.size(), p);
        for (double x = p, i = 0; i < 40; ++i, x = std::nextafter(x, 0.0)) c.both_signs(x);
        for (double x = p, i = 0; i < 40; ++i, x = std::nextafter(x, 1e308)) c.both_signs(x);
    }
    for (int k = -1074; k <= 1023; ++k) c.both_signs(std::ldexp(1.0, k));
    c.both_signs(0.0);
    c(std::numeric_limits<double>::quiet_NaN());
    c.both_signs(std::numeric_limits<double>::infinity());
    EXPECT_EQ(c.failed, 0) << "of " << c.checked;
    EXPECT_GT(c.checked, 200000);
}

// Exact ties: x = c / 2^k whose decimal form c x 5^k / 10^k has p + 1 significant digits ending
// in 5, for the 15-digit (fixed form) and 16-digit (exponent form) roundings; the ties of whole
// numbers and halves around 1e15 as well.
TEST(RealFieldExhaustive, RoundingTiesGoToEven) {
    checker c;
    std::mt19937_64 gen(2024);
    long ties = 0;
    for (int p : {15, 16}) {
        __extension__ typedef unsigned __int128 u128;
        u128 lower = 1, upper = 1;
        for (int i = 0; i < p; ++i) lower *= 10;
        upper = lower * 10;  // p + 1 digits: lower <= D < upper
        for (int k = 1; k <= 24; ++k) {
            u128 p5 = 1;
            for (int i = 0; i < k; ++i) p5 *= 5;
            const uint64_t cmin = static_cast<uint64_t>((lower + p5 - 1) / p5);
            const uint64_t cmax = static_cast<uint64_t>((upper - 1) / p5);
            if (cmin > cmax || cmin >= (uint64_t{1} << 53)) continue;
            const uint64_t span = std::min<uint64_t>(cmax, (uint64_t{1} << 53) - 1) - cmin + 1;
            for (int n = 0; n < 6000; ++n) {
                const uint64_t cc = cmin + gen() % span;
                if (((static_cast<u128>(cc) * p5) % 10) != 5) continue;
                const double x = std::ldexp(static_cast<double>(cc), -k);
                ++ties;
                c.both_signs(x);
                c.both_signs(std::nextafter(x, 0.0));
                c.both_signs(std::nextafter(x, 1e300));
            }
        }
    }
    for (uint64_t a = 1000000000000000; a < 1000000000000000 + 20000; ++a) {
        c.both_signs(static_cast<double>(a) + 0.5);
        c.both_signs(static_cast<double>(a / 10) + 0.5);
        c.both_signs(static_cast<double>(a / 100) + 0.25);
        c.both_signs(static_cast<double>(a / 100) + 0.75);
    }
    EXPECT_GT(ties, 50000);
    EXPECT_EQ(c.failed, 0) << "of " << c.checked;
}

// Near-ties: the doubles closest to decimals of p + 1 digits ending in 5, where the remainder
// decides the rounding by a few units of the last place.
TEST(RealFieldExhaustive, ValuesNextToDecimalMidpoints) {
    checker c;
    std::mt19937_64 gen(99);
    for (int n = 0; n < 200000; ++n) {
        const int p = n % 2 == 0 ? 15 : 16;
        uint64_t d = 1;
        for (int i = 0; i < p; ++i) d *= 10;
        d = d + gen() % (9 * d);
        d -= d % 10;
        d += 5;
        const int e = static_cast<int>(gen() % 50) - 30;
        const std::string t = std::to_string(d) + "e" + std::to_string(e);
        double x = 0;
        std::from_chars(t.data(), t.data() + t.size(), x);
        c(x);
        c(std::nextafter(x, 0.0));
        c(std::nextafter(x, 1e300));
    }
    EXPECT_EQ(c.failed, 0) << "of " << c.checked;
}

TEST(RealFieldExhaustive, MillionsOfRandomDoubles) {
    checker c;
    std::mt19937_64 gen(4711);
    // Magnitudes spread evenly over the decades the field files hold, and beyond.
    std::uniform_real_distribution<double> decade(-25.0, 25.0);
    for (int n = 0; n < 1000000; ++n) {
        const double x = std::pow(10.0, decade(gen));
        c(n % 2 == 0 ? x : -x);
    }
    // Every bit pattern equally likely: all exponents, subnormals, NaNs and infinities.
    for (int n = 0; n < 300000; ++n) c(from_bits(gen()));
    // Short decimals, as a grid or a table gives them.
    for (int n = 0; n < 200000; ++n) {
        const int64_t v = static_cast<int64_t>(gen() % 2000001) - 1000000;
        c(static_cast<double>(v) / 1000.0);
        c(static_cast<double>(v) * 0.04);
    }
    EXPECT_EQ(c.failed, 0) << "of " << c.checked;
}

// Real constants in the forms a table holds and others (exponent letters D and Q, signs, leading
// and trailing zeros, up to 25 digits, exponents far out), each read by one list-directed
// statement: the value must be the correctly rounded one that std::from_chars gives.
TEST(RealFieldExhaustive, ReadBackGivesTheCorrectlyRoundedValue) {
    std::mt19937_64 gen(31337);
    long mismatches = 0;
    const char letters[] = {'E', 'e', 'D', 'd', 'Q', 'q'};
    for (int n = 0; n < 300000; ++n) {
        std::string digits;
        const int count = 1 + static_cast<int>(gen() % 25);
        for (int i = 0; i < count; ++i) digits += static_cast<char>('0' + gen() % 10);
        const size_t point = gen() % (digits.size() + 2);  // past the end: no point
        std::string mant;
        for (size_t i = 0; i <= digits.size(); ++i) {
            if (i == point) mant += '.';
            if (i < digits.size()) mant += digits[i];
        }
        const char* sign = gen() % 3 == 0 ? "-" : (gen() % 5 == 0 ? "+" : "");
        std::string text(sign);
        text += mant;
        std::string plain(sign[0] == '-' ? "-" : "");
        plain += mant;
        if (gen() % 4 != 0) {
            const int e = static_cast<int>(gen() % 90) - 45 + (gen() % 20 == 0 ? static_cast<int>(gen() % 600) - 300 : 0);
            text += letters[gen() % 6];
            text += e < 0 ? "-" : (gen() % 2 ? "+" : "");
            text += std::to_string(e < 0 ? -e : e);
            plain += 'e';
            plain += std::to_string(e);
        }
        double want = 0;
        auto r = std::from_chars(plain.data(), plain.data() + plain.size(), want);
        if (r.ec != std::errc()) continue;  // out of range: the failure paths are tested elsewhere
        double got = -1;
        double second = -1;
        std::string line(2, ' ');
        line += text;
        line += gen() % 2 ? " , 7.5" : "\t7.5 words";
        p2k::text_record rec(line);
        p2k::read_list(rec, {p2k::item(got), p2k::item(second)});
        if (std::memcmp(&got, &want, 8) != 0 || second != 7.5) {
            if (++mismatches <= 10) ADD_FAILURE() << "[" << line << "] read " << got << ", want " << want;
        }
    }
    EXPECT_EQ(mismatches, 0);
}
