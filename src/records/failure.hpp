// Failures of the record layer and the stops of the run.
//
// Every failed open, read or write becomes one `io_failure` (message number, unit, file and,
// where the system gave one, its error code). It travels up to the driver, which turns it into
// the report on standard error and the exit status in one place (`report_failure`).
#pragma once

#include <exception>
#include <string>

namespace p2k {

enum msg : int {
    msg_permission_denied = 9,
    msg_end_of_file = 24,
    msg_file_not_found = 29,
    msg_open_failure = 30,
    msg_write_error = 38,
    msg_read_error = 39,
    msg_file_name_error = 43,
    msg_write_readonly = 47,
    msg_syntax_error = 59,
    msg_type_mismatch = 61,
    msg_conversion_error = 64,
};

// Unit and name used for reads from a part of a text line.
inline constexpr int internal_unit = -5;
inline constexpr const char* internal_file = "Internal List-Directed Read";

struct io_failure : std::exception {
    int number;        // message number
    int unit;
    std::string file;  // full path, or the internal-read name
    int sys_errno;     // 0 when the system gave no error code

    io_failure(int number_, int unit_, std::string file_, int sys_errno_ = 0)
        : number(number_), unit(unit_), file(std::move(file_)), sys_errno(sys_errno_) {}
    const char* what() const noexcept override { return "runerr"; }
};

// A stop of the run with a message of its own (field type, output format, rejected map).
struct run_stop : std::exception {
    std::string message;
    int status;

    run_stop(std::string message_, int status_) : message(std::move(message_)), status(status_) {}
    const char* what() const noexcept override { return message.c_str(); }
};

// The report line (without its line end): "runerr: severe (N): text".
std::string report_line(const io_failure& f);

// Writes the report to the given descriptor (the system's description line first for 30, 38
// and 39) and returns the exit status: the low 8 bits of the status code, i.e. the number.
int report_failure(const io_failure& f, int fd);

// Writes a stop message as one line on the given descriptor and returns its exit status.
int report_stop(const run_stop& s, int fd);

}  // namespace p2k
