// End-to-end harness shared by the interop and physics tests: it writes a control
// file and a Poisson-style table into a scratch directory, runs the built converter
// there, and reads the binary field file it leaves behind with strict framing checks.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace p2k_e2e {

namespace fs = std::filesystem;

// The fixed KAVRO output grid.
inline constexpr int grid_nx = 25;
inline constexpr int grid_ny = 25;
inline constexpr int grid_nz = 201;
inline constexpr std::size_t grid_node_count = std::size_t{grid_nx} * grid_ny * grid_nz;

// Position of node (i, j, k), counted from 1, in a 3D array stored x fastest, then y, then z.
constexpr std::size_t node_index(int i, int j, int k) {
  return static_cast<std::size_t>(i - 1) + std::size_t{grid_nx} * static_cast<std::size_t>(j - 1) +
         std::size_t{grid_nx} * grid_ny * static_cast<std::size_t>(k - 1);
}

// A directory of its own for one run, removed with everything in it when it goes out of scope.
class ScratchDir {
 public:
  explicit ScratchDir(const std::string& tag);
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

// The values of poisson_to_kavro.dat.
struct Control {
  std::string table_name = "poisson_table.txt";
  int iflag_EH = 0;
  int kmirror_z = 0;
  int kfile_num = 1;
  int kform_3D = 0;
  std::array<int, 3> ksym{0, 0, 0};
  double d_elm = 1.0;
  double aper = 1.0;
  double scale_E = 1.0;
  double scale_B = 1.0;
};

// Writes poisson_to_kavro.dat into dir: two free lines, the table name, one value per line
// followed by a remark, the three flags on one line; reals with 17 significant digits.
void write_control(const fs::path& dir, const Control& control);

// Radial and axial component of a field at (r, z), in table units.
using CylindricalField = std::function<std::array<double, 2>(double r, double z)>;

// A Poisson-style table: a free preamble, the three header lines, three separator lines
// and one row "r z F_r F_z" per mesh node, r fastest. The rows hold field(r, z - z_origin),
// so that z_origin (in header coordinates) is where the field's own z = 0 lies.
struct TableLayout {
  std::vector<std::string> preamble;  // free text; must not contain "Zmin"
  double rmin = 0.0;
  double rmax = 1.0;
  double zmin = 0.0;
  double zmax = 1.0;
  int r_intervals = 2;
  int z_intervals = 2;
  double z_origin = 0.0;
};

void write_poisson_table(const fs::path& file, const TableLayout& layout, const CylindricalField& field);

struct RunResult {
  int exit_status = -1;  // exit code, or 128 + signal number
  std::string out;
  std::string err;
};

// Runs argv (argv[0] a path to an executable) in cwd with no standard input, capturing both outputs.
RunResult run_program(const std::vector<std::string>& argv, const fs::path& cwd);

// Runs the converter in dir (it takes no arguments and reads dir/poisson_to_kavro.dat).
RunResult run_converter(const std::string& binary, const fs::path& dir);

// "eh_EMS.#NN" for 0 <= kfile_num <= 99.
std::string field_file_name(int kfile_num);

std::vector<unsigned char> read_bytes(const fs::path& file);
void write_bytes(const fs::path& file, const std::vector<unsigned char>& bytes);

// The nine records of a binary field file.
struct BinaryFieldFile {
  double d_elm = 0.0;
  double aper = 0.0;
  std::int32_t k_s_EH = 0;
  std::array<std::int32_t, 3> ksym{};
  std::vector<double> x_grid, y_grid, z_grid;
  std::array<std::vector<double>, 3> field;  // the three Cartesian components, x index fastest
  std::int32_t kend_mark = 0;
};

// Data offsets of the nine records of a binary field file (the first data byte of each).
inline constexpr std::array<std::size_t, 9> binary_record_data_offset{
    4, 32, 52, 260, 468, 2084, 1007092, 2012100, 3017108};
inline constexpr std::size_t binary_file_size = 3017116;

// Parses a binary field file, checking that it holds exactly nine records of the expected
// data lengths, each with equal leading and trailing length fields, and nothing after them.
// Throws std::runtime_error naming the first deviation.
BinaryFieldFile parse_binary_field_file(const std::vector<unsigned char>& bytes);

// Output grid nodes: (n - 1) * step + lower, step = (upper - lower) / (count - 1).
std::vector<double> grid_nodes(double lower, double upper, int count);

// Sequential little-endian reader over a byte buffer; throws std::runtime_error when it runs short.
class ByteReader {
 public:
  explicit ByteReader(const std::vector<unsigned char>& bytes) : bytes_(bytes) {}
  std::int32_t i32();
  double f64();
  std::vector<double> f64s(std::size_t count);
  std::size_t remaining() const { return bytes_.size() - pos_; }

 private:
  std::uint64_t take(std::size_t width);
  const std::vector<unsigned char>& bytes_;
  std::size_t pos_ = 0;
};

}  // namespace p2k_e2e
