#include "records/list_output.hpp"
#include "test_support.hpp"

#include <cmath>
#include <limits>
#include <vector>

namespace p2k {
namespace {

std::string real_field(double x) {
    char b[24];
    format_real24(x, b);
    return std::string(b, 24);
}

std::string int_field(int32_t v) {
    char b[12];
    format_int12(v, b);
    return std::string(b, 12);
}

TEST(RealField, FixedAndExponentForms) {
    const std::vector<std::pair<double, std::string>> cases = {
        {0.0, "  0.000000000000000E+000"},
        {-0.0, "  0.000000000000000E+000"},
        {1.0, "   1.00000000000000     "},
        {0.1, "  0.100000000000000     "},
        {0.09, "  9.000000000000000E-002"},
        {1.0e-5, "  1.000000000000000E-005"},
        {123456789012345.0, "   123456789012345.     "},
        {1.0e15, "  1.000000000000000E+015"},
        {2.0 / 3.0, "  0.666666666666667     "},
        {-10.0, "  -10.0000000000000     "},
        {10.0, "   10.0000000000000     "},
        {0.5, "  0.500000000000000     "},
        {0.025, "  2.500000000000000E-002"},
        {-0.025, " -2.500000000000000E-002"},
        {-0.5, " -0.500000000000000     "},
        {-123456789012345.0, "  -123456789012345.     "},
        // rounding to 15 digits carries into a new leading digit: k after the carry
        {0.09999999999999999, "  0.100000000000000     "},
        // 999999999999999.875 rounds to 10^15 at 15 digits: exponent form, which has 16
        {999999999999999.9, "  9.999999999999999E+014"},
        {9.9999999999999995, "   10.0000000000000     "},
        {1.7976931348623157e308, "  1.797693134862316E+308"},
        {-4.9406564584124654e-324, " -4.940656458412465E-324"},
        {1e100, "  1.000000000000000E+100"},
        {1e-100, "  1.000000000000000E-100"},
        {std::numeric_limits<double>::quiet_NaN(), "                     NaN"},
        {std::numeric_limits<double>::infinity(), "                Infinity"},
        {-std::numeric_limits<double>::infinity(), "               -Infinity"},
    };
    for (const auto& [x, want] : cases) EXPECT_EQ(real_field(x), want) << x;
}

TEST(RealField, CorrectRoundingOfTheBinaryValue) {
    // 0.3 is held as 0.299999999999999988898...: 15 digits round up to 0.300000000000000.
    EXPECT_EQ(real_field(0.3), "  0.300000000000000     ");
    // 2^-20 = 9.5367431640625e-07 exactly: 16 digits 9.536743164062500.
    EXPECT_EQ(real_field(0x1p-20), "  9.536743164062500E-007");
    // 1 + 2^-52 = 1.0000000000000002220446...: 15 digits give 1.00000000000000.
    EXPECT_EQ(real_field(1.0 + 0x1p-52), "   1.00000000000000     ");
    // 1.0000000000000005 is held as 1.000000000000000444...: rounds down at 15 digits.
    EXPECT_EQ(real_field(1.0000000000000005), "   1.00000000000000     ");
    // An exact tie at 16 digits goes to even: 2^-24 = 5.9604644775390625e-08.
    EXPECT_EQ(real_field(0x1p-24), "  5.960464477539062E-008");
    // 2^-23 = 1.1920928955078125e-07 also keeps its even digit ...
    EXPECT_EQ(real_field(0x1p-23), "  1.192092895507812E-007");
    // ... and 3 * 2^-23 = 3.5762786865234375e-07 rounds up to the even 8.
    EXPECT_EQ(real_field(3 * 0x1p-23), "  3.576278686523438E-007");
}

TEST(IntField, RightJustified) {
    EXPECT_EQ(int_field(0), "           0");
    EXPECT_EQ(int_field(-99), "         -99");
    EXPECT_EQ(int_field(2147483647), "  2147483647");
    EXPECT_EQ(int_field(-2147483647 - 1), " -2147483648");
}

class ListOutputLines : public ::testing::Test {
protected:
    ListOutputLines() { out.sink.attach(7, file.fd(), "memory"); }
    std::string flushed() {
        out.flush();
        return file.text();
    }
    testing::memory_file file;
    list_output out;
};

TEST_F(ListOutputLines, TextRealsAndIntegerOnOneLine) {
    out.line(std::string_view(" Zmin, Zmax, Nz = "), -10.0, 10.0, int32_t{101});
    EXPECT_EQ(flushed(), "  Zmin, Zmax, Nz =   -10.0000000000000        10.0000000000000              101\r\n");
}

TEST_F(ListOutputLines, SecondRealWrapsToANewLine) {
    out.line(std::string_view(" Shifted & Centered Z: Zmin, Zmax= "), -10.0, 10.0);
    EXPECT_EQ(flushed(),
              "  Shifted & Centered Z: Zmin, Zmax=   -10.0000000000000     \r\n"
              "   10.0000000000000     \r\n");
}

TEST_F(ListOutputLines, NumbersOnly) {
    out.line(0.5, 0.025, int32_t{1});
    out.line(int32_t{25}, -2.5, 2.5);
    EXPECT_EQ(flushed(),
              "  0.500000000000000       2.500000000000000E-002           1\r\n"
              "          25  -2.50000000000000        2.50000000000000     \r\n");
}

TEST_F(ListOutputLines, TwentyFiveRealsTakeNineLines) {
    out.begin();
    for (int i = 0; i < 25; ++i) out.put(1.0);
    out.end();
    std::string s = flushed();
    std::string three = std::string("   1.00000000000000     ") + "   1.00000000000000     " + "   1.00000000000000     ";
    std::string want;
    for (int i = 0; i < 8; ++i) want += three + "\r\n";
    want += "   1.00000000000000     \r\n";
    EXPECT_EQ(s, want);
}

// A block of reals gives the lines of the same reals put one by one: from the start of a line
// and after a text or an integer, for counts around whole lines of three; and the statement of
// three reals matches its general form.
TEST_F(ListOutputLines, BlockOfRealsMatchesSingleValues) {
    const double v[8] = {1.5, -0.25, 1e-7, 0.0, 123.0, -9e20, 2.0 / 3.0, 7.0};
    for (int lead = 0; lead < 3; ++lead) {
        for (size_t n : {size_t{1}, size_t{2}, size_t{3}, size_t{4}, size_t{6}, size_t{7}, size_t{8}}) {
            std::string single, block;
            for (std::string* into : {&single, &block}) {
                testing::memory_file file;
                list_output u;
                u.sink.attach(7, file.fd(), "memory");
                u.begin();
                if (lead == 1) u.put(std::string_view(" label"));
                if (lead == 2) u.put(int32_t{42});
                if (into == &block) u.put(v, n);
                else for (size_t i = 0; i < n; ++i) u.put(v[i]);
                u.end();
                u.flush();
                *into = file.text();
            }
            EXPECT_EQ(block, single) << lead << " " << n;
        }
    }
    out.line(-0.5, 0.0, 1e300);
    out.line(int32_t{1});
    out.begin();
    for (double x : {-0.5, 0.0, 1e300}) out.put(x);
    out.end();
    const std::string s = flushed();
    EXPECT_EQ(s.substr(0, 74), s.substr(88));
}

TEST_F(ListOutputLines, SevenIntegersWrapAfterSix) {
    out.begin();
    for (int32_t i = 1; i <= 7; ++i) out.put(i);
    out.end();
    EXPECT_EQ(flushed(), std::string("           1           2           3           4           5           6\r\n") +
                             "           7\r\n");
}

TEST_F(ListOutputLines, IntegerAfterLabelAndTwoRealsWraps) {
    out.line(std::string_view("d_elm, aper, k_s_EH= "), 0.5, 0.025, int32_t{0});
    EXPECT_EQ(flushed(), " d_elm, aper, k_s_EH=   0.500000000000000       2.500000000000000E-002\r\n"
                         "           0\r\n");
}

TEST_F(ListOutputLines, JoinedTexts) {
    out.line(std::string_view(" Reading file: "), std::string_view("  maps/a.txt"));
    out.line(std::string_view("output field file name = "), std::string_view("eh_EMS.#07"));
    EXPECT_EQ(flushed(), "  Reading file:   maps/a.txt\r\n output field file name = eh_EMS.#07\r\n");
}

TEST_F(ListOutputLines, TextAfterNumberGetsABlank) {
    out.line(int32_t{5}, std::string_view("x"));
    EXPECT_EQ(flushed(), "           5 x\r\n");
}

TEST_F(ListOutputLines, LongTextMovesToANewLineAndContinues) {
    const std::string name64(64, 'n'), name65(65, 'm'), name80(80, 'k');
    out.line(std::string_view(" Reading file: "), std::string_view(name64));
    out.line(std::string_view(" Reading file: "), std::string_view(name65));
    out.line(std::string_view(" Reading file: "), std::string_view(name80));
    EXPECT_EQ(flushed(), "  Reading file: " + name64 + "\r\n" +
                             "  Reading file: \r\n " + name65 + "\r\n" +
                             "  Reading file: \r\n " + std::string(79, 'k') + "\r\n k\r\n");
}

TEST_F(ListOutputLines, EmptyStatementIsOneBlank) {
    out.begin();
    out.end();
    EXPECT_EQ(flushed(), " \r\n");
}

TEST(ListOutputFile, ReplacesALongerFileAndReportsWriteFailures) {
    testing::scratch_dir dir;
    testing::write_file("f.txt", std::string(1000, 'z'));
    {
        list_output u;
        u.open_unknown(7, "f.txt");
        u.line(int32_t{-99});
        u.close();
    }
    EXPECT_EQ(testing::read_file("f.txt"), "         -99\r\n");

    list_output full;
    full.open_unknown(7, "/dev/full");
    full.line(int32_t{1});
    int unit = 0;
    std::string file;
    EXPECT_EQ(testing::failure_number([&] { full.close(); }, &unit, &file), msg_write_error);
    EXPECT_EQ(unit, 7);
    EXPECT_EQ(file, "/dev/full");
}

}  // namespace
}  // namespace p2k
