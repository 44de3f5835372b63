#include "e2e_harness.hpp"

#include <bit>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string_view>
#include <sys/wait.h>
#include <unistd.h>

namespace p2k_e2e {

namespace {

std::string real17(double v) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.17g", v);
  return buf;
}

std::string read_text(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A header label cut or padded to exactly width columns, so that the numbers after it
// begin in the first column the reader takes numbers from.
std::string label(std::string_view text, std::size_t width) {
  std::string s(text.substr(0, width));
  s.resize(width, ' ');
  return s;
}

}  // namespace

ScratchDir::ScratchDir(const std::string& tag) {
  std::string pattern = (fs::temp_directory_path() / ("p2k_" + tag + "_XXXXXX")).string();
  std::vector<char> buf(pattern.begin(), pattern.end());
  buf.push_back('\0');
  if (::mkdtemp(buf.data()) == nullptr) {
    throw std::runtime_error("mkdtemp failed for " + pattern + ": " + std::strerror(errno));
  }
  path_ = buf.data();
}

ScratchDir::~ScratchDir() {
  std::error_code ec;
  fs::remove_all(path_, ec);
}

void write_control(const fs::path& dir, const Control& c) {
  if (c.table_name.size() > 80) throw std::invalid_argument("table name longer than 80 characters");
  std::ofstream out(dir / "poisson_to_kavro.dat", std::ios::binary | std::ios::trunc);
  out << "Conversion control written by the end-to-end tests\n"
      << "free text line\n"
      << c.table_name << "\n"
      << c.iflag_EH << "   iflag_EH\n"
      << c.kmirror_z << "   kmirror_z\n"
      << c.kfile_num << "   kfile_num\n"
      << c.kform_3D << "   kform_3D\n"
      << c.ksym[0] << ' ' << c.ksym[1] << ' ' << c.ksym[2] << "   ksym_x ksym_y ksym_z\n"
      << real17(c.d_elm) << "   d_elm\n"
      << real17(c.aper) << "   aper\n"
      << real17(c.scale_E) << "   scale_E\n"
      << real17(c.scale_B) << "   scale_B\n";
  if (!out.flush()) throw std::runtime_error("cannot write the control file in " + dir.string());
}

void write_poisson_table(const fs::path& file, const TableLayout& t, const CylindricalField& field) {
  if (t.r_intervals < 1 || t.z_intervals < 1) throw std::invalid_argument("a table needs at least one interval");
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  for (const std::string& line : t.preamble) {
    if (line.substr(0, 100).find("Zmin") != std::string::npos) {
      throw std::invalid_argument("preamble line would be taken for the header: " + line);
    }
    out << line << "\n";
  }
  out << label("(Rmin,Zmin) :", 15) << real17(t.rmin) << "  " << real17(t.zmin) << "\n";
  out << label("(Rmax,Zmax) :", 15) << real17(t.rmax) << "  " << real17(t.zmax) << "\n";
  out << label("Intervals (r,z) :", 22) << t.r_intervals << "  " << t.z_intervals << "\n";
  out << "\n";
  out << "          R                       Z                       Fr                      Fz\n";
  out << "\n";
  const double dr = (t.rmax - t.rmin) / t.r_intervals;
  const double dz = (t.zmax - t.zmin) / t.z_intervals;
  char row[128];
  for (int iz = 0; iz <= t.z_intervals; ++iz) {
    const double z = t.zmin + iz * dz;
    for (int ir = 0; ir <= t.r_intervals; ++ir) {
      const double r = t.rmin + ir * dr;
      const std::array<double, 2> f = field(r, z - t.z_origin);
      std::snprintf(row, sizeof row, "%24.17g%24.17g%24.17g%24.17g", r, z, f[0], f[1]);
      out << row << "\n";
    }
  }
  if (!out.flush()) throw std::runtime_error("cannot write the table " + file.string());
}

RunResult run_program(const std::vector<std::string>& argv, const fs::path& cwd) {
  if (argv.empty()) throw std::invalid_argument("run_program: empty argv");
  const fs::path out_file = cwd / "_run_stdout.txt";
  const fs::path err_file = cwd / "_run_stderr.txt";
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);

