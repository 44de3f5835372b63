// Physics checks of the whole conversion: Poisson-style tables of analytic fields that
// satisfy Maxwell's equations are converted by the built program, and the Cartesian field
// it writes is compared with the exact field at every node of the output grid. Each case
// is converted twice, the second time from a table with half the mesh step, to measure
// the order of the approximation. The measured errors and ratios are printed.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "analytic_fields.hpp"
#include "e2e_harness.hpp"

namespace {

using namespace p2k_e2e;
using p2k_physics::AnalyticField;

const std::string converter_binary = P2K_BINARY;

// The approximation is a quadratic Taylor expansion about the nearest table node with
// central differences; its error is dominated by the third derivatives, about
// p (1 - p^2) / 6 * h^3 * F''' per direction with |p (1 - p^2)| <= 0.385 in the cells
// used. With |F'''| <= amplitude * k^3 per direction, plus the mixed terms, the error
// stays below error_bound_factor * amplitude * ((k_r h_r)^3 + (k_z h_z)^3).
constexpr double error_bound_factor = 0.25;
// Halving the mesh step must divide the error by about 2^3 = 8. The root mean square over
// the nodes inside the map averages over many offsets from the table nodes and follows the
// order closely; the maximum depends on the offsets at which the fixed output grid happens
// to sample the few cells where the error peaks, so its band is wider. Both bands exclude
// second order (4) and fourth order (16).
constexpr double min_rms_ratio = 7.0;
constexpr double max_rms_ratio = 9.5;
constexpr double min_max_ratio = 5.5;
constexpr double max_max_ratio = 13.0;

enum class TableExtent { full, upper_half, lower_half };

struct Variant {
  const char* name;
  TableExtent extent;
  std::array<int, 3> ksym;
};

const Variant variants[] = {
    {"FullTable", TableExtent::full, {0, 0, 0}},
    {"FullTableSymmetryFlags", TableExtent::full, {1, 1, 1}},
    {"UpperHalfMirrored", TableExtent::upper_half, {0, 0, 0}},
    {"LowerHalfMirroredSymmetryFlags", TableExtent::lower_half, {1, 1, 1}},
};

struct FieldKind {
  const char* tag;
  AnalyticField (*make)();
};

const FieldKind field_kinds[] = {
    {"ElectrostaticLens", p2k_physics::electrostatic_lens},
    {"PillboxTM010", p2k_physics::pillbox_tm010},
    {"SolenoidLikeB", p2k_physics::solenoid_like},
};

const char* extent_text(TableExtent e) {
  switch (e) {
    case TableExtent::full: return "full table";
    case TableExtent::upper_half: return "upper half table";
    case TableExtent::lower_half: return "lower half table";
  }
  return "";
}

struct Conversion {
  BinaryFieldFile file;
  int kmirror_z = 0;
  double h_r = 0.0;
  double h_z = 0.0;
};

// Writes the table of field f (mesh refined `refine` times), converts it with mirror mode
// kmirror_z (for half tables) and the given symmetry flags, and parses the binary output.
Conversion convert(const AnalyticField& f, TableExtent extent, int kmirror_z, std::array<int, 3> ksym, int refine) {
  const double L = f.half_length;
  TableLayout t;
  t.rmin = 0.0;
  t.rmax = f.r_max;
  t.r_intervals = f.r_intervals * refine;
  switch (extent) {
    case TableExtent::full:  // placed away from z = 0, as a solver run would place it
      t.zmin = 10.0;
      t.zmax = 10.0 + 2.0 * L;
      t.z_origin = 10.0 + L;
      t.z_intervals = f.z_intervals * refine;
      break;
    case TableExtent::upper_half:  // first row on the symmetry plane
      t.zmin = 0.0;
      t.zmax = L;
      t.z_origin = 0.0;
      t.z_intervals = f.z_intervals * refine / 2;
      break;
    case TableExtent::lower_half:  // last row on the symmetry plane
      t.zmin = -3.0 - L;
      t.zmax = -3.0;
      t.z_origin = -3.0;
      t.z_intervals = f.z_intervals * refine / 2;
      break;
  }
  t.preamble = {"Poisson-style table of an analytic field: " + f.name,
                "generated for the physics tests of the converter"};

  Control control;
  control.iflag_EH = f.iflag_EH;
  control.kmirror_z = extent == TableExtent::full ? 0 : kmirror_z;
  control.kfile_num = 1;
  control.kform_3D = 0;
  control.ksym = ksym;
  control.d_elm = f.d_elm;
  control.aper = f.aper;
  control.scale_E = f.iflag_EH == 0 ? f.scale : 1.0;
  control.scale_B = f.iflag_EH == 1 ? f.scale : 1.0;

  ScratchDir dir("physics");
  write_poisson_table(dir.path() / control.table_name, t, f.field);
  write_control(dir.path(), control);
  const RunResult run = run_converter(converter_binary, dir.path());
  if (run.exit_status != 0) {
    throw std::runtime_error("converter exit status " + std::to_string(run.exit_status) + ":\n" + run.err);
  }
  Conversion c;
  c.file = parse_binary_field_file(read_bytes(dir.path() / field_file_name(control.kfile_num)));
  c.kmirror_z = control.kmirror_z;
  c.h_r = f.r_max / t.r_intervals;
  c.h_z = 2.0 * L / (extent == TableExtent::full ? t.z_intervals : 2 * t.z_intervals);
  return c;
}

// Comparison of one converted file with the analytic field.
struct Assessment {
  std::array<double, 3> max_error{};     // per Cartesian component, inside the map
  std::array<double, 3> max_expected{};  // largest |analytic component| inside the map
  std::array<double, 3> rms_error{};     // root mean square of the error inside the map
  std::size_t inside = 0, outside = 0, on_axis = 0, border = 0;
  std::size_t outside_nonzero = 0, axis_nonzero = 0, not_radial = 0;
  std::string first_problem;
};

Assessment assess(const AnalyticField& f, const BinaryFieldFile& file) {
  Assessment a;
  const double margin = 1e-9 * std::max(f.r_max, f.half_length);
  constexpr double eps = std::numeric_limits<double>::epsilon();
  auto note = [&](int i, int j, int k, const char* what) {
    if (a.first_problem.empty()) {
      std::ostringstream s;
      s << what << " at node (" << i << ", " << j << ", " << k << ")";
      a.first_problem = s.str();
    }
  };
  for (int k = 1; k <= grid_nz; ++k) {
    for (int j = 1; j <= grid_ny; ++j) {
      for (int i = 1; i <= grid_nx; ++i) {
        const double x = file.x_grid[std::size_t(i - 1)], y = file.y_grid[std::size_t(j - 1)];
        const double z = file.z_grid[std::size_t(k - 1)];
        const double r = std::sqrt(x * x + y * y);
        const std::size_t n = node_index(i, j, k);
        const std::array<double, 3> got{file.field[0][n], file.field[1][n], file.field[2][n]};

        if (r <= 1e-12) {
          ++a.on_axis;
          if (got[0] != 0.0 || got[1] != 0.0) {
            ++a.axis_nonzero;
            note(i, j, k, "transverse field on the axis");
          }
        } else if (std::abs(got[0] * y - got[1] * x) > 8 * eps * (std::abs(got[0] * y) + std::abs(got[1] * x))) {
          ++a.not_radial;
          note(i, j, k, "transverse field not radial");
        }

        if (r <= f.r_max - margin && std::abs(z) <= f.half_length - margin) {
          ++a.inside;
          const std::array<double, 2> cyl = f.field(r, z);
          std::array<double, 3> want{0.0, 0.0, f.scale * cyl[1]};
          if (r > 0.0) {
            want[0] = f.scale * cyl[0] * x / r;
            want[1] = f.scale * cyl[0] * y / r;
          }
          for (std::size_t c = 0; c < 3; ++c) {
            const double e = std::abs(got[c] - want[c]);
            a.max_error[c] = std::max(a.max_error[c], e);
            a.rms_error[c] += e * e;
            a.max_expected[c] = std::max(a.max_expected[c], std::abs(want[c]));
          }
        } else if (r > f.r_max + margin || std::abs(z) > f.half_length + margin) {
          ++a.outside;
          if (got[0] != 0.0 || got[1] != 0.0 || got[2] != 0.0) {
            ++a.outside_nonzero;
            note(i, j, k, "nonzero field outside the map");
          }
        } else {
          ++a.border;
        }
      }
    }
  }
  for (double& e : a.rms_error) e = a.inside > 0 ? std::sqrt(e / static_cast<double>(a.inside)) : 0.0;
  return a;
}

double error_bound(const AnalyticField& f, double h_r, double h_z) {
  return error_bound_factor * f.scale * f.amplitude * (std::pow(f.k_r * h_r, 3) + std::pow(f.k_z * h_z, 3));
}

// The checks that hold at any mesh: every node inside the map within the error bound, zero
// outside, radial and zero on the axis; the grid reaches both inside and outside the map.
void check_conversion(const AnalyticField& f, const Conversion& c, const Assessment& a, std::array<int, 3> ksym) {
  SCOPED_TRACE("table mesh h_r = " + std::to_string(c.h_r) + ", h_z = " + std::to_string(c.h_z));
  EXPECT_EQ(c.file.ksym, ksym);
  EXPECT_EQ(a.axis_nonzero, 0u) << a.first_problem;
  EXPECT_EQ(a.not_radial, 0u) << a.first_problem;
  EXPECT_EQ(a.outside_nonzero, 0u) << a.first_problem;
  EXPECT_EQ(a.border, 0u) << "grid nodes on the border of the map: choose another grid";
  EXPECT_GT(a.inside, 0u);
  EXPECT_GT(a.outside, 0u);
  EXPECT_GT(a.on_axis, 0u);
  const double bound = error_bound(f, c.h_r, c.h_z);
  const char* names[] = {"x", "y", "z"};
  for (std::size_t comp = 0; comp < 3; ++comp) {
    EXPECT_LE(a.max_error[comp], bound) << "component " << names[comp];
  }
}

std::string component_name(const AnalyticField& f, std::size_t comp) {
  return std::string(f.iflag_EH == 0 ? "E" : "B") + "xyz"[comp];
}

struct PhysicsCase {
  const FieldKind* kind;
  const Variant* variant;
};

std::vector<PhysicsCase> physics_cases() {
  std::vector<PhysicsCase> cases;
  for (const FieldKind& k : field_kinds) {
    for (const Variant& v : variants) cases.push_back({&k, &v});
  }
  return cases;
}

void PrintTo(const PhysicsCase& c, std::ostream* os) { *os << c.kind->tag << "/" << c.variant->name; }
void PrintTo(const FieldKind& k, std::ostream* os) { *os << k.tag; }

class AnalyticFieldConversion : public ::testing::TestWithParam<PhysicsCase> {};

TEST_P(AnalyticFieldConversion, MatchesTheFieldAndConvergesAtThirdOrder) {
  const AnalyticField f = GetParam().kind->make();
  const Variant& v = *GetParam().variant;
  const int kmirror_z = v.extent == TableExtent::lower_half ? -f.parity_mode : f.parity_mode;

  std::array<Conversion, 2> conversions;
  std::array<Assessment, 2> assessments;
  for (int level = 0; level < 2; ++level) {
    ASSERT_NO_THROW(conversions[std::size_t(level)] = convert(f, v.extent, kmirror_z, v.ksym, 1 << level));
    assessments[std::size_t(level)] = assess(f, conversions[std::size_t(level)].file);
    check_conversion(f, conversions[std::size_t(level)], assessments[std::size_t(level)], v.ksym);
  }

  std::printf("[physics] %s, %s, kmirror_z %d, ksym %d %d %d: %zu nodes inside the map, %zu outside, %zu on the axis\n",
              f.name.c_str(), extent_text(v.extent), conversions[0].kmirror_z, v.ksym[0], v.ksym[1], v.ksym[2],
              assessments[0].inside, assessments[0].outside, assessments[0].on_axis);
  for (std::size_t comp = 0; comp < 3; ++comp) {
    const double coarse = assessments[0].max_error[comp];
    const double fine = assessments[1].max_error[comp];
    const double field_scale = assessments[0].max_expected[comp];
    const std::string name = component_name(f, comp);
    if (field_scale == 0.0) {
      // Identically zero component: the conversion must give exactly zero at both meshes.
      EXPECT_EQ(coarse, 0.0) << name;
      EXPECT_EQ(fine, 0.0) << name;
      std::printf("[physics]   %s: analytic field zero, max error %.3e at h, %.3e at h/2 (exact)\n", name.c_str(),
                  coarse, fine);
      continue;
    }
    const double ratio = coarse / fine;
    const double rms_ratio = assessments[0].rms_error[comp] / assessments[1].rms_error[comp];
    std::printf("[physics]   %s: max |field| %.4e; max error %.4e (rel %.2e, %.3f of bound) at h = (%.4g, %.4g), "
                "%.4e (rel %.2e, %.3f of bound) at h/2; max error ratio %.2f, rms error ratio %.2f\n",
                name.c_str(), field_scale, coarse, coarse / field_scale,
                coarse / error_bound(f, conversions[0].h_r, conversions[0].h_z), conversions[0].h_r,
                conversions[0].h_z, fine, fine / field_scale,
                fine / error_bound(f, conversions[1].h_r, conversions[1].h_z), ratio, rms_ratio);
    EXPECT_GE(ratio, min_max_ratio) << name << ": max error " << coarse << " at h, " << fine << " at h/2";
    EXPECT_LE(ratio, max_max_ratio) << name << ": max error " << coarse << " at h, " << fine << " at h/2";
    EXPECT_GE(rms_ratio, min_rms_ratio) << name;
    EXPECT_LE(rms_ratio, max_rms_ratio) << name;
  }
  std::fflush(stdout);
}

INSTANTIATE_TEST_SUITE_P(Physics, AnalyticFieldConversion, ::testing::ValuesIn(physics_cases()),
                         [](const ::testing::TestParamInfo<PhysicsCase>& info) {
                           return std::string(info.param.kind->tag) + "_" + info.param.variant->name;
                         });

// A half table mirrored with the mode of the other parity gets the sign of a component
// wrong on the mirrored half, and the comparison above must see it.
class WrongMirrorParity : public ::testing::TestWithParam<FieldKind> {};

TEST_P(WrongMirrorParity, IsSeenOnTheMirroredHalf) {
  const AnalyticField f = GetParam().make();
  const int wrong_mode = f.parity_mode == 1 ? 2 : 1;
  Conversion c;
  ASSERT_NO_THROW(c = convert(f, TableExtent::upper_half, wrong_mode, {0, 0, 0}, 1));
  const Assessment a = assess(f, c.file);
  // The two modes treat both components oppositely (one is copied where the other is
  // negated), so every component that is not identically zero comes out with the opposite
  // sign on z < 0: an error of up to twice the field there.
  std::size_t nonzero_components = 0;
  for (std::size_t comp = 0; comp < 3; ++comp) {
    if (a.max_expected[comp] == 0.0) continue;
    ++nonzero_components;
    EXPECT_GT(a.max_error[comp], a.max_expected[comp]) << component_name(f, comp);
  }
  EXPECT_GT(nonzero_components, 0u);
}

INSTANTIATE_TEST_SUITE_P(Physics, WrongMirrorParity, ::testing::ValuesIn(field_kinds),
                         [](const ::testing::TestParamInfo<FieldKind>& info) { return info.param.tag; });

}  // namespace
