#include "run/control_file.hpp"
#include "run/driver.hpp"
#include "test_support.hpp"

#include <cerrno>
#include <fcntl.h>

namespace p2k {
namespace {

using testing::read_file;
using testing::write_file;

using testing::run_binary;

std::string control(const std::string& table, int iflag, int kmirror, int kfile, int kform, const std::string& ksym = "0 0 0") {
    return "title\n\n" + table + "\n" + std::to_string(iflag) + "\n" + std::to_string(kmirror) + "\n" +
           std::to_string(kfile) + "\n" + std::to_string(kform) + "\n" + ksym + "\n0.5\n0.025\n1.0\n1.0\n";
}

TEST(FailureReport, LineOfEveryMessage) {
    const std::vector<std::pair<int, std::string>> cases = {
        {9, "permission to access file denied"}, {24, "end-of-file during read"}, {29, "file not found"},
        {30, "open failure"}, {38, "error during write"}, {39, "error during read"},
        {43, "file name specification error"}, {47, "write to READONLY file"},
        {59, "list-directed I/O syntax error"}, {61, "format/variable-type mismatch"}, {64, "input conversion error"}};
    for (const auto& [n, text] : cases)
        EXPECT_EQ(report_line(io_failure(n, 2, "/w/t.txt")), "runerr: severe (" + std::to_string(n) + "): " + text + ", unit 2, file /w/t.txt");
    EXPECT_EQ(report_line(io_failure(59, -5, "Internal List-Directed Read")),
              "runerr: severe (59): list-directed I/O syntax error, unit -5, file Internal List-Directed Read");
}

TEST(FailureReport, SystemDescriptionLineAndStatus) {
    testing::scratch_dir dir;
    const std::vector<std::tuple<int, int, std::string>> cases = {
        {38, ENOSPC, "runerr: No space left on device\r\n"},
        {30, EISDIR, "runerr: Is a directory\r\n"},
        {39, EISDIR, "runerr: Is a directory\r\n"},
        {29, ENOENT, ""},
        {24, 0, ""},
    };
    for (const auto& [n, err, first] : cases) {
        int fd = ::open("err.txt", O_CREAT | O_TRUNC | O_WRONLY, 0644);
        io_failure f(n, 7, "/w/eh_EMS.#01", err);
        EXPECT_EQ(report_failure(f, fd), n);
        ::close(fd);
        EXPECT_EQ(read_file("err.txt"), first + report_line(f) + "\r\n");
    }
}

TEST(Driver, MissingControlFile) {
    testing::scratch_dir dir;
    testing::binary_run r = run_binary();
    EXPECT_EQ(r.status, 29);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "runerr: severe (29): file not found, unit 1, file " + dir.path() + "/poisson_to_kavro.dat\r\n");
}

TEST(Driver, CompleteRunPrintsEighteenLines) {
    testing::scratch_dir dir;
    testing::table_shape t;
    t.zmin = 0;
    t.zmax = 2;
    write_file("t.txt", testing::poisson_table(t));
    write_file(control_file_name, control("t.txt", 0, 0, 3, 0));
    testing::binary_run r = run_binary();
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out,
              "  Reading file: t.txt\r\n"
              "  Input Grid parameters \r\n"
              "  Zmin, Zmax, Nz =   0.000000000000000E+000   2.00000000000000                3\r\n"
              "  Rmin, Rmax, Nr =   0.000000000000000E+000   1.00000000000000                3\r\n"
              "  Shifted & Centered Z: Zmin, Zmax=   -1.00000000000000     \r\n"
              "   1.00000000000000     \r\n"
              "  Full Input Grid parameters \r\n"
              "  Zmin, Zmax, Nz =   -1.00000000000000        1.00000000000000                3\r\n"
              "  Rmin, Rmax, Nr =   0.000000000000000E+000   1.00000000000000                3\r\n"
              "  Kavro grid and other info \r\n"
              "          25 -2.500000000000000E-002  2.500000000000000E-002\r\n"
              "          25 -2.500000000000000E-002  2.500000000000000E-002\r\n"
              "         201 -0.250000000000000       0.250000000000000     \r\n"
              " output field file name = eh_EMS.#03\r\n"
              " d_elm, aper, k_s_EH=   0.500000000000000       2.500000000000000E-002\r\n"
              "           0\r\n"
              " ksym_x, ksym_y, ksym_z=            0           0           0\r\n"
              " xmws limits=  -2.500000000000000E-002  2.500000000000000E-002\r\n"
              " ymws limits=  -2.500000000000000E-002  2.500000000000000E-002\r\n"
              " zmws limits=  -0.250000000000000       0.250000000000000     \r\n");
    EXPECT_EQ(read_file("eh_EMS.#03").size(), 3017116u);
}

