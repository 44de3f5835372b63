// Round trips through real Fortran readers. Each case converts a small table whose field
// components are quadratic in r and z (so that the converter's approximation reproduces
// them up to rounding), and a gfortran program reads the output as the beam-dynamics code
// does: sequential unformatted READs for format 0, list-directed READs for formats 1 and 2.
// What the Fortran program read is compared with the binary file of the same run: bit for
// bit for format 0, and to the digits written for the text formats.
#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "e2e_harness.hpp"

namespace {

using namespace p2k_e2e;

const std::string converter_binary = P2K_BINARY;
const std::array<std::string, 3> fortran_reader{P2K_FORTRAN_READER_0, P2K_FORTRAN_READER_1,
                                                 P2K_FORTRAN_READER_2};

constexpr const char* no_fortran =
    "no Fortran compiler was found when the build was configured, so the Fortran readers were not "
    "built: install gfortran (Debian package gfortran) and configure a fresh build directory (or remove "
    "CMAKE_Fortran_COMPILER from the cache)";

// One conversion: the control values, the table and the field it holds (in the coordinates
// of the prepared map, z = 0 in the middle), and the extent of the prepared map.
struct InteropCase {
  const char* name;
  int iflag_EH;
  int kmirror_z;
  std::array<int, 3> ksym;
  double d_elm;
  double aper;
  double scale;
  TableLayout table;
  CylindricalField field;
  double map_rmax;
  double map_zhalf;
};

const std::vector<InteropCase>& interop_cases() {
  static const std::vector<InteropCase> cases{
      {"ElectricFullTableRecentred", 0, 0, {0, 0, 0}, 12.75, 1.625, 2.5,
       TableLayout{{"Electrostatic test table", "units: cm, V/cm"}, 0.0, 2.0, 3.0, 13.0, 8, 40, 8.0},
       [](double r, double z) {
         return std::array<double, 2>{0.3 + 1.5 * r - 0.25 * r * r + 0.1 * z - 0.05 * r * z + 0.02 * z * z,
                                      -1.0 + 0.4 * r + 0.75 * r * r - 0.2 * z + 0.125 * r * z - 0.03 * z * z};
       },
       2.0, 5.0},
      // Upper half of a field whose radial component is odd and axial component even in z.
      {"MagneticUpperHalfMirroredWithSymmetryFlags", 1, 2, {2, -3, 1}, 9.5, 0.875, 1.0e-4,
       TableLayout{{"Magnetostatic test table", "units: cm, Gauss"}, 0.0, 1.0, 0.0, 4.0, 10, 16, 0.0},
       [](double r, double z) {
         return std::array<double, 2>{0.6 * z + 1.2 * r * z, 5000.0 + 150.0 * r - 800.0 * r * r + 60.0 * z * z};
       },
       1.0, 4.0},
      // Lower half of a field whose radial component is even and axial component odd in z.
      {"ElectricLowerHalfMirroredNegativeScale", 0, -1, {0, 1, 0}, 7.0, 2.25, -1.0e6,
       TableLayout{{}, 0.0, 3.0, -17.0, -14.0, 12, 9, -14.0},
       [](double r, double z) {
         return std::array<double, 2>{1.0 + 0.5 * r - 0.2 * r * r + 0.3 * z * z, z * (0.8 - 0.4 * r)};
       },
       3.0, 3.0},
  };
  return cases;
}

// The value a text field file gives back for v: v rounded to the 15 significant digits of
// the fixed form (0.1 <= |v| < 1e15 after that rounding) or to the 16 of the exponent form.
double as_written(double v) {
  if (v == 0.0 || !std::isfinite(v)) return v;
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.14e", v);
  const int k = std::atoi(std::strchr(buf, 'e') + 1) + 1;
  if (k >= 0 && k <= 15) return std::strtod(buf, nullptr);
  std::snprintf(buf, sizeof buf, "%.15e", v);
  return std::strtod(buf, nullptr);
}

bool same_bits(double a, double b) { return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b); }

// Compares what a reader got with what it should have got; returns "" or a description of
// the mismatches (their count and the first few).
template <class Equal>
std::string compare_values(const std::string& what, const std::vector<double>& got, const std::vector<double>& want,
                           Equal equal) {
  if (got.size() != want.size()) {
    return what + ": " + std::to_string(got.size()) + " values, expected " + std::to_string(want.size()) + "\n";
  }
  std::ostringstream report;
  std::size_t bad = 0;
  for (std::size_t n = 0; n < got.size(); ++n) {
    if (equal(got[n], want[n])) continue;
    if (++bad <= 3) {
      char line[160];
      std::snprintf(line, sizeof line, "%s[%zu]: read %.17g, expected %.17g\n", what.c_str(), n, got[n], want[n]);
      report << line;
    }
  }
  if (bad > 0) report << what << ": " << bad << " of " << got.size() << " values differ\n";
  return report.str();
}