  const pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error(std::string("fork failed: ") + std::strerror(errno));
  if (pid == 0) {
    const int in = ::open("/dev/null", O_RDONLY);
    const int out = ::open(out_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = ::open(err_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || out < 0 || err < 0 || ::chdir(cwd.c_str()) != 0) ::_exit(126);
    ::dup2(in, 0);
    ::dup2(out, 1);
    ::dup2(err, 2);
    ::execv(args[0], args.data());
    ::_exit(127);
  }
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) throw std::runtime_error(std::string("waitpid failed: ") + std::strerror(errno));
  }
  RunResult result;
  result.exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  result.out = read_text(out_file);
  result.err = read_text(err_file);
  std::error_code ec;
  fs::remove(out_file, ec);
  fs::remove(err_file, ec);
  return result;
}

RunResult run_converter(const std::string& binary, const fs::path& dir) {
  return run_program({binary}, dir);
}

std::string field_file_name(int kfile_num) {
  if (kfile_num < 0 || kfile_num > 99) throw std::invalid_argument("kfile_num outside 0..99");
  char buf[16];
  std::snprintf(buf, sizeof buf, "eh_EMS.#%02d", kfile_num);
  return buf;
}

std::vector<unsigned char> read_bytes(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) throw std::runtime_error("cannot open " + file.string());
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void write_bytes(const fs::path& file, const std::vector<unsigned char>& bytes) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!out.flush()) throw std::runtime_error("cannot write " + file.string());
}

std::uint64_t ByteReader::take(std::size_t width) {
  if (remaining() < width) {
    throw std::runtime_error("data ends at byte " + std::to_string(pos_) + " where " + std::to_string(width) +
                             " more bytes were expected");
  }
  std::uint64_t v = 0;
  for (std::size_t b = 0; b < width; ++b) v |= std::uint64_t{bytes_[pos_ + b]} << (8 * b);
  pos_ += width;
  return v;
}

std::int32_t ByteReader::i32() { return std::bit_cast<std::int32_t>(static_cast<std::uint32_t>(take(4))); }

double ByteReader::f64() { return std::bit_cast<double>(take(8)); }

std::vector<double> ByteReader::f64s(std::size_t count) {
  std::vector<double> v(count);
  for (double& x : v) x = f64();
  return v;
}

BinaryFieldFile parse_binary_field_file(const std::vector<unsigned char>& bytes) {
  ByteReader in(bytes);
  int record = 0;
  auto open_record = [&](std::int32_t expected) {
    ++record;
    const std::int32_t lead = in.i32();
    if (lead != expected) {
      throw std::runtime_error("record " + std::to_string(record) + ": leading length " + std::to_string(lead) +
                               ", expected " + std::to_string(expected));
    }
  };
  auto close_record = [&](std::int32_t expected) {
    const std::int32_t trail = in.i32();
    if (trail != expected) {
      throw std::runtime_error("record " + std::to_string(record) + ": trailing length " + std::to_string(trail) +
                               ", expected " + std::to_string(expected));
    }
  };
  constexpr std::int32_t field_bytes = static_cast<std::int32_t>(8 * grid_node_count);

  BinaryFieldFile f;
  open_record(20);
  f.d_elm = in.f64();
  f.aper = in.f64();
  f.k_s_EH = in.i32();
  close_record(20);
  open_record(12);
  for (std::int32_t& k : f.ksym) k = in.i32();
  close_record(12);
  open_record(8 * grid_nx);
  f.x_grid = in.f64s(grid_nx);
  close_record(8 * grid_nx);
  open_record(8 * grid_ny);
  f.y_grid = in.f64s(grid_ny);
  close_record(8 * grid_ny);
  open_record(8 * grid_nz);
  f.z_grid = in.f64s(grid_nz);
  close_record(8 * grid_nz);
  for (std::vector<double>& component : f.field) {
    open_record(field_bytes);
    component = in.f64s(grid_node_count);
    close_record(field_bytes);
  }
  open_record(4);
  f.kend_mark = in.i32();
  close_record(4);
  if (in.remaining() != 0) {
    throw std::runtime_error(std::to_string(in.remaining()) + " bytes follow the ninth record");
  }
  return f;
}

std::vector<double> grid_nodes(double lower, double upper, int count) {
  const double step = (upper - lower) / static_cast<double>(count - 1);
  std::vector<double> nodes(static_cast<std::size_t>(count));
  for (int n = 1; n <= count; ++n) nodes[static_cast<std::size_t>(n - 1)] = static_cast<double>(n - 1) * step + lower;
  return nodes;
}

}  // namespace p2k_e2e
