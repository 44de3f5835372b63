// Analytic axially symmetric fields that satisfy Maxwell's equations, for generating
// Poisson-style tables whose conversion can be checked against the exact field.
#pragma once

#include <array>
#include <functional>
#include <string>

#include "e2e_harness.hpp"

namespace p2k_physics {

struct AnalyticField {
  std::string name;
  int iflag_EH = 0;     // 0 electric, 1 magnetic
  int parity_mode = 1;  // mirror mode that fits: 1 radial even / axial odd in z, 2 radial odd / axial even
  double scale = 1.0;   // control file factor from table units to output units
  double r_max = 1.0;   // the table covers 0 <= r <= r_max
  double half_length = 1.0;  // and -half_length <= z <= half_length
  // Wave numbers of the r and z dependence and an amplitude that bounds the field and its
  // derivatives scaled by them: |d^n F / dr^a dz^b| <= amplitude * k_r^a * k_z^b (table units).
  double k_r = 1.0;
  double k_z = 0.0;
  double amplitude = 1.0;
  // 0 for a static field (free of curl); omega / c for the electric field of a cavity mode,
  // whose axial component then satisfies the Helmholtz equation.
  double omega_over_c = 0.0;
  // Coarse table mesh over the whole length; the fine one has half the step.
  int r_intervals = 4;
  int z_intervals = 4;
  // Output grid, reaching beyond the table in r (corners) and z.
  double aper = 1.0;
  double d_elm = 1.0;
  p2k_e2e::CylindricalField field;          // (radial, axial), table units
  std::function<double(double r, double z)> potential;  // electrostatic potential, if any
};

// V(r, z) = V0 I0(k r) cos(k z), E = -grad V: a periodic electrostatic lens.
AnalyticField electrostatic_lens();
// Pillbox cavity TM010 at its field maximum: E_z = E0 J0(2.405 r / R), E_r = 0.
AnalyticField pillbox_tm010();
// Solenoid-like magnetostatic field B_z = B0 I0(k r) cos(k z), B_r = B0 I1(k r) sin(k z),
// which is free of divergence and curl.
AnalyticField solenoid_like();

}  // namespace p2k_physics
