// Bad input never crashes, corrupts or hangs: numbers out of range for their item, non-finite
// field values, huge lines, NUL bytes and binary garbage, files that cannot be read, header
// counts at and beyond the map's capacity, tables that end in every section, and the
// float-to-integer conversions at the map's edges. Inputs found by fuzzing are kept here too.
#include "field3d/eb2d_appr.hpp"
#include "field3d/sampling.hpp"
#include "map/map_prepare.hpp"
#include "map/poisson_reader.hpp"
#include "records/failure.hpp"
#include "records/list_input.hpp"
#include "records/number_fields.hpp"
#include "records/text_input.hpp"
#include "run/control_file.hpp"
#include "state/run_state.hpp"
#include "writers/write_output.hpp"
#include "test_support.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using namespace p2k;
namespace fs = std::filesystem;

using work_dir = p2k::testing::scratch_dir;
using p2k::testing::fresh_state;
using p2k::testing::run_binary;
constexpr auto put_file = p2k::testing::write_file;
constexpr auto get_file = p2k::testing::read_file;

// How a piece of the run ended: 0 normally, the message number of a failure, or -1 for a stop.
struct outcome {
    int number = 0;
    int unit = 0;
    std::string stop;
};

template <typename F>
outcome ends(F&& body) {
    try {
        body();
        return {};
    } catch (const io_failure& f) {
        return {f.number, f.unit, {}};
    } catch (const run_stop& s) {
        return {-1, 0, s.message};
    }
}

// --- list-directed reads of one statement from a text ---------------------------------------

outcome read_int_text(const std::string& text, int32_t& v) {
    return ends([&] {
        text_record rec(text);
        read_list(rec, {item(v)});
    });
}

outcome read_real_text(const std::string& text, double& v) {
    return ends([&] {
        text_record rec(text);
        read_list(rec, {item(v)});
    });
}

struct int_case {
    const char* text;
    int number;     // 0: read, else the failure
    int32_t value;  // when read
};

TEST(RobustIntegerItems, ThirtyTwoBitRangeInIntegerAndRealForm) {
    const int_case cases[] = {
        {"2147483647", 0, INT32_MAX},
        {"-2147483648", 0, INT32_MIN},
        {"+2147483647", 0, INT32_MAX},
        {"000000000000000000000000000000000042", 0, 42},
        {"2147483648", msg_conversion_error, 0},
        {"-2147483649", msg_conversion_error, 0},
        {"99999999999999999999999999999999", msg_conversion_error, 0},
        {"-99999999999999999999999999999999", msg_conversion_error, 0},
        // real form: truncation toward zero, then the 32-bit range
        {"2147483647.9", 0, INT32_MAX},
        {"-2147483648.9", 0, INT32_MIN},
        {"2147483648.0", msg_conversion_error, 0},
        {"-2147483649.0", msg_conversion_error, 0},
        {"2.147483648e9", msg_conversion_error, 0},
        {"-2.147483649D9", msg_conversion_error, 0},
        {"1e10", msg_conversion_error, 0},
        {"1e400", msg_conversion_error, 0},
        {"-1q999", msg_conversion_error, 0},
        {"1e-400", 0, 0},
        {"-0.9", 0, 0},
        {"2.7", 0, 2},
        {"-2.7", 0, -2},
        {"1E2", 0, 100},
    };
    for (const auto& c : cases) {
        int32_t v = 12345;
        const outcome o = read_int_text(c.text, v);
        EXPECT_EQ(o.number, c.number) << c.text;
        if (c.number == 0) {
            EXPECT_EQ(v, c.value) << c.text;
        } else {
            EXPECT_EQ(o.unit, internal_unit) << c.text;
        }
    }
}

struct real_case {
    std::string text;
    int number;
    double value;
};

