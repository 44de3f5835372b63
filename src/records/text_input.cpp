#include "records/text_input.hpp"

#include "records/failure.hpp"
#include "records/file_open.hpp"

#include <cerrno>
#include <cstring>
#include <new>
#include <unistd.h>

namespace p2k {
namespace {
constexpr size_t chunk = size_t(1) << 16;  // reused for the whole file: few pages touched
// A line is held whole; one longer than this (a file without line ends, a device that never
// ends) is refused as a failed read instead of exhausting memory.
constexpr size_t max_line = size_t(64) << 20;
}

void text_input::open_old(int unit_, std::string_view fixed_name) {
    close();
    unit = unit_;
    std::string name = open_name(fixed_name);
    file = full_path(name);
    fd_ = open_old_for_reading(unit, name, file);
    buf_.assign(chunk + line_padding, '\0');
    begin_ = end_ = 0;
    at_end_of_data_ = ended_ = false;
}

void text_input::close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    buf_ = std::vector<char>();
}

bool text_input::fill() {
    if (at_end_of_data_) return false;
    if (begin_ > 0) {  // keep the partial line at the front
        std::memmove(buf_.data(), buf_.data() + begin_, end_ - begin_);
        end_ -= begin_;
        begin_ = 0;
        buf_[end_] = '\0';
    }
    if (end_ == buf_.size() - line_padding) {  // a line longer than the buffer
        if (end_ >= max_line) throw io_failure(msg_read_error, unit, file, EFBIG);
        try {
            buf_.resize(end_ * 2 + line_padding);
        } catch (const std::bad_alloc&) {
            throw io_failure(msg_read_error, unit, file, ENOMEM);
        }
    }
    ssize_t n;
    do n = ::read(fd_, buf_.data() + end_, buf_.size() - line_padding - end_);
    while (n < 0 && errno == EINTR);
    if (n < 0) throw io_failure(msg_read_error, unit, file, errno);
    if (n == 0) {
        at_end_of_data_ = true;
        return false;
    }
    end_ += static_cast<size_t>(n);
    buf_[end_] = '\0';  // ends a last line without LF for the scanners
    return true;
}

bool text_input::next_line(std::string_view& line) {
    if (ended_ || fd_ < 0) return false;
    size_t scanned = begin_;
    for (;;) {
        const void* lf = std::memchr(buf_.data() + scanned, '\n', end_ - scanned);
        if (lf != nullptr) {
            size_t at = static_cast<size_t>(static_cast<const char*>(lf) - buf_.data());
            size_t len = at - begin_;
            if (len > 0 && buf_[at - 1] == '\r') --len;
            line = std::string_view(buf_.data() + begin_, len);
            begin_ = at + 1;
            break;
        }
        scanned = end_ - begin_;  // offset of the unscanned bytes once fill() moved them
        if (!fill()) {
            if (begin_ == end_) {
                ended_ = true;
                return false;
            }
            line = std::string_view(buf_.data() + begin_, end_ - begin_);  // last line without LF
            begin_ = end_;
            break;
        }
        scanned += begin_;
    }
    if (line.size() == 1 && line[0] == '\x1a') {
        ended_ = true;
        return false;
    }
    return true;
}

}  // namespace p2k