std::string compare_bits(const std::string& what, const std::vector<double>& got, const std::vector<double>& want) {
  return compare_values(what, got, want, same_bits);
}

std::string compare_as_written(const std::string& what, const std::vector<double>& got,
                               const std::vector<double>& want) {
  return compare_values(what, got, want, [](double g, double w) { return g == as_written(w); });
}

Control control_for(const InteropCase& c, int kform_3D, int kfile_num) {
  Control control;
  control.iflag_EH = c.iflag_EH;
  control.kmirror_z = c.kmirror_z;
  control.kfile_num = kfile_num;
  control.kform_3D = kform_3D;
  control.ksym = c.ksym;
  control.d_elm = c.d_elm;
  control.aper = c.aper;
  control.scale_E = c.iflag_EH == 0 ? c.scale : 7.0;  // the scale of the other field must not matter
  control.scale_B = c.iflag_EH == 1 ? c.scale : 7.0;
  return control;
}

// Converts the case into kform_3D in dir and returns the name of the file written.
std::string convert(const InteropCase& c, const fs::path& dir, int kform_3D, int kfile_num) {
  const Control control = control_for(c, kform_3D, kfile_num);
  write_poisson_table(dir / control.table_name, c.table, c.field);
  write_control(dir, control);
  const RunResult run = run_converter(converter_binary, dir);
  EXPECT_EQ(run.exit_status, 0) << "converter failed:\n" << run.err;
  EXPECT_EQ(run.err, "") << "the converter wrote to standard error";
  return field_file_name(kfile_num);
}

// What a reader program wrote for formats 0 and 1 (the binary record layout).
struct RecordDump {
  double d_elm = 0.0, aper = 0.0;
  std::int32_t k_s_EH = 0;
  std::array<std::int32_t, 3> ksym{};
  std::vector<double> x_grid, y_grid, z_grid;
  std::array<std::vector<double>, 3> field;
  std::int32_t kend_mark = 0;
};

RecordDump parse_record_dump(const std::vector<unsigned char>& bytes) {
  ByteReader in(bytes);
  RecordDump d;
  d.d_elm = in.f64();
  d.aper = in.f64();
  d.k_s_EH = in.i32();
  for (std::int32_t& k : d.ksym) k = in.i32();
  d.x_grid = in.f64s(grid_nx);
  d.y_grid = in.f64s(grid_ny);
  d.z_grid = in.f64s(grid_nz);
  for (std::vector<double>& component : d.field) component = in.f64s(grid_node_count);
  d.kend_mark = in.i32();
  if (in.remaining() != 0) throw std::runtime_error("dump longer than expected");
  return d;
}

// What the format 2 reader wrote.
struct NodeDump {
  std::int32_t iflag_EH = 0;
  std::array<std::int32_t, 3> ksym{};
  std::array<double, 3> lower{}, upper{};
  std::array<std::int32_t, 3> count{};
  std::array<std::vector<double>, 3> field;
};

NodeDump parse_node_dump(const std::vector<unsigned char>& bytes) {
  ByteReader in(bytes);
  NodeDump d;
  d.iflag_EH = in.i32();
  for (std::int32_t& k : d.ksym) k = in.i32();
  for (int axis = 0; axis < 3; ++axis) {
    d.lower[axis] = in.f64();
    d.upper[axis] = in.f64();
    d.count[axis] = in.i32();
  }
  const std::size_t nodes = std::size_t(d.count[0]) * std::size_t(d.count[1]) * std::size_t(d.count[2]);
  for (std::vector<double>& component : d.field) component = in.f64s(nodes);
  if (in.remaining() != 0) throw std::runtime_error("dump longer than expected");
  return d;
}

// Runs the Fortran reader of kform_3D on file; the dump lands in dump.
RunResult read_with_fortran(int kform_3D, const fs::path& file, const fs::path& dump) {
  return run_program({fortran_reader[static_cast<std::size_t>(kform_3D)], file.string(), dump.string()},
                     file.parent_path());
}