TEST(RobustRealItems, OverflowFailsUnderflowRoundsSilently) {
    const double denorm_min = std::numeric_limits<double>::denorm_min();
    const real_case cases[] = {
        {"1.7976931348623157e308", 0, DBL_MAX},
        {"1.7976931348623158e308", 0, DBL_MAX},  // below the rounding threshold
        {"1.7976931348623159e308", msg_conversion_error, 0},
        {"1e309", msg_conversion_error, 0},
        {"-1D309", msg_conversion_error, 0},
        {"1q99999999999999999999", msg_conversion_error, 0},
        {std::string(400, '9'), msg_conversion_error, 0},
        {"4.9e-324", 0, denorm_min},
        {"1e-400", 0, 0.0},
        {"-1e-400", 0, -0.0},
        {"1e-99999999999999999999", 0, 0.0},
        {"0.000000000000000000000000000000000000000000001e-300", 0, 0.0},
        {"0e99999999999999999999", 0, 0.0},
    };
    for (const auto& c : cases) {
        double v = 1234.5;
        const outcome o = read_real_text(c.text, v);
        EXPECT_EQ(o.number, c.number) << c.text;
        if (c.number == 0) {
            EXPECT_EQ(v, c.value) << c.text;
            EXPECT_EQ(std::signbit(v), std::signbit(c.value)) << c.text;
        }
    }
}

TEST(RobustRealItems, ManyDigitsAreRoundedCorrectly) {
    // 0.1 written with 5000 digits after the first: still the double nearest to 0.1.
    std::string text = "0.1" + std::string(5000, '0');
    double v = 0;
    ASSERT_EQ(read_real_text(text, v).number, 0);
    EXPECT_EQ(v, 0.1);
    text = std::string(300, '0') + "1.5";
    ASSERT_EQ(read_real_text(text, v).number, 0);
    EXPECT_EQ(v, 1.5);
}

TEST(RobustRepeatCounts, HugeAndZeroCounts) {
    int32_t a = 7, b = 7;
    outcome o = ends([&] {
        text_record rec("2147483647*3");
        read_list(rec, {item(a), item(b)});
    });
    EXPECT_EQ(o.number, 0);
    EXPECT_EQ(a, 3);
    EXPECT_EQ(b, 3);
    o = ends([&] {
        text_record rec("99999999999999999999*3");
        read_list(rec, {item(a), item(b)});
    });
    EXPECT_EQ(o.number, msg_conversion_error);
    o = ends([&] {
        text_record rec("0*3");
        read_list(rec, {item(a), item(b)});
    });
    EXPECT_EQ(o.number, msg_syntax_error);
}

struct garbage_case {
    std::string text;
    int number;
};

TEST(RobustListInput, NulBytesAndBinaryGarbage) {
    const garbage_case cases[] = {
        {std::string("1\0", 2), msg_syntax_error},
        {std::string("\0", 1), msg_syntax_error},
        {std::string("\x01\x02\xff\xfe", 4), msg_syntax_error},
        {std::string("1\xff", 2), msg_syntax_error},
        {std::string("\x80", 1), msg_syntax_error},
        {"--1", msg_syntax_error},
        {"1..2", msg_syntax_error},
        {"1e", msg_syntax_error},
        {"e5", msg_syntax_error},
        {"1e+", msg_syntax_error},
        {"'text'", msg_type_mismatch},
        {".true.", msg_type_mismatch},
        {"(1,2)", msg_type_mismatch},
        {"", msg_end_of_file},
        {"   \t  ", msg_end_of_file},
    };
    for (const auto& c : cases) {
        double v = 0;
        const outcome o = read_real_text(c.text, v);
        EXPECT_EQ(o.number, c.number) << "bytes: " << c.text.size();
        EXPECT_EQ(o.unit, internal_unit);
    }
}

// --- files: huge lines, NULs, directories, unreadable -------------------------------------

