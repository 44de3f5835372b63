#include "map/map_prepare.hpp"
#include "test_support.hpp"

#include <cmath>

namespace p2k {
namespace {

// A 2 x 3 table (Nr = 2 would be rejected by the reader; preparation itself does not care)
// whose values name their node: F(ir, iz) = base + 10 ir + iz.
run_state& three_row_table(int32_t kmirror_z) {
    run_state& s = testing::fresh_state();
    field_map& m = s.map;
    m.Nr = 2;
    m.Nz = 3;
    m.Rmin = 0;
    m.Rmax = 1;
    m.Zmin = -1;
    m.Zmax = 1;
    for (int iz = 1; iz <= 3; ++iz)
        for (int ir = 1; ir <= 2; ++ir) {
            m.Er_map(ir, iz) = 100 + 10 * ir + iz;
            m.Ez_map(ir, iz) = 200 + 10 * ir + iz;
            m.Br_map(ir, iz) = 300 + 10 * ir + iz;
            m.Bz_map(ir, iz) = 400 + 10 * ir + iz;
        }
    s.control.kmirror_z = kmirror_z;
    return s;
}

TEST(MapPrepare, MirrorRowsOfTheFourModes) {
    struct mode {
        int32_t kmirror_z;
        int source_row[5];  // table row that each final row comes from
        bool axial_odd;
    };
    const std::vector<mode> modes = {
        {1, {3, 2, 1, 2, 3}, true},
        {-1, {1, 2, 3, 2, 1}, true},
        {2, {3, 2, 1, 2, 3}, false},
        {-2, {1, 2, 3, 2, 1}, false},
    };
    // Only the maps of the table's kind are mirrored; the other two are left as they were.
    for (const auto& md : modes)
        for (int32_t iflag_EH : {0, 1}) {
            run_state& s = three_row_table(md.kmirror_z);
            s.control.iflag_EH = iflag_EH;
            prepare_map(s);
            const field_map& m = s.map;
            ASSERT_EQ(m.Nz, 5);
            EXPECT_EQ(m.Zmin, -2.0);
            EXPECT_EQ(m.Zmax, 2.0);
            const map_array& radial = iflag_EH == 0 ? m.Er_map : m.Br_map;
            const map_array& axial = iflag_EH == 0 ? m.Ez_map : m.Bz_map;
            const double base = iflag_EH == 0 ? 100 : 300;
            const int table_first = md.kmirror_z > 0 ? 3 : 1;  // final rows holding the table as read
            for (int row = 1; row <= 5; ++row) {
                const bool mirrored = row < table_first || row > table_first + 2;
                const int src = md.source_row[row - 1];
                for (int ir = 1; ir <= 2; ++ir) {
                    const double sign_axial = mirrored && md.axial_odd ? -1 : 1;
                    const double sign_radial = mirrored && !md.axial_odd ? -1 : 1;
                    EXPECT_EQ(radial(ir, row), sign_radial * (base + 10 * ir + src)) << md.kmirror_z << " row " << row;
                    EXPECT_EQ(axial(ir, row), sign_axial * (base + 100 + 10 * ir + src)) << md.kmirror_z << " row " << row;
                }
            }
            const map_array& other = iflag_EH == 0 ? m.Bz_map : m.Ez_map;
            EXPECT_EQ(other(2, 3), (iflag_EH == 0 ? 400 : 200) + 23.0);
            EXPECT_EQ(other(2, 5), 0.0);
        }
}

TEST(MapPrepare, OtherModesLeaveTheMapAsRead) {
    for (int32_t k : {0, 3, -3, 99}) {
        run_state& s = three_row_table(k);
        prepare_map(s);
        EXPECT_EQ(s.map.Nz, 3);
        EXPECT_EQ(s.map.Zmax, 1.0);
        EXPECT_EQ(s.map.Ez_map(2, 3), 223.0);
        EXPECT_EQ(s.map.Ez_map(2, 4), 0.0);
    }
}

TEST(MapPrepare, MirroredZeroBecomesNegativeZero) {
    run_state& s = three_row_table(1);
    s.map.Ez_map(1, 3) = 0.0;  // table row 3 becomes final row 5, mirrored into row 1
    prepare_map(s);
    EXPECT_TRUE(std::signbit(s.map.Ez_map(1, 1)));
    EXPECT_FALSE(std::signbit(s.map.Ez_map(1, 5)));
}

TEST(MapPrepare, NodeCoordinatesAndReport) {
    run_state& s = testing::fresh_state();
    field_map& m = s.map;
    m.Nr = 11;
    m.Nz = 3;
    m.Rmin = 0.1;
    m.Rmax = 1.1;
    m.Zmin = -0.3;
    m.Zmax = 0.3;
    s.control.kmirror_z = -2;
    prepare_map(s);
    EXPECT_EQ(m.r_node[1], 0.1);
    for (int ir = 1; ir <= 11; ++ir) EXPECT_EQ(m.r_node[static_cast<size_t>(ir)], (ir - 1) * ((1.1 - 0.1) / 10.0) + 0.1);
    EXPECT_EQ(m.z_node[1], -0.6);
    EXPECT_EQ(m.z_node[3], 2 * ((0.6 - -0.6) / 4.0) + -0.6);
    const std::string console = testing::console_text(s);
    EXPECT_EQ(console,
              "  Full Input Grid parameters \r\n"
              "  Zmin, Zmax, Nz =  -0.600000000000000       0.600000000000000                5\r\n"
              "  Rmin, Rmax, Nr =   0.100000000000000        1.10000000000000               11\r\n");
}

}  // namespace
}  // namespace p2k
