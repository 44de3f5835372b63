#include "records/list_input.hpp"
#include "test_support.hpp"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cmath>
#include <random>
#include <utility>
#include <vector>

namespace p2k {
namespace {

using testing::failure_number;

// Reads the items from a text held as a file of lines.
class lines final : public line_source {
public:
    explicit lines(std::vector<std::string> l) : lines_(std::move(l)) {
        unit = 1;
        file = "/x/poisson_to_kavro.dat";
        for (auto& t : lines_) t.append(line_padding, '\0');
    }
    bool next_line(std::string_view& line) override {
        if (next_ >= lines_.size()) return false;
        const std::string& t = lines_[next_++];
        line = std::string_view(t.data(), t.size() - line_padding);
        return true;
    }
    size_t consumed() const { return next_; }

private:
    std::vector<std::string> lines_;
    size_t next_ = 0;
};

struct int_case {
    std::vector<std::string> text;
    std::vector<int32_t> want;   // values after the read, items starting at 0
    size_t lines_consumed;
};

TEST(ListInputIntegers, ValuesSeparatorsAndLines) {
    const std::vector<int_case> cases = {
        {{"1 iflag_EH"}, {1}, 1},
        {{"1,0,1"}, {1, 0, 1}, 1},
        {{"1 0 1"}, {1, 0, 1}, 1},
        {{"1\t0 ,\t1"}, {1, 0, 1}, 1},
        {{"1 0", "1", "next"}, {1, 0, 1}, 2},
        {{"", "   ", "7"}, {7}, 3},
        {{"2*7"}, {7, 7}, 1},
        {{"3*7 8"}, {7, 7}, 1},
        {{"2* 5"}, {0, 0, 5}, 1},
        {{"1.9"}, {1}, 1},
        {{"-2.7"}, {-2}, 1},
        {{"1E2"}, {100}, 1},
        {{"2.5d1"}, {25}, 1},
        {{"+12"}, {12}, 1},
        {{",5"}, {0, 5}, 1},
        {{"1,,3"}, {1, 0, 3}, 1},
        {{"1", ",3"}, {1, 3}, 2},
        {{"1,", ",3"}, {1, 0, 3}, 2},
        {{"4 /", "9"}, {4, 0}, 1},
        {{"/"}, {0, 0}, 1},
        {{"5 !remark"}, {5}, 1},
        {{"5)"}, {5}, 1},
        {{"2147483647 -2147483648"}, {2147483647, -2147483648}, 1},
        {{"-2147483648.9"}, {-2147483647 - 1}, 1},
    };
    for (const auto& c : cases) {
        lines in(c.text);
        std::vector<int32_t> v(c.want.size(), 0);
        std::vector<list_item> items;
        for (auto& x : v) items.push_back(item(x));
        read_list(in, items.data(), items.size());
        EXPECT_EQ(v, c.want) << c.text[0];
        EXPECT_EQ(in.consumed(), c.lines_consumed) << c.text[0];
    }
}

TEST(ListInputReals, FormsOfOneValue) {
    const std::vector<std::pair<std::string, double>> cases = {
        {"0.5", 0.5}, {"5E-1", 0.5}, {"5d-1", 0.5}, {".5", 0.5}, {"5.q-1", 0.5}, {"2", 2.0},
        {"-1.5D+2", -150.0}, {"1.000000E+01", 10.0}, {"0.1", 0.1}, {"1e-400", 0.0},
        {"-1e-400", -0.0}, {"4.9e-324", 4.9e-324}, {"1.7976931348623157e308", 1.7976931348623157e308},
        {"123456789012345678901234567890", 1.2345678901234568e29},
    };
    for (const auto& [text, want] : cases) {
        lines in({text});
        double v = -1;
        read_list(in, {item(v)});
        EXPECT_EQ(v, want) << text;
        EXPECT_EQ(std::signbit(v), std::signbit(want)) << text;
    }
}

TEST(ListInputReals, SlashLeavesLaterItemsUnchanged) {
    lines in({"1.0 /"});
    double a = 7, b = 9;
    read_list(in, {item(a), item(b)});
    EXPECT_EQ(a, 1.0);
    EXPECT_EQ(b, 9.0);
}

TEST(ListInputFailures, MessageNumbers) {
    struct failing {
        std::vector<std::string> text;
        bool real;
        int number;
    };
    const std::vector<failing> cases = {
        {{"5!remark"}, false, msg_syntax_error},
        {{"abc"}, true, msg_syntax_error},
        {{"1..0"}, true, msg_syntax_error},
        {{"1.0.0"}, true, msg_syntax_error},
        {{"--1"}, true, msg_syntax_error},
        {{"1e5e5"}, true, msg_syntax_error},
        {{"e5"}, true, msg_syntax_error},
        {{"1e+"}, true, msg_syntax_error},
        {{"-"}, false, msg_syntax_error},
        {{"1+5"}, true, msg_syntax_error},
        {{"0*5"}, false, msg_syntax_error},
        {{"1.5*2"}, false, msg_syntax_error},
        {{")"}, false, msg_syntax_error},
        {{"'text'"}, true, msg_type_mismatch},
        {{".TRUE."}, false, msg_type_mismatch},
        {{"(1,2)"}, true, msg_type_mismatch},
        {{"1D400"}, true, msg_conversion_error},
        {{"-1D400"}, true, msg_conversion_error},
        {{"2147483648"}, false, msg_conversion_error},
        {{"-2147483649"}, false, msg_conversion_error},
        {{"99999999999999999999"}, false, msg_conversion_error},
        {{"1e10"}, false, msg_conversion_error},
        {{"2147483648.0"}, false, msg_conversion_error},
        {{}, false, msg_end_of_file},
        {{"", "  "}, true, msg_end_of_file},
    };
    for (const auto& c : cases) {
        lines in(c.text);
        int32_t i = 0;
        double d = 0;
        int unit = 0;
        std::string file;
        int got = failure_number([&] { c.real ? read_list(in, {item(d)}) : read_list(in, {item(i)}); }, &unit, &file);
        EXPECT_EQ(got, c.number) << (c.text.empty() ? "<eof>" : c.text[0]);
        EXPECT_EQ(unit, 1);
        EXPECT_EQ(file, "/x/poisson_to_kavro.dat");
    }
}

TEST(ListInputText, InternalReadEndsWithItsText) {
    text_record t("  3.5   ");
    double a = 0, b = 0;
    int unit = 0;
    std::string file;
    EXPECT_EQ(failure_number([&] { read_list(t, {item(a), item(b)}); }, &unit, &file), msg_end_of_file);
    EXPECT_EQ(a, 3.5);
    EXPECT_EQ(unit, -5);
    EXPECT_EQ(file, "Internal List-Directed Read");
}

TEST(ListInputLines, FixedLengthAndSkip) {
    lines in({std::string(30, 'a'), std::string(120, 'b'), "x"});
    char buf[100];
    read_fixed(in, buf, 100);
    EXPECT_EQ(std::string(buf, 100), std::string(30, 'a') + std::string(70, ' '));
    read_fixed(in, buf, 100);
    EXPECT_EQ(std::string(buf, 100), std::string(100, 'b'));
    skip_line(in);
    EXPECT_EQ(failure_number([&] { skip_line(in); }), msg_end_of_file);
}

// Line ends of files: CR LF, a last line without LF, a Ctrl-Z line as the end.
TEST(TextInputFile, LineEnds) {
    testing::scratch_dir dir;
    testing::write_file("t.txt", "1 2\r\n\r\n3\n\x1a\n4\n");
    text_input in;
    in.open_old(2, "  t.txt  ");
    EXPECT_EQ(in.file, dir.path() + "/t.txt");
    std::string_view line;
    ASSERT_TRUE(in.next_line(line));
    EXPECT_EQ(line, "1 2");
    ASSERT_TRUE(in.next_line(line));
    EXPECT_EQ(line, "");
    ASSERT_TRUE(in.next_line(line));
    EXPECT_EQ(line, "3");
    EXPECT_FALSE(in.next_line(line));
    EXPECT_FALSE(in.next_line(line));

    testing::write_file("u.txt", "a\r\nlast");
    in.open_old(2, "u.txt");
    ASSERT_TRUE(in.next_line(line));
    EXPECT_EQ(line, "a");
    ASSERT_TRUE(in.next_line(line));
    EXPECT_EQ(line, "last");
    EXPECT_FALSE(in.next_line(line));
}

TEST(TextInputFile, LinesLongerThanTheBuffer) {
    testing::scratch_dir dir;
    std::string big(3u << 20, 'x');
    testing::write_file("t.txt", "1\n" + big + "\n2 3\n");
    text_input in;
    in.open_old(2, "t.txt");
    int32_t a = 0, b = 0;
    read_list(in, {item(a)});
    skip_line(in);
    read_list(in, {item(a), item(b)});
    EXPECT_EQ(a, 2);
    EXPECT_EQ(b, 3);
}

TEST(TextInputFile, EndlessLineIsAFailedRead) {
    text_input in;
    in.open_old(2, "/dev/zero");
    std::string_view line;
    int got = 0;
    try {
        in.next_line(line);
    } catch (const io_failure& f) {
        got = f.number;
        EXPECT_EQ(f.sys_errno, EFBIG);
    }
    EXPECT_EQ(got, msg_read_error);
}

TEST(TextInputFile, OpenFailures) {
    testing::scratch_dir dir;
    std::filesystem::create_directory("adir");
    text_input in;
    int unit = 0;
    std::string file;
    EXPECT_EQ(failure_number([&] { in.open_old(1, "missing.dat"); }, &unit, &file), msg_file_not_found);
    EXPECT_EQ(unit, 1);
    EXPECT_EQ(file, dir.path() + "/missing.dat");
    EXPECT_EQ(failure_number([&] { in.open_old(2, std::string(80, ' ')); }, &unit, &file), msg_file_not_found);
    EXPECT_EQ(file, dir.path());
    EXPECT_EQ(failure_number([&] { in.open_old(2, "nodir/t.txt"); }), msg_file_not_found);
    in.open_old(2, "adir");  // a directory opens, and its first read fails
    std::string_view line;
    EXPECT_EQ(failure_number([&] { in.next_line(line); }), msg_read_error);
}

}  // namespace
}  // namespace p2k