TEST(RobustTextFiles, LinesOfMegabytes) {
    work_dir dir;
    const std::string huge(3 << 20, 'x');
    const std::string blanks(2 << 20, ' ');
    put_file("f.txt", huge + "\n" + "7" + blanks + "remark\n" + blanks + "8" + blanks + "\n" + huge + "Zmin\r\n9");
    text_input in;
    in.open_old(2, "f.txt");
    int32_t a = 0, b = 0, c = 0;
    char fixed[100];
    skip_line(in);
    read_list(in, {item(a)});
    read_list(in, {item(b)});
    read_fixed(in, fixed, sizeof fixed);
    EXPECT_EQ(std::string(fixed, 100), std::string(100, 'x'));
    read_list(in, {item(c)});
    EXPECT_EQ(a, 7);
    EXPECT_EQ(b, 8);
    EXPECT_EQ(c, 9);
    std::string_view line;
    EXPECT_FALSE(in.next_line(line));
}

TEST(RobustTextFiles, NulBytesInLinesAreCharactersLikeAnyOther) {
    work_dir dir;
    put_file("f.txt", std::string("\0\0\0\n5 \0\n6\0\n", 11));
    text_input in;
    in.open_old(2, "f.txt");
    int32_t a = 0, b = 0;
    skip_line(in);
    read_list(in, {item(a)});  // the value ends at the blank; the NUL after it is skipped
    EXPECT_EQ(a, 5);
    const outcome o = ends([&] { read_list(in, {item(b)}); });
    EXPECT_EQ(o.number, msg_syntax_error);
    EXPECT_EQ(o.unit, 2);
}

TEST(RobustTextFiles, NulInsideANameIsNoValidFileName) {
    work_dir dir;
    put_file("t.txt", "1\n");
    text_input in;
    // The file "t.txt" exists; the name with a NUL after it is another name and no valid one.
    const outcome o = ends([&] { in.open_old(2, std::string("t.txt\0x   ", 10)); });
    EXPECT_EQ(o.number, msg_file_name_error);
    EXPECT_EQ(o.unit, 2);
    // Trailing NULs are not part of the name.
    EXPECT_EQ(ends([&] { in.open_old(2, std::string("t.txt\0\0  \0", 10)); }).number, 0);
}

TEST(RobustTextFiles, DirectoryIsRefusedAtTheFirstRead) {
    work_dir dir;
    fs::create_directory("d");
    text_input in;
    const outcome o = ends([&] {
        in.open_old(2, "d");
        skip_line(in);
    });
    EXPECT_EQ(o.number, msg_read_error);
    EXPECT_EQ(o.unit, 2);
}

// A file that opens but refuses every read, whoever reads it: the process's own memory file,
// whose first page is never mapped.
TEST(RobustTextFiles, FileThatRefusesItsReads) {
    work_dir dir;
    text_input in;
    int err = 0;
    const outcome o = ends([&] {
        try {
            in.open_old(2, "/proc/self/mem");
            skip_line(in);
        } catch (const io_failure& f) {
            err = f.sys_errno;
            throw;
        }
    });
    EXPECT_EQ(o.number, msg_read_error);
    EXPECT_EQ(o.unit, 2);
    EXPECT_NE(err, 0);
}

TEST(RobustTextFiles, UnreadableFileIsPermissionDenied) {
    work_dir dir;
    put_file("f.txt", "1\n");
    ::chmod("f.txt", 0);
    if (::access("f.txt", R_OK) == 0) GTEST_SKIP() << "running with the right to read any file";
    text_input in;
    const outcome o = ends([&] { in.open_old(2, "f.txt"); });
    EXPECT_EQ(o.number, msg_permission_denied);
    EXPECT_EQ(o.unit, 2);
}

// --- the Poisson table ---------------------------------------------------------------------

// A table of (nr + 1) x (nz + 1) nodes over r 0 .. 2, z 0 .. 10, with field values e1, e2.
std::string header(const std::string& counts, const std::string& limits_a = " 0.0, 0.0",
                   const std::string& limits_b = " 2.0, 10.0") {
    return " Poisson table\n (Rmin,Zmin):  " + limits_a + "\n (Rmax,Zmax):  " + limits_b +
           "\n Number of intervals: " + counts + "\n\n   R   Z   Er   Ez\n\n";
}

