#include "writers/write_output.hpp"
#include "test_support.hpp"

#include <cstring>
#include <sstream>

namespace p2k {
namespace {

using testing::read_file;

// A state ready for the output stage: grid of aper 0.025 and d_elm 0.5, field values that
// name their array and node.
run_state& ready_state(int32_t kform_3D, int32_t iflag_EH) {
    run_state& s = testing::fresh_state();
    run_control& c = s.control;
    c.d_elm = 0.5;
    c.aper = 0.025;
    c.kform_3D = kform_3D;
    c.iflag_EH = iflag_EH;
    c.kfile_num = 7;
    c.ksym_x = 0;
    c.ksym_y = 0;
    c.ksym_z = 0;
    output_grid& g = s.grid;
    g.xmws = {-0.025, 0.025};
    g.ymws = {-0.025, 0.025};
    g.zmws = {-0.25, 0.25};
    for (size_t n = 1; n <= 25; ++n) g.x_grid[n] = g.y_grid[n] = static_cast<double>(n - 1) * (0.05 / 24.0) + -0.025;
    for (size_t n = 1; n <= 201; ++n) g.z_grid[n] = static_cast<double>(n - 1) * (0.5 / 200.0) + -0.25;
    grid_array* arrays[6] = {&s.field.Ex, &s.field.Ey, &s.field.Ez, &s.field.Bx, &s.field.By, &s.field.Bz};
    for (int a = 0; a < 6; ++a)
        for (size_t n = 0; n < arrays[a]->v.size(); ++n) arrays[a]->v[n] = (a + 1) * 1000000.0 + static_cast<double>(n);
    return s;
}

double value_at(const std::string& file, size_t offset) {
    double v;
    std::memcpy(&v, file.data() + offset, 8);
    return v;
}

int32_t int_at(const std::string& file, size_t offset) {
    int32_t v;
    std::memcpy(&v, file.data() + offset, 4);
    return v;
}

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> out;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find("\r\n", at);
        out.push_back(text.substr(at, end - at));
        at = end + 2;
    }
    return out;
}

TEST(OutputNaming, TwoDigitsOrAsterisks) {
    const std::vector<std::pair<int32_t, std::string>> cases = {
        {0, "eh_EMS.#00"}, {7, "eh_EMS.#07"}, {9, "eh_EMS.#09"}, {42, "eh_EMS.#42"}, {99, "eh_EMS.#99"},
        {100, "eh_EMS.#**"}, {-1, "eh_EMS.#**"}, {2147483647, "eh_EMS.#**"}, {-2147483647 - 1, "eh_EMS.#**"}};
    for (const auto& [k, want] : cases) {
        run_state& s = testing::fresh_state();
        s.control.kfile_num = k;
        name_output_file(s);
        EXPECT_EQ(std::string(s.out.field_file.data(), 80), want + std::string(70, ' ')) << k;
    }
}

TEST(BinaryFieldFile, RecordsSizesAndOffsets) {
    for (int32_t iflag : {0, 1}) {
        testing::scratch_dir dir;
        run_state& s = ready_state(0, iflag);
        s.control.ksym_z = -4;
        write_output(s);
        const std::string console = testing::console_text(s);
        EXPECT_EQ(console, " output field file name = eh_EMS.#07\r\n");
        const std::string f = read_file("eh_EMS.#07");
        ASSERT_EQ(f.size(), 3017116u);
        const size_t data_offsets[9] = {4, 32, 52, 260, 468, 2084, 1007092, 2012100, 3017108};
        const int32_t lengths[9] = {20, 12, 200, 200, 1608, 1005000, 1005000, 1005000, 4};
        for (int r = 0; r < 9; ++r) {
            EXPECT_EQ(int_at(f, data_offsets[r] - 4), lengths[r]) << r;
            EXPECT_EQ(int_at(f, data_offsets[r] + static_cast<size_t>(lengths[r])), lengths[r]) << r;
        }
        EXPECT_EQ(value_at(f, 4), 0.5);
        EXPECT_EQ(value_at(f, 12), 0.025);
        EXPECT_EQ(int_at(f, 20), 0);
        EXPECT_EQ(int_at(f, 32 + 8), -4);
        EXPECT_EQ(value_at(f, 52), s.grid.x_grid[1]);
        EXPECT_EQ(value_at(f, 468 + 8 * 200), s.grid.z_grid[201]);
        const double base = iflag == 0 ? 1000000.0 : 4000000.0;
        EXPECT_EQ(value_at(f, 2084), base);
        EXPECT_EQ(value_at(f, 2084 + 200), base + 25);    // element (1, 2, 1)
        EXPECT_EQ(value_at(f, 2084 + 5000), base + 625);  // element (1, 1, 2)
        EXPECT_EQ(value_at(f, 2012100 + 8 * 125624), base + 2000000.0 + 125624);
        EXPECT_EQ(int_at(f, 3017108), -99);
        EXPECT_EQ(s.out.k_s_EH, 0);
        EXPECT_EQ(s.out.kend_mark, -99);
    }
}

