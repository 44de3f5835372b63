#include "records/output_sink.hpp"

#include "records/failure.hpp"
#include "records/file_open.hpp"

#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace p2k {

void output_sink::open_unknown(int unit_, std::string_view fixed_name) {
    release();
    unit = unit_;
    std::string name = open_name(fixed_name);
    file = full_path(name);
    fd_ = open_unknown_for_writing(unit, name, file, read_only_);
    owned_ = true;
    truncation_mark_ = is_regular_file(fd_);
    pos_ = 0;
}

void output_sink::attach(int unit_, int fd, std::string name) {
    release();
    unit = unit_;
    file = std::move(name);
    fd_ = fd;
    owned_ = false;
    read_only_ = false;
    truncation_mark_ = false;
    pos_ = 0;
}

void output_sink::write_failed(int err) const { throw io_failure(msg_write_error, unit, file, err); }

void output_sink::write(const void* data, size_t n) {
    if (read_only_) throw io_failure(msg_write_readonly, unit, file);
    const char* p = static_cast<const char*>(data);
    while (n > 0) {
        ssize_t w = ::write(fd_, p, n);
        if (w < 0) {
            if (errno == EINTR) continue;
            write_failed(errno);
        }
        if (w == 0) write_failed(EIO);
        p += w;
        n -= static_cast<size_t>(w);
        pos_ += static_cast<uint64_t>(w);
    }
}

void output_sink::patch(uint64_t offset, const void* data4) {
    ssize_t w;
    do w = ::pwrite(fd_, data4, 4, static_cast<off_t>(offset));
    while (w < 0 && errno == EINTR);
    if (w != 4) write_failed(w < 0 ? errno : EIO);
}

void output_sink::cut_once() {
    if (!truncation_mark_) return;
    truncation_mark_ = false;
    if (::ftruncate(fd_, static_cast<off_t>(pos_)) != 0) write_failed(errno);
}

void output_sink::close() {
    if (fd_ >= 0 && owned_) {
        int fd = fd_;
        fd_ = -1;
        if (::close(fd) != 0 && errno != EINTR) write_failed(errno);
    }
    fd_ = -1;
}

void output_sink::release() {
    if (fd_ >= 0 && owned_) ::close(fd_);
    fd_ = -1;
}

}  // namespace p2k