std::string rows(long count, const std::string& row = "0 0 1.5 -2.5") {
    std::string out;
    out.reserve(static_cast<size_t>(count) * (row.size() + 1));
    for (long i = 0; i < count; ++i) {
        out += row;
        out += '\n';
    }
    return out;
}

std::string table(int nr, int nz) { return header(std::to_string(nr) + " " + std::to_string(nz)) + rows(long{nr + 1} * (nz + 1)); }

void name_table(run_state& s, const std::string& name) {
    s.control.poisson_file.fill(' ');
    std::memcpy(s.control.poisson_file.data(), name.data(), name.size());
}

outcome read_table(run_state& s, const std::string& text, int32_t kmirror_z = 0, int32_t iflag_EH = 0) {
    put_file("t.txt", text);
    name_table(s, "t.txt");
    s.control.iflag_EH = iflag_EH;
    s.control.kmirror_z = kmirror_z;
    s.control.scale_E = s.control.scale_B = 1;
    return ends([&] { read_poisson_table(s); });
}

struct capacity_case {
    int nr, nz;        // intervals in the header
    int32_t kmirror_z;
    bool accepted;
};

TEST(RobustPoissonTable, CapacityOfTheMap) {
    work_dir dir;
    const capacity_case cases[] = {
        {199, 999, 0, true},    // exactly 200 x 1000 nodes
        {200, 999, 0, false},   // 201 radial nodes
        {199, 1000, 0, false},  // 1001 longitudinal nodes
        {199, 499, 1, true},    // 500 rows, mirrored into 999
        {199, 500, -2, false},  // 501 rows cannot be mirrored
        {2, 2, 0, true},        // 3 x 3, the least the approximation needs
        {1, 2, 0, false},
        {2, 1, 0, false},
        {2, 1, 1, true},        // 2 rows mirrored into 3
        {2, 0, -1, false},      // 1 row mirrored stays 1
    };
    for (const auto& c : cases) {
        run_state& s = fresh_state();
        const outcome o = read_table(s, table(c.nr, c.nz), c.kmirror_z);
        EXPECT_EQ(o.number, c.accepted ? 0 : -1) << c.nr << " x " << c.nz << " mirror " << c.kmirror_z << o.stop;
        if (!c.accepted) continue;
        EXPECT_EQ(s.map.Nr, c.nr + 1);
        EXPECT_EQ(s.map.Ez_map(c.nr + 1, c.nz + 1), -2.5);
        prepare_map(s);
        EXPECT_LE(s.map.Nz, map_nz_max);
        double E[3], B[3];
        EB2D_APPR(s.map, s.map.r_node[static_cast<size_t>(s.map.Nr)], s.map.z_node[static_cast<size_t>(s.map.Nz)], E, B);
        EXPECT_NEAR(E[0], 1.5, 1e-9);  // the last node matches Rmax, Zmax up to rounding
    }
}

struct count_case {
    const char* counts;
    const char* printed;  // " Zmin, Zmax, Nz = " line's integer, as printed
};

TEST(RobustPoissonTable, HeaderCountsNegativeZeroAndHugeAreRejectedBeforeAnyRow) {
    work_dir dir;
    const count_case cases[] = {
        {"50 2147483647", "-2147483648"},
        {"50 -2147483648", "-2147483647"},
        {"50 -1", "0"},
        {"50 -5", "-4"},
        {"50 0", "1"},
        {"2147483647 50", "51"},
        {"-2 50", "51"},
        {"0 50", "51"},
    };
    for (const auto& c : cases) {
        run_state& s = fresh_state();
        // No rows follow: a reader that tried to load any would end in end-of-file instead.
        const outcome o = read_table(s, header(c.counts));
        const std::string console = p2k::testing::console_text(s);
        EXPECT_EQ(o.number, -1) << c.counts;
        EXPECT_EQ(o.stop.find('\n'), std::string::npos);
        EXPECT_NE(o.stop.find("rejected"), std::string::npos) << o.stop;
        const size_t at = console.find(" Zmin, Zmax, Nz = ");
        ASSERT_NE(at, std::string::npos);
        const std::string line = console.substr(at, console.find('\r', at) - at);
        const std::string printed = c.printed;
        EXPECT_EQ(line.substr(line.size() - printed.size()), printed) << line;
    }
}

