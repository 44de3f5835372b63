// The generated fields themselves: they must satisfy Maxwell's equations, have the symmetry
// in z that their mirror mode assumes, and stay within the bounds the error estimate of the
// conversion tests is built on.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "analytic_fields.hpp"

namespace {

using p2k_physics::AnalyticField;

struct FieldMaker {
  const char* tag;
  AnalyticField (*make)();
};

const FieldMaker makers[] = {
    {"ElectrostaticLens", p2k_physics::electrostatic_lens},
    {"PillboxTM010", p2k_physics::pillbox_tm010},
    {"SolenoidLikeB", p2k_physics::solenoid_like},
};

// Fourth-order central differences of a function of one variable.
template <class F>
double d1(F g, double x, double h) {
  return (g(x - 2 * h) - 8 * g(x - h) + 8 * g(x + h) - g(x + 2 * h)) / (12 * h);
}
template <class F>
double d2(F g, double x, double h) {
  return (-g(x - 2 * h) + 16 * g(x - h) - 30 * g(x) + 16 * g(x + h) - g(x + 2 * h)) / (12 * h * h);
}
template <class F>
double d3(F g, double x, double h) {
  return (g(x + 2 * h) - 2 * g(x + h) + 2 * g(x - h) - g(x - 2 * h)) / (2 * h * h * h);
}

struct Point {
  double r, z;
};

std::vector<Point> sample_points(const AnalyticField& f) {
  std::vector<Point> points;
  for (double fr : {0.12, 0.37, 0.66, 0.93}) {
    for (double fz : {-0.85, -0.4, 0.15, 0.55, 0.9}) points.push_back({fr * f.r_max, fz * f.half_length});
  }
  return points;
}

void PrintTo(const FieldMaker& m, std::ostream* os) { *os << m.tag; }

class GeneratedField : public ::testing::TestWithParam<FieldMaker> {};

TEST_P(GeneratedField, SatisfiesMaxwellsEquations) {
  const AnalyticField f = GetParam().make();
  const double k = std::max(f.k_r, f.k_z);
  const double h = 1e-3 / k;
  const double tolerance = 1e-7 * f.amplitude * k;
  for (const Point p : sample_points(f)) {
    SCOPED_TRACE("r = " + std::to_string(p.r) + ", z = " + std::to_string(p.z));
    auto Fr_of_r = [&](double r) { return f.field(r, p.z)[0]; };
    auto Fz_of_r = [&](double r) { return f.field(r, p.z)[1]; };
    auto Fr_of_z = [&](double z) { return f.field(p.r, z)[0]; };
    auto Fz_of_z = [&](double z) { return f.field(p.r, z)[1]; };
    const double Fr = f.field(p.r, p.z)[0];
    // div F = (1/r) d(r F_r)/dr + dF_z/dz = 0 (no charge, no magnetic monopole).
    const double div = d1(Fr_of_r, p.r, h) + Fr / p.r + d1(Fz_of_z, p.z, h);
    EXPECT_LE(std::abs(div), tolerance) << "divergence";
    const double curl_phi = d1(Fr_of_z, p.z, h) - d1(Fz_of_r, p.r, h);
    if (f.omega_over_c == 0.0) {
      // Static field in vacuum: curl F = 0.
      EXPECT_LE(std::abs(curl_phi), tolerance) << "curl";
    } else {
      // Cavity mode: E_z solves the Helmholtz equation, and the wall at r_max is a node of E_z.
      const double kc = f.omega_over_c;
      const double helmholtz = d2(Fz_of_r, p.r, h) + d1(Fz_of_r, p.r, h) / p.r + d2(Fz_of_z, p.z, h) +
                               kc * kc * f.field(p.r, p.z)[1];
      EXPECT_LE(std::abs(helmholtz), 1e-6 * f.amplitude * kc * kc) << "Helmholtz equation";
      EXPECT_NE(curl_phi, 0.0) << "a cavity mode carries an azimuthal magnetic field";
    }
  }
  if (f.omega_over_c != 0.0) {
    EXPECT_LE(std::abs(f.field(f.r_max, 0.0)[1]), 1e-3 * f.amplitude) << "E_z at the cavity wall";
  }
}

TEST(GeneratedLens, IsTheNegativeGradientOfItsPotential) {
  const AnalyticField f = p2k_physics::electrostatic_lens();
  ASSERT_TRUE(f.potential);
  const double k = std::max(f.k_r, f.k_z);
  const double h = 1e-3 / k;
  for (const Point p : sample_points(f)) {
    SCOPED_TRACE("r = " + std::to_string(p.r) + ", z = " + std::to_string(p.z));
    const auto F = f.field(p.r, p.z);
    const double dV_dr = d1([&](double r) { return f.potential(r, p.z); }, p.r, h);
    const double dV_dz = d1([&](double z) { return f.potential(p.r, z); }, p.z, h);
    EXPECT_NEAR(F[0], -dV_dr, 1e-7 * f.amplitude);
    EXPECT_NEAR(F[1], -dV_dz, 1e-7 * f.amplitude);
  }
}

TEST_P(GeneratedField, HasTheParityOfItsMirrorMode) {
  const AnalyticField f = GetParam().make();
  // Mode 1: radial component even in z, axial odd; mode 2 the reverse.
  const double radial_sign = f.parity_mode == 1 ? 1.0 : -1.0;
  for (const Point p : sample_points(f)) {
    const auto up = f.field(p.r, p.z);
    const auto down = f.field(p.r, -p.z);
    EXPECT_NEAR(down[0], radial_sign * up[0], 1e-12 * f.amplitude) << "r = " << p.r << ", z = " << p.z;
    EXPECT_NEAR(down[1], -radial_sign * up[1], 1e-12 * f.amplitude) << "r = " << p.r << ", z = " << p.z;
  }
}

TEST_P(GeneratedField, StaysWithinTheBoundsOfTheErrorEstimate) {
  const AnalyticField f = GetParam().make();
  const double slack = 1.01;
  for (const Point p : sample_points(f)) {
    SCOPED_TRACE("r = " + std::to_string(p.r) + ", z = " + std::to_string(p.z));
    for (std::size_t c = 0; c < 2; ++c) {
      auto of_r = [&](double r) { return f.field(r, p.z)[c]; };
      auto of_z = [&](double z) { return f.field(p.r, z)[c]; };
      EXPECT_LE(std::abs(f.field(p.r, p.z)[c]), slack * f.amplitude);
      const double hr = 1e-2 / f.k_r;
      EXPECT_LE(std::abs(d3(of_r, p.r, hr)), slack * f.amplitude * std::pow(f.k_r, 3));
      if (f.k_z > 0.0) {
        const double hz = 1e-2 / f.k_z;
        EXPECT_LE(std::abs(d3(of_z, p.z, hz)), slack * f.amplitude * std::pow(f.k_z, 3));
      } else {
        EXPECT_EQ(of_z(p.z + 0.1), of_z(p.z)) << "a field without k_z must not depend on z";
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Physics, GeneratedField, ::testing::ValuesIn(makers),
                         [](const ::testing::TestParamInfo<FieldMaker>& info) { return info.param.tag; });

}  // namespace