TEST(BinaryFieldFile, OverwritesALongerFile) {
    testing::scratch_dir dir;
    testing::write_file("eh_EMS.#07", std::string(4000000, 'x'));
    run_state& s = ready_state(0, 0);
    write_output(s);
    EXPECT_EQ(read_file("eh_EMS.#07").size(), 3017116u);
}

TEST(TextFieldFile1, LinesOfTheNineStatements) {
    testing::scratch_dir dir;
    run_state& s = ready_state(1, 0);
    s.field.Ex.v[0] = 0.0;
    write_output(s);
    const std::string f = read_file("eh_EMS.#07");
    ASSERT_EQ(f.size(), 9302558u);
    const auto l = lines_of(f);
    ASSERT_EQ(l.size(), 125713u);
    EXPECT_EQ(l[0], "  0.500000000000000       2.500000000000000E-002           0");
    EXPECT_EQ(l[1], "           0           0           0");
    EXPECT_EQ(l[2], " -2.500000000000000E-002 -2.291666666666667E-002 -2.083333333333334E-002");
    EXPECT_EQ(l[10].size(), 24u);  // line 9 of the x coordinates: one value
    const size_t field_start = 2 + 9 + 9 + 67;
    EXPECT_EQ(l[field_start].substr(0, 24), "  0.000000000000000E+000");
    // line 9 of statement 6: elements (25, 1, 1), (1, 2, 1), (2, 2, 1)
    EXPECT_EQ(l[field_start + 8], "   1000024.00000000        1000025.00000000        1000026.00000000     ");
    EXPECT_EQ(l[field_start + 2 * 41875], "   3000000.00000000        3000001.00000000        3000002.00000000     ");
    EXPECT_EQ(l.back(), "         -99");
}

TEST(TextFieldFile2, HeaderAndNodeOrder) {
    testing::scratch_dir dir;
    run_state& s = ready_state(2, 1);
    s.grid.zmws = {0, 0.25};
    s.control.ksym_z = 1;
    write_output(s);
    const std::string f = read_file("eh_EMS.#07");
    ASSERT_EQ(f.size(), 9296488u);
    const auto l = lines_of(f);
    ASSERT_EQ(l.size(), 125630u);
    EXPECT_EQ(l[0], "           1");
    EXPECT_EQ(l[1], "           0           0           1");
    EXPECT_EQ(l[2], " -2.500000000000000E-002  2.500000000000000E-002          25");
    EXPECT_EQ(l[4], "  0.000000000000000E+000  0.250000000000000              201");
    auto node_line = [](int i, int j, int k) {
        char b[72];
        const double n = static_cast<double>(grid_array::at(i, j, k));
        format_real24(4000000.0 + n, b);
        format_real24(5000000.0 + n, b + 24);
        format_real24(6000000.0 + n, b + 48);
        return std::string(b, 72);
    };
    EXPECT_EQ(l[5], node_line(1, 1, 1));
    EXPECT_EQ(l[6], node_line(1, 1, 2));
    EXPECT_EQ(l[206], node_line(1, 2, 1));
    EXPECT_EQ(l[5030], node_line(2, 1, 1));
    EXPECT_EQ(l.back(), node_line(25, 25, 201));
}

TEST(OutputStage, InvalidFormatStopsBeforeAnyFileIsTouched) {
    testing::scratch_dir dir;
    testing::write_file("eh_EMS.#07", "earlier run");
    for (int32_t kform : {3, -1, 99}) {
        run_state& s = ready_state(kform, 0);
        int status = 0;
        EXPECT_EQ(testing::stop_message([&] { write_output(s); }, &status), " Not a valid KAVRO 3D field format: use 0, 1 or 2 ");
        EXPECT_EQ(status, 1);
        const std::string console = testing::console_text(s);
        EXPECT_EQ(console, " output field file name = eh_EMS.#07\r\n");
    }
    EXPECT_EQ(read_file("eh_EMS.#07"), "earlier run");
}

}  // namespace
}  // namespace p2k