TEST(RobustPoissonTable, HeaderCountBeyondThirtyTwoBitsFailsConversion) {
    work_dir dir;
    run_state& s = fresh_state();
    const outcome o = read_table(s, header("50 4294967296") + rows(10));
    EXPECT_EQ(o.number, msg_conversion_error);
    EXPECT_EQ(o.unit, internal_unit);
}

TEST(RobustPoissonTable, InvalidFieldTypeStopsBeforeTheLimitsAndRows) {
    work_dir dir;
    run_state& s = fresh_state();
    const outcome o = read_table(s, header("50 2147483647"), 0, 2);
    EXPECT_EQ(o.stop, " Not a valid Field Type (iflag_EH) ");
}

struct truncation_case {
    const char* where;
    size_t lines;  // lines of the complete 3 x 3 table kept
    int number;
    int unit;
};

TEST(RobustPoissonTable, TableEndingInEverySection) {
    work_dir dir;
    // preamble (1 line), A, B, C, three separator lines, nine rows
    const std::string full = header("2 2") + rows(9);
    std::vector<std::string> lines;
    for (size_t b = 0, e; (e = full.find('\n', b)) != std::string::npos; b = e + 1) lines.push_back(full.substr(b, e - b + 1));
    ASSERT_EQ(lines.size(), 16u);
    const truncation_case cases[] = {
        {"empty file", 0, msg_end_of_file, 2},
        {"preamble", 1, msg_end_of_file, 2},
        {"after line A", 2, msg_end_of_file, 2},
        {"after line B", 3, msg_end_of_file, 2},
        {"after line C", 4, msg_end_of_file, 2},
        {"first separator", 5, msg_end_of_file, 2},
        {"second separator", 6, msg_end_of_file, 2},
        {"before the rows", 7, msg_end_of_file, 2},
        {"first row", 8, msg_end_of_file, 2},
        {"before the last row", 15, msg_end_of_file, 2},
        {"complete", 16, 0, 0},
    };
    for (const auto& c : cases) {
        std::string text;
        for (size_t i = 0; i < c.lines; ++i) text += lines[i];
        for (const std::string& end : {std::string(), std::string("\x1a\n"), std::string("\x1a")}) {
            run_state& s = fresh_state();
            const outcome o = read_table(s, text + end);
            EXPECT_EQ(o.number, c.number) << c.where << " end " << end.size();
            EXPECT_EQ(o.unit, c.unit) << c.where;
        }
        // The last row cut in the middle of its values.
        if (c.lines >= 8 && c.lines < 16) {
            run_state& s = fresh_state();
            EXPECT_EQ(read_table(s, text + "0 0 1").number, msg_end_of_file) << c.where;
        }
    }
}

TEST(RobustPoissonTable, HugePreambleAndZminBeyondColumn100) {
    work_dir dir;
    run_state& s = fresh_state();
    const std::string preamble = std::string(4 << 20, ' ') + "Zmin\n" + std::string(99, '-') + "Zmin\n";
    EXPECT_EQ(read_table(s, preamble + table(2, 2)).number, 0);
    EXPECT_EQ(s.map.Nr, 3);
}

TEST(RobustPoissonTable, NulBytesInHeaderField) {
    work_dir dir;
    run_state& s = fresh_state();
    const outcome o = read_table(s, header("2 2", std::string(" 0.0\0, 0.0", 10)) + rows(9));
    EXPECT_EQ(o.number, msg_syntax_error);
    EXPECT_EQ(o.unit, internal_unit);
}

