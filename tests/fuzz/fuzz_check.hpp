// Checks shared by the fuzz targets: what a failure of the record layer may look like, and the
// abort that turns a broken expectation into a finding.
#pragma once

#include "records/failure.hpp"

#include <cstdio>
#include <cstdlib>
#include <string>

namespace p2k_fuzz {

[[noreturn]] inline void broken(const char* what, const std::string& detail = {}) {
    std::fprintf(stderr, "fuzz expectation broken: %s %s\n", what, detail.c_str());
    std::abort();
}

inline void expect(bool ok, const char* what, const std::string& detail = {}) {
    if (!ok) broken(what, detail);
}

// Failures a read of text may end in.
inline bool read_failure_number(int n) {
    return n == p2k::msg_end_of_file || n == p2k::msg_syntax_error || n == p2k::msg_type_mismatch ||
           n == p2k::msg_conversion_error || n == p2k::msg_read_error;
}

// A failure of a read from text: a known number, and the unit and file of the source read.
inline void expect_read_failure(const p2k::io_failure& f, int unit, const std::string& file) {
    expect(read_failure_number(f.number), "unexpected message number", p2k::report_line(f));
    expect(f.unit == unit || f.unit == p2k::internal_unit, "unexpected unit", p2k::report_line(f));
    if (f.unit == p2k::internal_unit)
        expect(f.file == p2k::internal_file, "internal read names a file", p2k::report_line(f));
    else
        expect(f.file == file, "report names another file", p2k::report_line(f));
}

// A scratch folder of this process, made once.
std::string scratch_dir();

}  // namespace p2k_fuzz