TEST(Driver, StopsExitWithOneAndLeaveNoFile) {
    struct stop_case {
        int iflag, kform;
        std::string message;
        bool console_has_name;
    };
    const std::vector<stop_case> cases = {
        {2, 0, " Not a valid Field Type (iflag_EH) \r\n", false},
        {-1, 1, " Not a valid Field Type (iflag_EH) \r\n", false},
        {0, 3, " Not a valid KAVRO 3D field format: use 0, 1 or 2 \r\n", true},
    };
    for (const auto& c : cases) {
        testing::scratch_dir dir;
        write_file("t.txt", testing::poisson_table({}));
        write_file(control_file_name, control("t.txt", c.iflag, 0, 1, c.kform));
        testing::binary_run r = run_binary();
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, c.message);
        EXPECT_EQ(r.out.find("eh_EMS.#01") != std::string::npos, c.console_has_name);
        EXPECT_EQ(r.out.find("Full Input") != std::string::npos, c.console_has_name);
        EXPECT_FALSE(std::filesystem::exists("eh_EMS.#01"));
    }
}

TEST(Driver, FailureAfterConsoleOutputFlushesTheConsoleFirst) {
    testing::scratch_dir dir;
    write_file(control_file_name, control("nodir/t.txt", 0, 0, 1, 0));
    run_state& s = testing::fresh_state();
    int fd = ::open("err.txt", O_CREAT | O_TRUNC | O_WRONLY, 0644);
    EXPECT_EQ(run_conversion(s, fd), 29);
    ::close(fd);
    EXPECT_EQ(testing::console_file().text(), "  Reading file: nodir/t.txt\r\n");  // flushed by the run
    EXPECT_EQ(read_file("err.txt"), "runerr: severe (29): file not found, unit 2, file " + dir.path() + "/nodir/t.txt\r\n");
}

// --help and --version answer and leave the folder as it is, control file and all; any other
// argument is ignored and the conversion runs.
TEST(Driver, HelpAndVersionTouchNoFile) {
    const struct {
        const char* arguments;
        std::string out_starts;
        bool converts, points_at_manual;
    } cases[] = {
        {"--help", "Usage: poisson_to_kavro\n", false, true},
        {"-h", "Usage: poisson_to_kavro\n", false, true},
        {"extra --version", std::string("poisson_to_kavro ") + P2K_VERSION + "\n", false, false},
        {"--verbose", "  Reading file: t.txt\r\n", true, false},
    };
    for (const auto& c : cases) {
        testing::scratch_dir dir;
        write_file("t.txt", testing::poisson_table({}));
        write_file(control_file_name, control("t.txt", 0, 0, 1, 0));
        write_file("eh_EMS.#01", "old");
        const testing::binary_run r = run_binary(c.arguments);
        EXPECT_EQ(r.status, 0) << c.arguments;
        EXPECT_EQ(r.err, "") << c.arguments;
        EXPECT_EQ(r.out.substr(0, c.out_starts.size()), c.out_starts) << c.arguments;
        EXPECT_EQ(r.out.find("man poisson_to_kavro") != std::string::npos, c.points_at_manual) << c.arguments;
        EXPECT_EQ(read_file("eh_EMS.#01") == "old", !c.converts) << c.arguments;
    }
}

TEST(Driver, OutputDirectoryMissingOrUnwritable) {
    testing::scratch_dir dir;
    write_file("t.txt", testing::poisson_table({}));
    write_file(control_file_name, control("t.txt", 0, 0, -5, 0));
    std::filesystem::create_directory("eh_EMS.#**");
    testing::binary_run r = run_binary();
    EXPECT_EQ(r.status, 30);
    EXPECT_EQ(r.err, "runerr: Is a directory\r\nrunerr: severe (30): open failure, unit 7, file " + dir.path() + "/eh_EMS.#**\r\n");
    EXPECT_EQ(r.out.find("d_elm"), std::string::npos);

    std::filesystem::remove("eh_EMS.#**");
    std::filesystem::create_symlink("/dev/full", "eh_EMS.#**");
    write_file(control_file_name, control("t.txt", 0, 0, -5, 1));
    r = run_binary();
    EXPECT_EQ(r.status, 38);
    EXPECT_EQ(r.err, "runerr: No space left on device\r\nrunerr: severe (38): error during write, unit 7, file " + dir.path() + "/eh_EMS.#**\r\n");
}

}  // namespace
}  // namespace p2k