namespace p2k {
namespace {

// One real read from `text` as written, and through a repeat count "1*", which the scan of plain
// constants leaves to the general conversion: both must give the same bits.
std::pair<uint64_t, uint64_t> plain_and_general(const std::string& text) {
    double plain = 0, general = 0;
    text_record a(text);
    read_list(a, {item(plain)});
    std::string repeated = "1*";
    repeated += text;
    text_record b(repeated);
    read_list(b, {item(general)});
    return {std::bit_cast<uint64_t>(plain), std::bit_cast<uint64_t>(general)};
}

TEST(ListInputReals, PlainScanAgreesWithTheGeneralConversionAtItsLimits) {
    const std::vector<std::string> cases = {
        "123456789012345",        "1234567890123456",      "12345678901234567",     "1234567890123456789",
        "12345678901234567890",   "9007199254740992",      "9007199254740993",      "0.9007199254740993",
        "1e22",                   "1e23",                  "1.5e-22",               "1.5e-23",
        "123456789.123456789e-3", "0.000000000000000001",  "4.9e-324",              "2.2250738585072014e-308",
        "1.7976931348623157e308", "-0.0",                  "+1.5",                  "-.5e+22",
        "5.",                     "1.5D3",                 "1.5q-2",                "2.5E0007",
        "0.30000000000000004",    "9.999999999999999e22",  "8.0000000000000000e+00", "3.14159265E+02",
    };
    for (const auto& c : cases) {
        const auto [plain, general] = plain_and_general(c);
        EXPECT_EQ(plain, general) << c;
    }
    std::mt19937_64 gen(2024);
    for (int n = 0; n < 20000; ++n) {
        const int digits = 1 + static_cast<int>(gen() % 20);
        std::string t = gen() % 2 ? "-" : "";
        const int point = static_cast<int>(gen() % static_cast<unsigned>(digits + 1));
        for (int d = 0; d < digits; ++d) {
            if (d == point) t += '.';
            t += static_cast<char>('0' + gen() % 10);
        }
        if (gen() % 2) {
            t += 'E';
            t += std::to_string(static_cast<int>(gen() % 61) - 30);
        }
        const auto [plain, general] = plain_and_general(t);
        ASSERT_EQ(plain, general) << t;
    }
}

// A table row scanned up to the line end and no further, also when the last line has no LF and
// straddles a refill of the read buffer.
TEST(TextInputFile, RowsEndAtTheirLineEnd) {
    testing::scratch_dir dir;
    std::string text;
    for (int n = 0; n < 32766; ++n) text += "7\n";
    text += "1.5\t2.25 3\n4\n5.125e1";  // the row starts 4 bytes before the end of the first read
    testing::write_file("t.txt", text);
    text_input in;
    in.open_old(2, "t.txt");
    for (int n = 0; n < 32766; ++n) skip_line(in);
    double v[4] = {0, 0, 0, 0};
    read_list(in, {item(v[0]), item(v[1])});
    EXPECT_EQ(v[0], 1.5);
    EXPECT_EQ(v[1], 2.25);
    read_list(in, {item(v[2]), item(v[3])});  // 4 on its own line, then 5.125e1 on the last
    EXPECT_EQ(v[2], 4.0);
    EXPECT_EQ(v[3], 51.25);
}

// Rows read from a file, where plain rows are taken straight out of the read buffer, and from
// the same lines handed out one at a time, where only the general rules read them: the same
// values, the same failure, the same next line.
TEST(TextInputFile, RowsFromTheBufferAsByTheGeneralRules) {
    const std::vector<std::string> rows = {
        " 0.0000000E+00  0.0000000E+00 -0.00000000E+00 -3.14159265E+02",
        "+1.2345678D-22 9.99999999E+22 1.23456789e-23 1.0000000E+23",
        "1.0 2.0 3.0 2*",      "1.0 2.0 3.0 4.0*5", "1 2 3 4 remark",   "1 2 3 4/",
        "1 2,3 4",             "1\t2 \t3\t4\t",     "1 2 3 4\r",         "1 2 3 4\r\r",
        "1 2 3",               "1 2 3 4\x1a",       "1.2345678E+0 2 3 4", "1.23456789012E+05 2 3 4",
        "1.2.3 4 5 6",         "1.0E+00x 2 3 4",    "9.9999999E+99 1 2 3e400", "",
        "12345678901234567890123 1e-320 .5 5.",
    };
    for (const auto& row : rows) {
        testing::scratch_dir dir;
        const std::string next = "7 8 9 10";
        testing::write_file("t.txt", "first\n" + row + "\n" + next + "\n");  // the first read fills the buffer
        text_input file;
        file.open_old(2, "t.txt");
        std::string line = row;  // as a file's line ends give it: one CR before the LF dropped
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines general({"first", line, next});
        double a[8], b[8];
        std::fill(a, a + 8, 0.5);
        std::fill(b, b + 8, 0.5);
        const auto read_twice = [](line_source& in, double* v) {
            skip_line(in);
            return failure_number([&] {
                read_list(in, {item(v[0]), item(v[1]), item(v[2]), item(v[3])});
                read_list(in, {item(v[4]), item(v[5]), item(v[6]), item(v[7])});
            });
        };
        EXPECT_EQ(read_twice(file, a), read_twice(general, b)) << row;
        for (int k = 0; k < 8; ++k) EXPECT_EQ(std::bit_cast<uint64_t>(a[k]), std::bit_cast<uint64_t>(b[k])) << row << " item " << k;
    }
}

}  // namespace
}  // namespace p2k
