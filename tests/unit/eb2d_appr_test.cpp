#include "field3d/eb2d_appr.hpp"
#include "test_support.hpp"

#include <cmath>

#include <random>

namespace p2k {
namespace {

// A prepared map over r in [0.5, 0.5 + (nr-1) dr], z in [-1, ...] with values from `f`.
template <typename F>
run_state& map_of(int nr, int nz, double dr, double dz, F f) {
    static std::string console;
    run_state& s = testing::fresh_state();
    field_map& m = s.map;
    m.Nr = nr;
    m.Nz = nz;
    for (int ir = 1; ir <= nr; ++ir) m.r_node[static_cast<size_t>(ir)] = (ir - 1) * dr + 0.5;
    for (int iz = 1; iz <= nz; ++iz) m.z_node[static_cast<size_t>(iz)] = (iz - 1) * dz + -1.0;
    for (int iz = 1; iz <= nz; ++iz)
        for (int ir = 1; ir <= nr; ++ir) {
            const double r = m.r_node[static_cast<size_t>(ir)], z = m.z_node[static_cast<size_t>(iz)];
            m.Er_map(ir, iz) = f(r, z);
            m.Ez_map(ir, iz) = 2 * f(r, z);
            m.Br_map(ir, iz) = -f(r, z);
            m.Bz_map(ir, iz) = 3 * f(r, z);
        }
    return s;
}

double hash_value(double r, double z) { return std::sin(r * 12.9898 + z * 78.233) * 437.5453; }

TEST(EB2DAppr, NodeValuesExactAtInteriorAndBorderNodes) {
    run_state& s = map_of(7, 9, 0.25, 0.5, hash_value);
    const field_map& m = s.map;
    for (int iz = 1; iz <= 9; ++iz)
        for (int ir = 1; ir <= 7; ++ir) {
            double E[3], B[3];
            EB2D_APPR(m, m.r_node[static_cast<size_t>(ir)], m.z_node[static_cast<size_t>(iz)], E, B);
            const bool corner = (ir == 1 || ir == 7) && (iz == 1 || iz == 9);
            if (corner) continue;
            EXPECT_EQ(E[0], m.Er_map(ir, iz)) << ir << "," << iz;
            EXPECT_EQ(E[2], m.Ez_map(ir, iz)) << ir << "," << iz;
            EXPECT_EQ(B[0], m.Br_map(ir, iz)) << ir << "," << iz;
            EXPECT_EQ(B[2], m.Bz_map(ir, iz)) << ir << "," << iz;
            EXPECT_EQ(E[1], 0.0);
            EXPECT_EQ(B[1], 0.0);
        }
}

TEST(EB2DAppr, CornerIsTheQuadraticEstimate) {
    run_state& s = map_of(5, 5, 1.0, 1.0, hash_value);
    const field_map& m = s.map;
    const auto& F = m.Er_map;
    double E[3], B[3];
    EB2D_APPR(m, m.r_node[1], m.z_node[1], E, B);
    const double want = -F(2, 2) + F(1, 2) + F(2, 1) + (F(3, 3) + F(1, 1) - F(1, 3) - F(3, 1)) / 4;
    EXPECT_NEAR(E[0], want, 1e-12 * std::abs(want) + 1e-12);
    EXPECT_NE(E[0], F(1, 1));
}

TEST(EB2DAppr, QuadraticMapReproducedEverywhereInside) {
    auto quad = [](double r, double z) { return 1.5 - 2.0 * r + 0.75 * z + 3.0 * r * r - 1.25 * z * z + 0.5 * r * z; };
    run_state& s = map_of(6, 8, 0.2, 0.3, quad);
    const field_map& m = s.map;
    std::mt19937_64 rng(42);
    std::uniform_real_distribution<double> ur(m.r_node[1], m.r_node[6]), uz(m.z_node[1], m.z_node[8]);
    for (int n = 0; n < 2000; ++n) {
        const double r = n == 0 ? m.r_node[1] : n == 1 ? m.r_node[6] : ur(rng);
        const double z = n == 0 ? m.z_node[1] : n == 1 ? m.z_node[8] : uz(rng);
        double E[3], B[3];
        EB2D_APPR(m, r, z, E, B);
        ASSERT_NEAR(E[0], quad(r, z), 1e-12) << r << " " << z;
        ASSERT_NEAR(B[2], 3 * quad(r, z), 3e-12) << r << " " << z;
    }
}

TEST(EB2DAppr, HalfwayTakesTheUpperNode) {
    run_state& s = map_of(5, 5, 1.0, 1.0, hash_value);
    const field_map& m = s.map;
    const auto& F = m.Er_map;
    double E[3], B[3];
    const double r = m.r_node[3] + 0.5, z = m.z_node[3];  // halfway between columns 3 and 4
    EB2D_APPR(m, r, z, E, B);
    const double p = -0.5;  // about column 4
    const double want = (p + p * p) / 2 * F(5, 3) + (1 - p * p) * F(4, 3) + (p * p - p) / 2 * F(3, 3);
    EXPECT_NEAR(E[0], want, 1e-12 * std::abs(want));
}

TEST(EB2DAppr, ZeroOutsideTheMap) {
    run_state& s = map_of(5, 5, 1.0, 1.0, [](double, double) { return 7.0; });
    const field_map& m = s.map;
    const double rN = m.r_node[5], zN = m.z_node[5];
    const std::vector<std::pair<double, double>> outside = {
        {std::nextafter(rN, 10.0), 0.0}, {0.0, 0.0}, {0.49, 0.0}, {1.0, std::nextafter(zN, 10.0)},
        {1.0, std::nextafter(-1.0, -10.0)}, {100.0, 100.0}};
    for (const auto& [r, z] : outside) {
        double E[3] = {1, 1, 1}, B[3] = {1, 1, 1};
        EB2D_APPR(m, r, z, E, B);
        for (int c = 0; c < 3; ++c) {
            EXPECT_EQ(E[c], 0.0) << r << " " << z;
            EXPECT_EQ(B[c], 0.0) << r << " " << z;
        }
    }
    double E[3], B[3];
    EB2D_APPR(m, rN, zN, E, B);
    EXPECT_NEAR(E[0], 7.0, 1e-12);
}

}  // namespace
}  // namespace p2k
