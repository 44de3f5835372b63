#include "analytic_fields.hpp"

#include <cmath>
#include <numbers>

namespace p2k_physics {

AnalyticField electrostatic_lens() {
  constexpr double V0 = 10.0;  // kV
  constexpr double k = std::numbers::pi / 4.0;  // one period over the 8 cm of the table, 1/cm
  AnalyticField f;
  f.name = "electrostatic lens";
  f.iflag_EH = 0;
  f.parity_mode = 1;
  f.scale = 1000.0;  // kV/cm to V/cm
  f.r_max = 2.0;
  f.half_length = 4.0;
  f.k_r = k;
  f.k_z = k;
  f.amplitude = V0 * k * std::cyl_bessel_i(0.0, k * f.r_max);
  f.r_intervals = 24;
  f.z_intervals = 96;
  f.aper = 1.9;
  f.d_elm = 10.3;
  f.field = [](double r, double z) {
    return std::array<double, 2>{-V0 * k * std::cyl_bessel_i(1.0, k * r) * std::cos(k * z),
                                 V0 * k * std::cyl_bessel_i(0.0, k * r) * std::sin(k * z)};
  };
  f.potential = [](double r, double z) { return V0 * std::cyl_bessel_i(0.0, k * r) * std::cos(k * z); };
  return f;
}

AnalyticField pillbox_tm010() {
  constexpr double E0 = 2.5;  // MV/m
  constexpr double R = 2.5;   // cavity radius, cm
  constexpr double kr = 2.405 / R;
  AnalyticField f;
  f.name = "pillbox TM010";
  f.iflag_EH = 0;
  f.parity_mode = 2;
  f.scale = 1.0e6;  // MV/m to V/m
  f.r_max = R;
  f.half_length = 1.5;  // gap of 3 cm
  f.k_r = kr;
  f.k_z = 0.0;
  f.amplitude = E0;
  f.omega_over_c = kr;
  f.r_intervals = 10;
  f.z_intervals = 6;
  f.aper = 2.3;
  f.d_elm = 4.1;
  f.field = [](double r, double) { return std::array<double, 2>{0.0, E0 * std::cyl_bessel_j(0.0, kr * r)}; };
  return f;
}

AnalyticField solenoid_like() {
  constexpr double B0 = 5000.0;  // Gauss
  constexpr double k = std::numbers::pi / 6.0;  // one period over the 12 cm of the table, 1/cm
  AnalyticField f;
  f.name = "solenoid-like B";
  f.iflag_EH = 1;
  f.parity_mode = 2;
  f.scale = 1.0e-4;  // Gauss to Tesla
  f.r_max = 1.5;
  f.half_length = 6.0;
  f.k_r = k;
  f.k_z = k;
  f.amplitude = B0 * std::cyl_bessel_i(0.0, k * f.r_max);
  f.r_intervals = 12;
  f.z_intervals = 96;
  f.aper = 1.4;
  f.d_elm = 13.1;
  f.field = [](double r, double z) {
    return std::array<double, 2>{B0 * std::cyl_bessel_i(1.0, k * r) * std::sin(k * z),
                                 B0 * std::cyl_bessel_i(0.0, k * r) * std::cos(k * z)};
  };
  return f;
}

}  // namespace p2k_physics
