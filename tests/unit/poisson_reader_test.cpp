#include "map/poisson_reader.hpp"
#include "test_support.hpp"

namespace p2k {
namespace {

using testing::failure_number;
using testing::stop_message;

TEST(PoissonReader, ReportsCentresAndLoadsScaledRows) {
    testing::scratch_dir dir;
    testing::table_shape t;
    t.zmin = 0;
    t.zmax = 10;
    t.r_intervals = 9;
    t.z_intervals = 49;
    testing::write_file("table.txt", testing::poisson_table(t));
    run_state& s = testing::fresh_state();
    testing::use_table(s, "  table.txt", 0, 2.0);
    s.control.scale_B = 5.0;
    read_poisson_table(s);
    const std::string console = testing::console_text(s);
    EXPECT_EQ(console,
              "  Reading file:   table.txt\r\n"
              "  Input Grid parameters \r\n"
              "  Zmin, Zmax, Nz =   0.000000000000000E+000   10.0000000000000               50\r\n"
              "  Rmin, Rmax, Nr =   0.000000000000000E+000   1.00000000000000               10\r\n"
              "  Shifted & Centered Z: Zmin, Zmax=   -5.00000000000000     \r\n"
              "   5.00000000000000     \r\n");
    EXPECT_EQ(s.map.Nr, 10);
    EXPECT_EQ(s.map.Nz, 50);
    EXPECT_EQ(s.map.Zmin, -5.0);
    EXPECT_EQ(s.map.Zmax, 5.0);
    for (int iz = 1; iz <= 50; ++iz)
        for (int ir = 1; ir <= 10; ++ir) {
            ASSERT_EQ(s.map.Er_map(ir, iz), (ir + 0.5) * 2.0);
            ASSERT_EQ(s.map.Ez_map(ir, iz), iz * 10.0 * 2.0);
            ASSERT_EQ(s.map.Br_map(ir, iz), 0.0);
            ASSERT_EQ(s.map.Bz_map(ir, iz), 0.0);
        }
    EXPECT_EQ(s.map.Er_map(11, 1), 0.0);
}

TEST(PoissonReader, MagneticTableFillsTheMagneticMaps) {
    testing::scratch_dir dir;
    testing::write_file("t.txt", testing::poisson_table({}));
    run_state& s = testing::fresh_state();
    testing::use_table(s, "t.txt", 1);
    s.control.scale_E = 7;
    s.control.scale_B = -1;
    read_poisson_table(s);
    EXPECT_EQ(s.map.Br_map(2, 3), -2.5);
    EXPECT_EQ(s.map.Bz_map(2, 3), -30.0);
    EXPECT_EQ(s.map.Er_map(2, 3), 0.0);
    EXPECT_EQ(s.map.Ez_map(2, 3), 0.0);
}

TEST(PoissonReader, CentringOfTheZRange) {
    struct centring {
        double zmin, zmax;
        bool line;
        double want_min, want_max;
    };
    const std::vector<centring> cases = {{-5, 5, false, -5, 5}, {0, 10, true, -5, 5}, {2, 8, true, -3, 3}};
    for (const auto& c : cases) {
        testing::scratch_dir dir;
        testing::table_shape t;
        t.zmin = c.zmin;
        t.zmax = c.zmax;
        testing::write_file("t.txt", testing::poisson_table(t));
        run_state& s = testing::fresh_state();
        testing::use_table(s, "t.txt", 0);
        read_poisson_table(s);
        const std::string console = testing::console_text(s);
        EXPECT_EQ(console.find("Shifted") != std::string::npos, c.line) << c.zmin;
        EXPECT_EQ(s.map.Zmin, c.want_min);
        EXPECT_EQ(s.map.Zmax, c.want_max);
    }
}

TEST(PoissonReader, HeaderSearchAndRowLayout) {
    testing::scratch_dir dir;
    std::string table = std::string(100, 'x') + "Zmin 1 2\n"  // beyond column 100: no match
                        "zmin ZMIN\n"
                        "xxZminyyyyyyyyy    0  0.0D+00 , 99.0\n"
                        "(Rmax,Zmax)  :  2 , 4 cm\n"
                        " Number of intervals:  2 2 words\n"
                        "\n\n\n"
                        "0 0 1 2 5 6\n"        // six numbers: the third and fourth count
                        "0 0\n3 4\n"           // four numbers over two lines
                        "0 0 5,6\n"
                        "0,0,,7\n"             // null: the previous row's third value
                        "0 0 9 10 /\n"
                        "0 0 11 /\n"           // slash: the fourth keeps the row before's
                        "0 0 1 1\n0 0 1 1\n0 0 1 1\n";
    testing::write_file("t.txt", table);
    run_state& s = testing::fresh_state();
    testing::use_table(s, "t.txt", 0);
    read_poisson_table(s);
    EXPECT_EQ(s.map.Rmax, 2.0);
    EXPECT_EQ(s.map.Nr, 3);
    EXPECT_EQ(s.map.Nz, 3);
    const double want_r[] = {1, 3, 5, 5, 9, 11}, want_z[] = {2, 4, 6, 7, 10, 10};
    for (int n = 0; n < 6; ++n) {
        EXPECT_EQ(s.map.Er_map(n % 3 + 1, n / 3 + 1), want_r[n]) << n;
        EXPECT_EQ(s.map.Ez_map(n % 3 + 1, n / 3 + 1), want_z[n]) << n;
    }
}

TEST(PoissonReader, FieldTypeStopComesBeforeAnyRow) {
    testing::scratch_dir dir;
    testing::write_file("t.txt", testing::poisson_table({}) + "garbage row\n");
    run_state& s = testing::fresh_state();
    testing::use_table(s, "t.txt", 2);
    int status = 0;
    EXPECT_EQ(stop_message([&] { read_poisson_table(s); }, &status), " Not a valid Field Type (iflag_EH) ");
    EXPECT_EQ(status, 1);
    EXPECT_EQ(s.map.Er_map(1, 1), 0.0);
}

TEST(PoissonReader, TablesOutsideTheMapLimitsAreRejected) {
    struct rejection {
        testing::table_shape t;
        int32_t kmirror_z;
        std::string message;
    };
    auto shape = [](int32_t nr_int, int32_t nz_int, double rmin, double rmax, double zmin, double zmax) {
        testing::table_shape t;
        t.r_intervals = nr_int;
        t.z_intervals = nz_int;
        t.rmin = rmin;
        t.rmax = rmax;
        t.zmin = zmin;
        t.zmax = zmax;
        t.field = [](int, int) { return std::pair<double, double>(0, 0); };
        return t;
    };
    const std::vector<rejection> cases = {
        {shape(200, 2, 0, 1, 0, 1), 0, " Field map rejected: Nr = 201 (allowed 3 .. 200)"},
        {shape(1, 2, 0, 1, 0, 1), 0, " Field map rejected: Nr = 2 (allowed 3 .. 200)"},
        {shape(-1, 2, 0, 1, 0, 1), 0, " Field map rejected: Nr = 0 (allowed 3 .. 200)"},
        {shape(2147483647, 2, 0, 1, 0, 1), 0, " Field map rejected: Nr = -2147483648 (allowed 3 .. 200)"},
        {shape(2, 1000, 0, 1, 0, 1), 0, " Field map rejected: Nz = 1001 (allowed up to 1000)"},
        {shape(2, 500, 0, 1, 0, 1), 2, " Field map rejected: Nz = 501 with kmirror_z = 2 (allowed up to 500 when mirrored)"},
        {shape(2, 1, 0, 1, 0, 1), 0, " Field map rejected: final Nz = 2 (at least 3 needed)"},
        {shape(2, 0, 0, 1, 0, 1), -1, " Field map rejected: final Nz = 1 (at least 3 needed)"},
        {shape(2, -1, 0, 1, 0, 1), 0, " Field map rejected: final Nz = 0 (at least 3 needed)"},
        {shape(2, 2, 2, 0, 0, 1), 0, " Field map rejected: Rmax = 0.0 not above Rmin = 2.0"},
        {shape(2, 2, 1.5, 1.5, 0, 1), 0, " Field map rejected: Rmax = 1.5 not above Rmin = 1.5"},
        {shape(2, 2, 0, 1, 3, 3), 0, " Field map rejected: Zmax = 0.0 not above Zmin = -0.0 after centring"},
        {shape(2, 2, 0, 1, 2.059, -2.059), 0, " Field map rejected: Zmax = -2.059 not above Zmin = 2.059 after centring"},
        {shape(2, 2, -1e308, 1e308, 0, 1), 0, " Field map rejected: R range -1e+308 .. 1e+308 or Z range -0.5 .. 0.5 too wide"},
    };
    for (const auto& c : cases) {
        testing::scratch_dir dir;
        testing::table_shape t = c.t;
        const bool huge = t.r_intervals > 300;
        if (huge) t.r_intervals = 2;  // the header alone counts: no row may be read
        std::string table = testing::poisson_table(t);
        if (huge) {
            size_t at = table.find("intervals: ");
            table.replace(at, table.find('\n', at) - at, "intervals: " + std::to_string(c.t.r_intervals) + " 2");
        }
        testing::write_file("t.txt", table);
        run_state& s = testing::fresh_state();
        testing::use_table(s, "t.txt", 0);
        s.control.kmirror_z = c.kmirror_z;
        int status = 0;
        EXPECT_EQ(stop_message([&] { read_poisson_table(s); }, &status), c.message);
        EXPECT_EQ(status, 1);
    }
}

TEST(PoissonReader, Failures) {
    struct failing {
        std::string table;
        int number;
        int unit;
    };
    const std::string full = testing::poisson_table({});
    auto cut_after = [&](const std::string& marker) { return full.substr(0, full.find(marker) + marker.size()); };
    const std::string without_last_row = full.substr(0, full.rfind('\n', full.size() - 2) + 1);
    const std::vector<failing> cases = {
        {" no header here\n", msg_end_of_file, 2},
        {cut_after("cm") , msg_end_of_file, 2},
        {cut_after("(Rmin,Zmin): 0 , 0\n"), msg_end_of_file, 2},
        {cut_after(" Number of intervals: 2 2\n"), msg_end_of_file, 2},
        {cut_after("R  Z  Fr  Fz\n\n"), msg_end_of_file, 2},
        {without_last_row, msg_end_of_file, 2},
        {without_last_row + "0 0 1\n", msg_end_of_file, 2},
        {without_last_row + "\x1a\n0 0 1 2\n", msg_end_of_file, 2},
        {"Zmin           word 1\n", msg_syntax_error, -5},
        {"Zmin           1\nB              1 1\nC\n", msg_end_of_file, -5},
        {"Zmin           1 1\nB              1 1\nC                     2 x\n", msg_syntax_error, -5},
        {without_last_row + "0 0 1..0 1\n", msg_syntax_error, 2},
    };
    for (const auto& c : cases) {
        testing::scratch_dir dir;
        testing::write_file("t.txt", c.table);
        run_state& s = testing::fresh_state();
        testing::use_table(s, "t.txt", 0);
        int unit = 0;
        std::string file;
        EXPECT_EQ(failure_number([&] { read_poisson_table(s); }, &unit, &file), c.number) << c.table;
        EXPECT_EQ(unit, c.unit) << c.table;
        EXPECT_EQ(file, c.unit == 2 ? dir.path() + "/t.txt" : "Internal List-Directed Read");
    }
}

TEST(PoissonReader, MissingTablePrintsTheNameFirst) {
    testing::scratch_dir dir;
    run_state& s = testing::fresh_state();
    testing::use_table(s, "", 0);
    int unit = 0;
    std::string file;
    EXPECT_EQ(failure_number([&] { read_poisson_table(s); }, &unit, &file), msg_file_not_found);
    const std::string console = testing::console_text(s);
    EXPECT_EQ(console, "  Reading file: \r\n");
    EXPECT_EQ(file, dir.path());
}

}  // namespace
}  // namespace p2k