// Limits of the output grid as the control values give them.
std::array<std::array<double, 2>, 3> grid_limits(const InteropCase& c) {
  return {{{c.ksym[0] != 0 ? 0.0 : -c.aper, c.aper},
           {c.ksym[1] != 0 ? 0.0 : -c.aper, c.aper},
           {c.ksym[2] != 0 ? 0.0 : -(c.d_elm / 2), c.d_elm / 2}}};
}

// Checks the binary file of a run against the control values and the case's field, so that
// the reference the Fortran readers are compared with is known to be right.
void check_binary_file_content(const InteropCase& c, const BinaryFieldFile& f) {
  EXPECT_TRUE(same_bits(f.d_elm, c.d_elm));
  EXPECT_TRUE(same_bits(f.aper, c.aper));
  EXPECT_EQ(f.k_s_EH, 0);
  EXPECT_EQ(f.ksym, (std::array<std::int32_t, 3>{c.ksym[0], c.ksym[1], c.ksym[2]}));
  EXPECT_EQ(f.kend_mark, -99);
  const auto limits = grid_limits(c);
  EXPECT_EQ(compare_bits("x_grid", f.x_grid, grid_nodes(limits[0][0], limits[0][1], grid_nx)), "");
  EXPECT_EQ(compare_bits("y_grid", f.y_grid, grid_nodes(limits[1][0], limits[1][1], grid_ny)), "");
  EXPECT_EQ(compare_bits("z_grid", f.z_grid, grid_nodes(limits[2][0], limits[2][1], grid_nz)), "");

  // Field: the quadratic is reproduced up to rounding inside the map, and is 0 outside it.
  const double margin = 1e-9 * std::max(c.map_rmax, c.map_zhalf);
  double magnitude = 0.0;
  for (const std::vector<double>& component : f.field) {
    for (double v : component) magnitude = std::max(magnitude, std::abs(v));
  }
  ASSERT_GT(magnitude, 0.0) << "the field is zero everywhere";
  const double tolerance = 1e-12 * magnitude;
  std::size_t inside = 0, outside = 0, bad = 0;
  std::string first_bad;
  for (int k = 1; k <= grid_nz; ++k) {
    for (int j = 1; j <= grid_ny; ++j) {
      for (int i = 1; i <= grid_nx; ++i) {
        const double x = f.x_grid[std::size_t(i - 1)], y = f.y_grid[std::size_t(j - 1)];
        const double z = f.z_grid[std::size_t(k - 1)];
        const double r = std::sqrt(x * x + y * y);
        const std::size_t n = node_index(i, j, k);
        std::array<double, 3> want{0.0, 0.0, 0.0};
        if (r <= c.map_rmax - margin && std::abs(z) <= c.map_zhalf - margin) {
          ++inside;
          const std::array<double, 2> cyl = c.field(r, z);
          if (r > 1e-12) {
            want[0] = c.scale * cyl[0] * x / r;
            want[1] = c.scale * cyl[0] * y / r;
          }
          want[2] = c.scale * cyl[1];
        } else if (r > c.map_rmax + margin || std::abs(z) > c.map_zhalf + margin) {
          ++outside;
        } else {
          ADD_FAILURE() << "node (" << i << ", " << j << ", " << k << ") lies on the map border; move the grid";
          continue;
        }
        for (int a = 0; a < 3; ++a) {
          if (std::abs(f.field[std::size_t(a)][n] - want[std::size_t(a)]) <= tolerance) continue;
          if (++bad == 1) {
            std::ostringstream s;
            s.precision(17);
            s << "component " << a + 1 << " at node (" << i << ", " << j << ", " << k << "): " << f.field[std::size_t(a)][n]
              << ", expected " << want[std::size_t(a)];
            first_bad = s.str();
          }
        }
      }
    }
  }
  EXPECT_EQ(bad, 0u) << first_bad;
  EXPECT_GT(inside, 0u);
  EXPECT_GT(outside, 0u);
}

void PrintTo(const InteropCase& c, std::ostream* os) { *os << c.name; }

class FortranReadsConvertedFile : public ::testing::TestWithParam<InteropCase> {
 protected:
  void SetUp() override {
    for (int format = 0; format < 3; ++format) {
      ASSERT_FALSE(fortran_reader[std::size_t(format)].empty()) << no_fortran;
    }
  }
};

