#include "records/failure.hpp"

#include <cstring>
#include <unistd.h>

namespace p2k {
namespace {

const char* message_text(int number) {
    switch (number) {
    case msg_permission_denied: return "permission to access file denied";
    case msg_end_of_file: return "end-of-file during read";
    case msg_file_not_found: return "file not found";
    case msg_open_failure: return "open failure";
    case msg_write_error: return "error during write";
    case msg_read_error: return "error during read";
    case msg_file_name_error: return "file name specification error";
    case msg_write_readonly: return "write to READONLY file";
    case msg_syntax_error: return "list-directed I/O syntax error";
    case msg_type_mismatch: return "format/variable-type mismatch";
    case msg_conversion_error: return "input conversion error";
    default: return "unknown error";
    }
}

bool carries_system_code(int number) {
    return number == msg_open_failure || number == msg_write_error || number == msg_read_error;
}

// A report never changes the run: a console that cannot be written is ignored.
void write_all(int fd, const std::string& s) {
    const char* p = s.data();
    size_t left = s.size();
    while (left > 0) {
        ssize_t n = ::write(fd, p, left);
        if (n <= 0) return;
        p += n;
        left -= static_cast<size_t>(n);
    }
}

}  // namespace

std::string report_line(const io_failure& f) {
    return "runerr: severe (" + std::to_string(f.number) + "): " + message_text(f.number) +
           ", unit " + std::to_string(f.unit) + ", file " + f.file;
}

int report_failure(const io_failure& f, int fd) {
    std::string out;
    if (carries_system_code(f.number) && f.sys_errno != 0)
        out += std::string("runerr: ") + std::strerror(f.sys_errno) + "\r\n";
    out += report_line(f) + "\r\n";
    write_all(fd, out);
    return f.number & 0xFF;
}

int report_stop(const run_stop& s, int fd) {
    write_all(fd, s.message + "\r\n");
    return s.status;
}

}  // namespace p2k
