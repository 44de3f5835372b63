// Shared helpers of the unit tests: a scratch working directory, whole-file reads and writes,
// and a run state in static storage.
#pragma once

#include "records/failure.hpp"
#include "state/run_state.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <cstdio>
#include <iterator>
#include <string>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

namespace p2k::testing {

// Makes a fresh directory and works in it for the lifetime of the object.
class scratch_dir {
public:
    scratch_dir() {
        char tmpl[] = "/tmp/p2k_test_XXXXXX";
        path_ = ::mkdtemp(tmpl);
        old_ = std::filesystem::current_path();
        std::filesystem::current_path(path_);
    }
    ~scratch_dir() {
        namespace fs = std::filesystem;
        fs::current_path(old_);
        std::error_code ec;  // tests may leave entries without access: give them back first
        fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
        for (const auto& e : fs::recursive_directory_iterator(path_, ec))
            fs::permissions(e.path(), fs::perms::owner_all, fs::perm_options::add, ec);
        fs::remove_all(path_, ec);
    }
    const std::string& path() const { return path_; }

private:
    std::string path_;
    std::filesystem::path old_;
};

inline void write_file(const std::string& name, const std::string& bytes) {
    std::ofstream f(name, std::ios::binary);
    f << bytes;
}

inline std::string read_file(const std::string& name) {
    std::ifstream f(name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

struct binary_run {
    int status;  // exit status, or 128 + the signal that ended the run
    std::string out, err;
};

// Runs the built converter in the working directory, with no standard input.
inline binary_run run_binary(const std::string& arguments = "") {
    const int rc = std::system((std::string("'") + P2K_BINARY + "' " + arguments + " </dev/null >run.out 2>run.err").c_str());
    binary_run r{WIFEXITED(rc) ? WEXITSTATUS(rc) : 128 + WTERMSIG(rc), read_file("run.out"), read_file("run.err")};
    std::remove("run.out");
    std::remove("run.err");
    return r;
}

// A file in memory, written through a descriptor like any output file and read back whole.
class memory_file {
public:
    memory_file() : fd_(::memfd_create("p2k_test", 0)) {}
    memory_file(const memory_file&) = delete;
    memory_file& operator=(const memory_file&) = delete;
    ~memory_file() { ::close(fd_); }
    int fd() const { return fd_; }
    std::string text() const {
        std::string t;
        char b[65536];
        for (ssize_t n; (n = ::pread(fd_, b, sizeof b, static_cast<off_t>(t.size()))) > 0;) t.append(b, static_cast<size_t>(n));
        return t;
    }
    void clear() {
        if (::ftruncate(fd_, 0) != 0 || ::lseek(fd_, 0, SEEK_SET) != 0) ADD_FAILURE() << "memory file not cleared";
    }

private:
    int fd_;
};

inline memory_file& console_file() {
    static memory_file f;
    return f;
}

// A zeroed run state whose console goes into an empty memory file.
inline run_state& fresh_state() {
    static run_state s;
    reset_run_state(s);
    s.console.sink.attach(6, console_file().fd(), "/dev/stdout");
    s.console.flush();  // drops what an earlier test left unflushed
    console_file().clear();
    return s;
}

// What the console of a state from fresh_state holds, flushed first.
inline std::string console_text(run_state& s) {
    s.console.flush();
    return console_file().text();
}

// The message number of the failure that `f` throws, or 0.
template <typename F>
int failure_number(F&& f, int* unit = nullptr, std::string* file = nullptr) {
    try {
        f();
    } catch (const io_failure& e) {
        if (unit) *unit = e.unit;
        if (file) *file = e.file;
        return e.number;
    }
    return 0;
}

}  // namespace p2k::testing

#include <charconv>
#include <functional>

namespace p2k::testing {

inline std::string num(double v) {
    char b[32];
    auto r = std::to_chars(b, b + sizeof b, v);
    return std::string(b, r.ptr);
}

// A Poisson table: a preamble, the three header lines, three separator lines and one row
// "r z f1 f2" per node, r fastest. `field(ir, iz)` gives the row's third and fourth values.
struct table_shape {
    double rmin = 0, zmin = 0, rmax = 1, zmax = 1;
    int32_t r_intervals = 2, z_intervals = 2;
    std::function<std::pair<double, double>(int, int)> field = [](int ir, int iz) {
        return std::pair<double, double>(ir + 0.5, iz * 10.0);
    };
    std::string preamble = " Poisson output\n units: cm\n";
};

inline std::string poisson_table(const table_shape& t) {
    std::string s = t.preamble;
    s += "  (Rmin,Zmin): " + num(t.rmin) + " , " + num(t.zmin) + "\n";
    s += "  (Rmax,Zmax): " + num(t.rmax) + " , " + num(t.zmax) + "\n";
    s += " Number of intervals: " + std::to_string(t.r_intervals) + " " + std::to_string(t.z_intervals) + "\n";
    s += "\n   R  Z  Fr  Fz\n\n";
    for (int iz = 1; iz <= t.z_intervals + 1; ++iz)
        for (int ir = 1; ir <= t.r_intervals + 1; ++ir) {
            auto [a, b] = t.field(ir, iz);
            s += "0 0 " + num(a) + " " + num(b) + "\n";
        }
    return s;
}

// Sets the control values a reader test needs.
inline void use_table(run_state& s, const std::string& name, int32_t iflag_EH, double scale = 1.0) {
    s.control.poisson_file.fill(' ');
    name.copy(s.control.poisson_file.data(), name.size());
    s.control.iflag_EH = iflag_EH;
    s.control.scale_E = scale;
    s.control.scale_B = scale;
}

// The stop message that `f` throws, or an empty text.
template <typename F>
std::string stop_message(F&& f, int* status = nullptr) {
    try {
        f();
    } catch (const run_stop& e) {
        if (status) *status = e.status;
        return e.message;
    }
    return {};
}

}  // namespace p2k::testing