TEST_P(FortranReadsConvertedFile, BinaryFileReadsBackBitForBit) {
  const InteropCase& c = GetParam();
  ScratchDir dir("interop0");
  const fs::path file = dir.path() / convert(c, dir.path(), 0, 11);
  const std::vector<unsigned char> bytes = read_bytes(file);
  ASSERT_EQ(bytes.size(), binary_file_size);
  BinaryFieldFile written;
  ASSERT_NO_THROW(written = parse_binary_field_file(bytes));
  check_binary_file_content(c, written);

  const fs::path dump = dir.path() / "fortran_dump.bin";
  const RunResult read = read_with_fortran(0, file, dump);
  ASSERT_EQ(read.exit_status, 0) << read.err;
  RecordDump got;
  ASSERT_NO_THROW(got = parse_record_dump(read_bytes(dump)));
  EXPECT_TRUE(same_bits(got.d_elm, written.d_elm));
  EXPECT_TRUE(same_bits(got.aper, written.aper));
  EXPECT_EQ(got.k_s_EH, written.k_s_EH);
  EXPECT_EQ(got.ksym, written.ksym);
  EXPECT_EQ(compare_bits("x_grid", got.x_grid, written.x_grid), "");
  EXPECT_EQ(compare_bits("y_grid", got.y_grid, written.y_grid), "");
  EXPECT_EQ(compare_bits("z_grid", got.z_grid, written.z_grid), "");
  for (int a = 0; a < 3; ++a) {
    EXPECT_EQ(compare_bits("record " + std::to_string(6 + a), got.field[std::size_t(a)], written.field[std::size_t(a)]),
              "");
  }
  EXPECT_EQ(got.kend_mark, -99);
}

TEST_P(FortranReadsConvertedFile, Format1ReadsBackToTheDigitsWritten) {
  const InteropCase& c = GetParam();
  ScratchDir dir("interop1");
  const fs::path binary = dir.path() / convert(c, dir.path(), 0, 21);
  const fs::path text = dir.path() / convert(c, dir.path(), 1, 22);
  BinaryFieldFile written;
  ASSERT_NO_THROW(written = parse_binary_field_file(read_bytes(binary)));

  const fs::path dump = dir.path() / "fortran_dump.bin";
  const RunResult read = read_with_fortran(1, text, dump);
  ASSERT_EQ(read.exit_status, 0) << read.err;
  RecordDump got;
  ASSERT_NO_THROW(got = parse_record_dump(read_bytes(dump)));
  EXPECT_EQ(got.d_elm, as_written(written.d_elm));
  EXPECT_EQ(got.aper, as_written(written.aper));
  EXPECT_EQ(got.k_s_EH, 0);
  EXPECT_EQ(got.ksym, written.ksym);
  EXPECT_EQ(compare_as_written("x_grid", got.x_grid, written.x_grid), "");
  EXPECT_EQ(compare_as_written("y_grid", got.y_grid, written.y_grid), "");
  EXPECT_EQ(compare_as_written("z_grid", got.z_grid, written.z_grid), "");
  for (int a = 0; a < 3; ++a) {
    EXPECT_EQ(compare_as_written("statement " + std::to_string(6 + a), got.field[std::size_t(a)],
                                 written.field[std::size_t(a)]),
              "");
  }
  EXPECT_EQ(got.kend_mark, -99);
}

TEST_P(FortranReadsConvertedFile, Format2ReadsBackToTheDigitsWritten) {
  const InteropCase& c = GetParam();
  ScratchDir dir("interop2");
  const fs::path binary = dir.path() / convert(c, dir.path(), 0, 31);
  const fs::path text = dir.path() / convert(c, dir.path(), 2, 32);
  BinaryFieldFile written;
  ASSERT_NO_THROW(written = parse_binary_field_file(read_bytes(binary)));

  const fs::path dump = dir.path() / "fortran_dump.bin";
  const RunResult read = read_with_fortran(2, text, dump);
  ASSERT_EQ(read.exit_status, 0) << read.err;
  NodeDump got;
  ASSERT_NO_THROW(got = parse_node_dump(read_bytes(dump)));
  EXPECT_EQ(got.iflag_EH, c.iflag_EH);
  EXPECT_EQ(got.ksym, written.ksym);
  ASSERT_EQ(got.count, (std::array<std::int32_t, 3>{grid_nx, grid_ny, grid_nz}));
  const auto limits = grid_limits(c);
  for (int axis = 0; axis < 3; ++axis) {
    EXPECT_EQ(got.lower[std::size_t(axis)], as_written(limits[std::size_t(axis)][0])) << "axis " << axis;
    EXPECT_EQ(got.upper[std::size_t(axis)], as_written(limits[std::size_t(axis)][1])) << "axis " << axis;
  }
  // The reader stored node (i, j, k) at the same place as the binary file does, so the
  // arrays compare element by element although the file lists the nodes z fastest.
  for (int a = 0; a < 3; ++a) {
    EXPECT_EQ(compare_as_written("component " + std::to_string(a + 1), got.field[std::size_t(a)],
                                 written.field[std::size_t(a)]),
              "");
  }
}