TEST(RobustPoissonTable, TableIsADirectory) {
    work_dir dir;
    run_state& s = fresh_state();
    fs::create_directory("t.d");
    name_table(s, "t.d");
    s.control.scale_E = 1;
    const outcome o = ends([&] { read_poisson_table(s); });
    EXPECT_EQ(o.number, msg_read_error);
    EXPECT_EQ(o.unit, 2);
}

// --- non-finite values and the float-to-integer conversions of the approximation -------------

TEST(RobustFieldValues, OverflowingScaleGivesInfinityAndNanWithoutFailure) {
    work_dir dir;
    run_state& s = fresh_state();
    name_table(s, "t.txt");
    s.control.scale_E = 1e300;
    std::string text = header("4 8");
    for (int i = 0; i < 45; ++i) text += i % 2 ? "0 0 1e300 0\n" : "0 0 -1e300 1e10\n";
    put_file("t.txt", text);
    s.control.aper = 1;
    s.control.d_elm = 8;
    const outcome o = ends([&] {
        read_poisson_table(s);
        prepare_map(s);
        sample_field(s);
    });
    ASSERT_EQ(o.number, 0);
    EXPECT_TRUE(std::isinf(s.map.Er_map(1, 1)));
    size_t nans = 0;
    for (double v : s.field.Ex.v) nans += std::isnan(v);
    EXPECT_GT(nans, 0u);  // inf * 0 and inf - inf inside the approximation
    char field[real_field_width];
    format_real24(std::numeric_limits<double>::quiet_NaN(), field);
    EXPECT_EQ(std::string(field, real_field_width), std::string(21, ' ') + "NaN");
}

// A map whose node step vanishes against its first coordinate: r_node(2) == r_node(1) while
// r_node(Nr) lies above it. The offset of a point in steps is then infinite or not a number and
// must not reach an integer conversion.
TEST(RobustApproximation, VanishingStepAndNonFiniteOffsetsKeepTheCentreNodeInRange) {
    run_state& s = fresh_state();
    field_map& m = s.map;
    m.Nr = 200;
    m.Nz = 3;
    m.Rmin = 1.0;
    m.Rmax = 1.0 + 1e-14;
    m.Zmin = -1;
    m.Zmax = 1;
    for (int ir = 1; ir <= m.Nr; ++ir)
        for (int iz = 1; iz <= m.Nz; ++iz) m.Er_map(ir, iz) = 1.0;
    prepare_map(s);
    ASSERT_EQ(m.r_node[2], m.r_node[1]);
    ASSERT_GT(m.r_node[200], m.r_node[1]);
    double E[3], B[3];
    for (double r : {1.0, m.r_node[200], std::nextafter(1.0, 2.0)}) {
        EB2D_APPR(m, r, 0.0, E, B);  // defined: no trap under the sanitizers
        EXPECT_EQ(E[1], 0.0);
        EXPECT_EQ(B[1], 0.0);
    }
    // Coordinates that are not numbers pass the range test; the centre node stays inside.
    EB2D_APPR(m, std::nan(""), 0.0, E, B);
    EXPECT_TRUE(std::isnan(E[0]));
    EB2D_APPR(m, 1.0, std::nan(""), E, B);
    EXPECT_TRUE(std::isnan(E[0]));
}

TEST(RobustApproximation, HugeApertureIsRejectedInsteadOfNonNumberNodes) {
    work_dir dir;
    run_state& s = fresh_state();
    ASSERT_EQ(read_table(s, table(4, 8)).number, 0);
    prepare_map(s);
    s.control.aper = 1e308;  // (aper - -aper) / 24 overflows: the first node would be 0 * inf - 1e308
    s.control.d_elm = 1e308;
    int status = 0;
    try {
        sample_field(s);
    } catch (const run_stop& stop) {
        status = stop.status;
    }
    EXPECT_EQ(status, 1);
}

// --- kfile_num at the 32-bit limits ---------------------------------------------------------

struct kfile_case {
    int32_t kfile_num;
    const char* digits;
};

