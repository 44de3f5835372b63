#include "field3d/sampling.hpp"
#include "field3d/eb2d_appr.hpp"
#include "test_support.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace p2k {
namespace {

// A uniform radial field E_r = 1 + r, E_z = z, B_r = 2, B_z = -1 on r in [rmin, rmin + 4], z in [-4, 4].
run_state& linear_map(double rmin) {
    run_state& s = testing::fresh_state();
    field_map& m = s.map;
    m.Nr = 5;
    m.Nz = 9;
    for (int ir = 1; ir <= 5; ++ir) m.r_node[static_cast<size_t>(ir)] = (ir - 1) * 1.0 + rmin;
    for (int iz = 1; iz <= 9; ++iz) m.z_node[static_cast<size_t>(iz)] = (iz - 1) * 1.0 + -4.0;
    for (int iz = 1; iz <= 9; ++iz)
        for (int ir = 1; ir <= 5; ++ir) {
            m.Er_map(ir, iz) = 1 + m.r_node[static_cast<size_t>(ir)];
            m.Ez_map(ir, iz) = m.z_node[static_cast<size_t>(iz)];
            m.Br_map(ir, iz) = 2;
            m.Bz_map(ir, iz) = -1;
        }
    return s;
}

TEST(OutputGrid, LimitsStepsAndReport) {
    struct grid_case {
        int32_t ksym_x, ksym_y, ksym_z;
        double x_lower, z_lower, x_step, z_step;
    };
    const std::vector<grid_case> cases = {
        {0, 0, 0, -3, -20, 0.25, 0.2},
        {1, 0, 0, 0, -20, 0.125, 0.2},
        {-7, 0, 1, 0, 0, 0.125, 0.1},
    };
    for (const auto& c : cases) {
        run_state& s = linear_map(0);
        s.control.aper = 3;
        s.control.d_elm = 40;
        s.control.ksym_x = c.ksym_x;
        s.control.ksym_y = c.ksym_y;
        s.control.ksym_z = c.ksym_z;
        sample_field(s);
        const output_grid& g = s.grid;
        EXPECT_EQ(g.xmws[0], c.x_lower);
        EXPECT_EQ(g.xmws[1], 3.0);
        EXPECT_EQ(g.ymws[0], -3.0);
        EXPECT_EQ(g.zmws[0], c.z_lower);
        EXPECT_EQ(g.zmws[1], 20.0);
        for (size_t n = 1; n <= 25; ++n) EXPECT_EQ(g.x_grid[n], static_cast<double>(n - 1) * c.x_step + c.x_lower);
        for (size_t n = 1; n <= 201; ++n) EXPECT_EQ(g.z_grid[n], static_cast<double>(n - 1) * ((20.0 - c.z_lower) / 200.0) + c.z_lower);
    }
    run_state& s = linear_map(0);
    s.control.aper = 3;
    s.control.d_elm = 40;
    sample_field(s);
    const std::string console = testing::console_text(s);
    EXPECT_EQ(console,
              "  Kavro grid and other info \r\n"
              "          25  -3.00000000000000        3.00000000000000     \r\n"
              "          25  -3.00000000000000        3.00000000000000     \r\n"
              "         201  -20.0000000000000        20.0000000000000     \r\n");
}

// The map sampled as a table of kind iflag_EH: only that kind's three arrays are filled.
run_state& sampled(double rmin, int32_t iflag_EH, double aper, double d_elm) {
    run_state& s = linear_map(rmin);
    s.control.iflag_EH = iflag_EH;
    s.control.aper = aper;
    s.control.d_elm = d_elm;
    sample_field(s);
    const field_3d& f = s.field;
    const bool electric = iflag_EH == 0;
    for (const grid_array* a : {electric ? &f.Bx : &f.Ex, electric ? &f.By : &f.Ey, electric ? &f.Bz : &f.Ez})
        EXPECT_TRUE(std::all_of(a->v.begin(), a->v.end(), [](double v) { return v == 0.0; }));
    return s;
}

TEST(OutputGrid, CartesianComponentsAreRadialAndZeroOnTheAxis) {
    // E_r = 1 + r and E_z = z; B_r = 2 and B_z = -1.
    for (int32_t iflag_EH : {0, 1}) {
        run_state& s = sampled(0, iflag_EH, 2, 6);
        const output_grid& g = s.grid;
        const field_3d& f = s.field;
        const grid_array& fx = iflag_EH == 0 ? f.Ex : f.Bx;
        const grid_array& fy = iflag_EH == 0 ? f.Ey : f.By;
        const grid_array& fz = iflag_EH == 0 ? f.Ez : f.Bz;
        for (int i = 1; i <= 25; ++i)
            for (int j = 1; j <= 25; ++j)
                for (int k = 1; k <= 201; k += 50) {
                    const double x = g.x_grid[static_cast<size_t>(i)], y = g.y_grid[static_cast<size_t>(j)];
                    const double r = std::sqrt(x * x + y * y);
                    if (i == 13 && j == 13) {
                        EXPECT_EQ(fx(i, j, k), 0.0);
                        EXPECT_EQ(fy(i, j, k), 0.0);
                        continue;
                    }
                    ASSERT_GT(r, 1e-12);
                    const double radial = iflag_EH == 0 ? 1 + r : 2.0;
                    EXPECT_NEAR(fx(i, j, k), (x * radial) / r, 1e-12) << i << " " << j;
                    EXPECT_NEAR(fx(i, j, k) * y, fy(i, j, k) * x, 1e-12);
                    EXPECT_NEAR(fz(i, j, k), iflag_EH == 0 ? g.z_grid[static_cast<size_t>(k)] : -1.0, 1e-12);
                }
    }
}

TEST(OutputGrid, OutsideTheMapZeroWithTheFormulasSign) {
    // The axis lies outside the map (r from 0.5), the corners beyond r = 4.5, z beyond +-4.
    for (int32_t iflag_EH : {0, 1}) {
        run_state& s = sampled(0.5, iflag_EH, 4, 10);
        const field_3d& f = s.field;
        const grid_array& fx = iflag_EH == 0 ? f.Ex : f.Bx;
        const grid_array& fy = iflag_EH == 0 ? f.Ey : f.By;
        const grid_array& fz = iflag_EH == 0 ? f.Ez : f.Bz;
        for (const grid_array* a : {&fx, &fy, &fz}) EXPECT_EQ((*a)(13, 13, 101), 0.0);
        // corner (x, y < 0): (x * 0) / r is -0.0
        EXPECT_EQ(fx(1, 1, 101), 0.0);
        EXPECT_TRUE(std::signbit(fx(1, 1, 101)));
        EXPECT_TRUE(std::signbit(fy(1, 1, 101)));
        EXPECT_FALSE(std::signbit(fx(25, 25, 101)));
        EXPECT_EQ(fz(25, 25, 101), 0.0);
        // z outside the map
        ASSERT_LT(s.grid.z_grid[1], -4.0);
        EXPECT_EQ(fz(20, 13, 1), 0.0);
        EXPECT_NE(fz(20, 13, 111), 0.0);
    }
}

// Every stored component is bit for bit what EB2D_APPR gives at the node, turned Cartesian: on a
// map of irregular values, with nodes inside, on the border half steps and outside (r and z),
// for both kinds and for symmetric grids.
TEST(OutputGrid, EveryNodeIsEB2DApprBitForBit) {
    struct grid_case {
        double rmin, aper, d_elm;
        int32_t ksym;
    };
    for (const grid_case& c : {grid_case{0, 3.5, 9, 0}, grid_case{0.5, 1.7, 7.3, 0}, grid_case{0, 2.2, 8, 1}}) {
        for (int32_t iflag_EH : {0, 1}) {
            run_state& s = linear_map(c.rmin);
            field_map& m = s.map;
            for (size_t n = 0; n < m.Er_map.v.size(); ++n) {
                m.Er_map.v[n] = std::sin(0.37 * static_cast<double>(n)) * 3.1;
                m.Ez_map.v[n] = std::cos(0.91 * static_cast<double>(n)) / 7.0;
                m.Br_map.v[n] = m.Ez_map.v[n] * 1e-3;
                m.Bz_map.v[n] = -m.Er_map.v[n];
            }
            s.control = {};
            s.control.iflag_EH = iflag_EH;
            s.control.aper = c.aper;
            s.control.d_elm = c.d_elm;
            s.control.ksym_x = s.control.ksym_z = c.ksym;
            sample_field(s);
            const bool electric = iflag_EH == 0;
            const field_3d& f = s.field;
            const grid_array& fx = electric ? f.Ex : f.Bx;
            const grid_array& fy = electric ? f.Ey : f.By;
            const grid_array& fz = electric ? f.Ez : f.Bz;
            long differ = 0;
            for (int i = 1; i <= 25; ++i)
                for (int j = 1; j <= 25; ++j)
                    for (int k = 1; k <= 201; ++k) {
                        const double x = s.grid.x_grid[static_cast<size_t>(i)], y = s.grid.y_grid[static_cast<size_t>(j)];
                        const double r = std::sqrt(x * x + y * y);
                        double E[3], B[3];
                        EB2D_APPR(m, r, s.grid.z_grid[static_cast<size_t>(k)], E, B);
                        const double* cyl = electric ? E : B;
                        const double want[3] = {r > 1e-12 ? (x * cyl[0]) / r : 0.0, r > 1e-12 ? (y * cyl[0]) / r : 0.0, cyl[2]};
                        const double got[3] = {fx(i, j, k), fy(i, j, k), fz(i, j, k)};
                        differ += std::memcmp(want, got, sizeof want) != 0 ? 1 : 0;
                    }
            EXPECT_EQ(differ, 0) << c.rmin << " " << c.aper << " " << iflag_EH;
        }
    }
}

TEST(OutputGrid, ZeroApertureSamplesTheAxis) {
    run_state& s = sampled(0, 1, 0, 2);
    for (size_t n = 0; n < s.field.Bx.v.size(); ++n) {
        ASSERT_EQ(s.field.Bx.v[n], 0.0);
        ASSERT_EQ(s.field.By.v[n], 0.0);
        ASSERT_NEAR(s.field.Bz.v[n], -1.0, 1e-12);
    }
}

}  // namespace
}  // namespace p2k

namespace p2k {
namespace {

TEST(OutputGrid, LengthsWhoseStepOverflowsAreRejected) {
    struct huge {
        double aper, d_elm;
        std::string message;
    };
    const std::vector<huge> cases = {
        {1e308, 1, " Output grid rejected: aper = 1e+308 gives a grid step that is not finite"},
        {-1e308, 1, " Output grid rejected: aper = -1e+308 gives a grid step that is not finite"},
    };
    for (const auto& c : cases) {
        run_state& s = linear_map(0);
        s.control.aper = c.aper;
        s.control.d_elm = c.d_elm;
        int status = 0;
        EXPECT_EQ(testing::stop_message([&] { sample_field(s); }, &status), c.message);
        EXPECT_EQ(status, 1);
        const std::string console = testing::console_text(s);
        EXPECT_EQ(console, "");
    }
    // the largest lengths that still give finite nodes are accepted
    run_state& s = linear_map(0);
    s.control.aper = 8e307;
    s.control.d_elm = 1.7976931348623157e308;
    sample_field(s);
    EXPECT_TRUE(std::isfinite(s.grid.x_grid[1]));
    EXPECT_TRUE(std::isfinite(s.grid.z_grid[201]));
}

}  // namespace
}  // namespace p2k