INSTANTIATE_TEST_SUITE_P(Interop, FortranReadsConvertedFile, ::testing::ValuesIn(interop_cases()),
                         [](const ::testing::TestParamInfo<InteropCase>& info) { return info.param.name; });

// A damaged binary file must be refused by the Fortran reader at the statement where the
// damage is, so that the read-back checks above can fail.
struct Damage {
  const char* name;
  void (*apply)(std::vector<unsigned char>&);
  int exit_status;          // of the reader: 0 read, 3 a READ failed, 4 data after the end mark
  const char* diagnostic;   // expected on the reader's standard error
};

void set_length(std::vector<unsigned char>& bytes, std::size_t offset, std::int32_t n) {
  const auto u = std::bit_cast<std::uint32_t>(n);
  for (std::size_t b = 0; b < 4; ++b) bytes[offset + b] = static_cast<unsigned char>(u >> (8 * b));
}

// Offset of the leading length field of record r (from 1).
std::size_t leading_length_offset(int r) { return binary_record_data_offset[std::size_t(r - 1)] - 4; }

const Damage damages[] = {
    {"Intact", [](std::vector<unsigned char>&) {}, 0, ""},
    {"FirstRecordLengthShortened",
     [](std::vector<unsigned char>& b) { set_length(b, leading_length_offset(1), 16); }, 3, "READ statement 1 "},
    {"GridRecordLengthShortened",
     [](std::vector<unsigned char>& b) { set_length(b, leading_length_offset(3), 192); }, 3, "READ statement 3 "},
    {"FieldRecordLengthShortened",
     [](std::vector<unsigned char>& b) { set_length(b, leading_length_offset(6), 1004992); }, 3,
     "READ statement 6 "},
    {"EndMarkRecordLengthZero",
     [](std::vector<unsigned char>& b) { set_length(b, leading_length_offset(9), 0); }, 3, "READ statement 9 "},
    {"CutInsideLastFieldRecord",
     [](std::vector<unsigned char>& b) { b.resize(binary_record_data_offset[7] + 400000); }, 3,
     "READ statement 8 "},
    {"CutBeforeEndMarkRecord", [](std::vector<unsigned char>& b) { b.resize(leading_length_offset(9)); }, 3,
     "READ statement 9 "},
    {"RecordAfterEndMark",
     [](std::vector<unsigned char>& b) {
       const std::vector<unsigned char> extra{4, 0, 0, 0, 0x9D, 0xFF, 0xFF, 0xFF, 4, 0, 0, 0};
       b.insert(b.end(), extra.begin(), extra.end());
     },
     4, "end-of-file check failed"},
};

void PrintTo(const Damage& d, std::ostream* os) { *os << d.name; }

class FortranRejectsDamagedBinaryFile : public ::testing::TestWithParam<Damage> {};

TEST_P(FortranRejectsDamagedBinaryFile, AtTheDamagedStatement) {
  ASSERT_FALSE(fortran_reader[0].empty()) << no_fortran;
  const Damage& damage = GetParam();
  const InteropCase& c = interop_cases().front();
  ScratchDir dir("damage");
  const fs::path file = dir.path() / convert(c, dir.path(), 0, 41);
  std::vector<unsigned char> bytes = read_bytes(file);
  ASSERT_EQ(bytes.size(), binary_file_size);
  damage.apply(bytes);
  const fs::path damaged = dir.path() / "damaged.bin";
  write_bytes(damaged, bytes);

  const RunResult read = read_with_fortran(0, damaged, dir.path() / "fortran_dump.bin");
  EXPECT_EQ(read.exit_status, damage.exit_status) << read.err;
  EXPECT_NE(read.err.find(damage.diagnostic), std::string::npos) << read.err;
  if (damage.exit_status != 0) {
    EXPECT_FALSE(fs::exists(dir.path() / "fortran_dump.bin")) << "a refused file must leave no dump";
  }
}

INSTANTIATE_TEST_SUITE_P(Interop, FortranRejectsDamagedBinaryFile, ::testing::ValuesIn(damages),
                         [](const ::testing::TestParamInfo<Damage>& info) { return info.param.name; });

}  // namespace