TEST(RobustOutputName, FileNumberAtThe32BitLimits) {
    const kfile_case cases[] = {
        {INT32_MAX, "**"}, {INT32_MIN, "**"}, {-1, "**"}, {100, "**"}, {99, "99"}, {0, "00"},
    };
    for (const auto& c : cases) {
        run_state& s = fresh_state();
        s.control.kfile_num = c.kfile_num;
        name_output_file(s);
        EXPECT_EQ(std::string(s.out.field_file.data(), 10), std::string("eh_EMS.#") + c.digits) << c.kfile_num;
    }
}

// --- whole runs of the converter ------------------------------------------------------------

std::string control(const std::string& kfile_num, const std::string& kform_3D = "0", const std::string& name = "t.txt") {
    return "line 1\nline 2\n" + name + "\n0\n0\n" + kfile_num + "\n" + kform_3D + "\n0 0 0\n8.0\n1.0\n1.0\n1.0\n";
}

struct kfile_run_case {
    const char* kfile_num;
    int status;
    const char* err_start;
};

TEST(RobustRuns, FileNumberLimitsEndToEnd) {
    work_dir dir;
    put_file("t.txt", table(4, 8));
    const kfile_run_case cases[] = {
        {"2147483647", 1, " Not a valid KAVRO"},
        {"-2147483648", 1, " Not a valid KAVRO"},
        {"2147483648", msg_conversion_error, "runerr: severe (64): input conversion error, unit 1, file "},
        {"-2147483649.0", msg_conversion_error, "runerr: severe (64)"},
    };
    for (const auto& c : cases) {
        put_file("poisson_to_kavro.dat", control(c.kfile_num, "3"));
        const p2k::testing::binary_run r = run_binary();
        EXPECT_EQ(r.status, c.status) << c.kfile_num;
        EXPECT_EQ(r.err.rfind(c.err_start, 0), 0u) << r.err;
        if (c.status == 1) {
            EXPECT_NE(r.out.find("eh_EMS.#**"), std::string::npos);
        }
        EXPECT_FALSE(fs::exists("eh_EMS.#**"));
    }
}

TEST(RobustRuns, FailedRunLeavesAnExistingOutputFileUntouched) {
    work_dir dir;
    const std::string earlier = "output of an earlier run\n";
    put_file("eh_EMS.#01", earlier);
    struct bad {
        const char* what;
        std::string control_text, table_text;
    };
    const bad cases[] = {
        {"table ends in the rows", control("1"), table(4, 8).substr(0, table(4, 8).size() - 20)},
        {"table too large", control("1"), header("200 8") + rows(201 * 9)},
        {"field type", "a\nb\nt.txt\n7\n0\n1\n0\n0 0 0\n8\n1\n1\n1\n", table(4, 8)},
        {"format", control("1", "5"), table(4, 8)},
        {"garbage control", std::string("\x7f\x45\x4c\x46\0\0\n\xff\xfe\n\n\x01\x02", 14), table(4, 8)},
    };
    for (const auto& c : cases) {
        put_file("poisson_to_kavro.dat", c.control_text);
        put_file("t.txt", c.table_text);
        const p2k::testing::binary_run r = run_binary();
        EXPECT_NE(r.status, 0) << c.what;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << c.what << ": " << r.err;
        EXPECT_EQ(get_file("eh_EMS.#01"), earlier) << c.what;
    }
}

TEST(RobustRuns, UnreadableTableAndControlFile) {
    work_dir dir;
    put_file("poisson_to_kavro.dat", control("1", "0", "/proc/self/mem"));
    p2k::testing::binary_run r = run_binary();
    EXPECT_EQ(r.status, msg_read_error);
    EXPECT_NE(r.out.find(" Reading file: /proc/self/mem\r\n"), std::string::npos) << r.out;
    EXPECT_EQ(r.err, "runerr: Input/output error\r\nrunerr: severe (39): error during read, unit 2, file /proc/self/mem\r\n");
    fs::remove("poisson_to_kavro.dat");
    fs::create_symlink("/proc/self/mem", "poisson_to_kavro.dat");
    r = run_binary();
    EXPECT_EQ(r.status, msg_read_error);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("runerr: severe (39): error during read, unit 1, file " + dir.path() + "/poisson_to_kavro.dat\r\n"),
              std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists("eh_EMS.#01"));
}

