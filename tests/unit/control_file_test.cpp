#include "run/control_file.hpp"
#include "test_support.hpp"

namespace p2k {
namespace {

using testing::failure_number;

std::string name_of(const run_control& c) { return std::string(c.poisson_file.data(), c.poisson_file.size()); }

TEST(ControlFile, ReadsTheTwelveSteps) {
    testing::scratch_dir dir;
    testing::write_file(control_file_name,
                        "\n"
                        "free text, 1 2 3\n"
                        "  two blanks.txt\n"
                        "1 iflag_EH\n"
                        "-2\n"
                        "7\t! number\n"
                        "2\n"
                        "1,0,-3\n"
                        "0.5\n"
                        "5E-1\n"
                        "2.5d0\n"
                        "-1\n"
                        "not read: abc\n");
    run_state& s = testing::fresh_state();
    read_control_file(s);
    const run_control& c = s.control;
    EXPECT_EQ(name_of(c), "  two blanks.txt" + std::string(64, ' '));
    EXPECT_EQ(c.iflag_EH, 1);
    EXPECT_EQ(c.kmirror_z, -2);
    EXPECT_EQ(c.kfile_num, 7);
    EXPECT_EQ(c.kform_3D, 2);
    EXPECT_EQ(c.ksym_x, 1);
    EXPECT_EQ(c.ksym_y, 0);
    EXPECT_EQ(c.ksym_z, -3);
    EXPECT_EQ(c.d_elm, 0.5);
    EXPECT_EQ(c.aper, 0.5);
    EXPECT_EQ(c.scale_E, 2.5);
    EXPECT_EQ(c.scale_B, -1.0);
    EXPECT_EQ(testing::console_text(s), "");
}

TEST(ControlFile, ShortFlagLineShiftsLaterValues) {
    testing::scratch_dir dir;
    testing::write_file(control_file_name, "a\nb\nt.txt\n0\n0\n6\n1\n0 0\n3.9\n3.8\n2.5\n1\n2.0 extra\n");
    run_state& s = testing::fresh_state();
    read_control_file(s);
    EXPECT_EQ(s.control.ksym_z, 3);
    EXPECT_EQ(s.control.d_elm, 3.8);
    EXPECT_EQ(s.control.aper, 2.5);
    EXPECT_EQ(s.control.scale_E, 1.0);
    EXPECT_EQ(s.control.scale_B, 2.0);
}

TEST(ControlFile, LongNameCutAndSlashKeepsZero) {
    testing::scratch_dir dir;
    const std::string name(85, 'q');
    testing::write_file(control_file_name, "\n\n" + name + "\n0\n0\n1\n0\n1 /\n1\n1\n1\n1");
    run_state& s = testing::fresh_state();
    read_control_file(s);
    EXPECT_EQ(name_of(s.control), std::string(80, 'q'));
    EXPECT_EQ(s.control.ksym_x, 1);
    EXPECT_EQ(s.control.ksym_y, 0);
    EXPECT_EQ(s.control.ksym_z, 0);
    EXPECT_EQ(s.control.scale_B, 1.0);  // last line without LF
}

TEST(ControlFile, Failures) {
    testing::scratch_dir dir;
    run_state& s = testing::fresh_state();
    int unit = 0;
    std::string file;
    EXPECT_EQ(failure_number([&] { read_control_file(s); }, &unit, &file), msg_file_not_found);
    EXPECT_EQ(unit, 1);
    EXPECT_EQ(file, dir.path() + "/poisson_to_kavro.dat");

    const std::vector<std::pair<std::string, int>> cases = {
        {"", msg_end_of_file},
        {"a\nb\nt\n0\n0\n1\n0\n0 0 0\n1\n1\n1\n", msg_end_of_file},
        {"a\nb\nt\nword\n", msg_syntax_error},
        {"a\nb\nt\n0\n0\n1\n0\n0 0 0\n-1D400\n", msg_conversion_error},
        {"a\nb\nt\n0\n0\n1\n0\n0 0 0\n1\n1\n1\n1\x1a\n", msg_syntax_error},
        {"a\nb\nt\n0\n0\n1\n0\n0 0 0\n1\n1\n1\n\x1a\n1\n", msg_end_of_file},
    };
    for (const auto& [text, number] : cases) {
        testing::write_file(control_file_name, text);
        EXPECT_EQ(failure_number([&] { read_control_file(s); }), number) << text;
    }
}

}  // namespace
}  // namespace p2k