TEST(RobustRuns, NulInsideTheTableName) {
    work_dir dir;
    put_file("t.txt", table(4, 8));
    put_file("poisson_to_kavro.dat", control("1", "0", std::string("t.txt\0.bak", 10)));
    const p2k::testing::binary_run r = run_binary();
    EXPECT_EQ(r.status, msg_file_name_error);
    EXPECT_EQ(r.err.rfind("runerr: severe (43): file name specification error, unit 2, file " + dir.path() + "/t.txt", 0), 0u)
        << r.err;
    EXPECT_FALSE(fs::exists("eh_EMS.#01"));
}

// A FIFO without a writer reads as an empty file; its open must not wait for a writer.
TEST(RobustRuns, FifoWithoutWriterIsAnEmptyFile) {
    work_dir dir;
    ASSERT_EQ(::mkfifo("t.fifo", 0600), 0);
    put_file("poisson_to_kavro.dat", control("1", "0", "t.fifo"));
    p2k::testing::binary_run r = run_binary();
    EXPECT_EQ(r.status, msg_end_of_file);
    EXPECT_EQ(r.err, "runerr: severe (24): end-of-file during read, unit 2, file " + dir.path() + "/t.fifo\r\n");
    fs::remove("poisson_to_kavro.dat");
    ASSERT_EQ(::mkfifo("poisson_to_kavro.dat", 0600), 0);
    r = run_binary();
    EXPECT_EQ(r.status, msg_end_of_file);
    EXPECT_EQ(r.err, "runerr: severe (24): end-of-file during read, unit 1, file " + dir.path() + "/poisson_to_kavro.dat\r\n");
}

// A table without line ends that never ends (/dev/zero) is refused as a failed read once its
// first line outgrows the line buffer's limit, instead of exhausting memory.
TEST(RobustRuns, EndlessLineEndsInAReport) {
    work_dir dir;
    put_file("poisson_to_kavro.dat", control("1", "0", "/dev/zero"));
    const p2k::testing::binary_run r = run_binary();
    EXPECT_EQ(r.status, msg_read_error);
    EXPECT_EQ(r.err, "runerr: File too large\r\nrunerr: severe (39): error during read, unit 2, file /dev/zero\r\n");
    EXPECT_FALSE(fs::exists("eh_EMS.#01"));
}

TEST(RobustRuns, ControlFileIsADirectoryOrBinaryGarbage) {
    work_dir dir;
    fs::create_directory("poisson_to_kavro.dat");
    p2k::testing::binary_run r = run_binary();
    EXPECT_EQ(r.status, msg_read_error);
    EXPECT_EQ(r.err, "runerr: Is a directory\r\nrunerr: severe (39): error during read, unit 1, file " + dir.path() +
                         "/poisson_to_kavro.dat\r\n");
    fs::remove("poisson_to_kavro.dat");

    // Deterministic pseudo-random bytes: every run ends in one report of unit 1 or 2.
    uint32_t x = 2463534242u;
    for (int n = 0; n < 8; ++n) {
        std::string bytes;
        for (int i = 0; i < 4000; ++i) {
            x ^= x << 13;
            x ^= x >> 17;
            x ^= x << 5;
            bytes += static_cast<char>(x & 0xff);
        }
        put_file("poisson_to_kavro.dat", bytes);
        r = run_binary();
        EXPECT_NE(r.status, 0);
        EXPECT_LT(r.status, 128) << "killed by a signal";
        EXPECT_EQ(r.err.rfind("runerr: ", 0), 0u) << r.err;
    }
    for (const auto& e : fs::directory_iterator("."))
        EXPECT_NE(e.path().filename().string().rfind("eh_EMS", 0), 0u) << e.path();
}

}  // namespace
