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
    ahead_ = ahead_end_ = buf_.data();
    at_end_of_data_ = ended_ = false;
}

void text_input::close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    buf_ = std::vector<char>();
    ahead_ = ahead_end_ = nullptr;
}

bool text_input::fill() {
    if (at_end_of_data_) return false;
    size_t begin = static_cast<size_t>(ahead_ - buf_.data());
    size_t end = static_cast<size_t>(ahead_end_ - buf_.data());
    if (begin > 0) {  // keep the partial line at the front
        std::memmove(buf_.data(), buf_.data() + begin, end - begin);
        end -= begin;
        begin = 0;
        buf_[end] = '\0';
        ahead_ = buf_.data();
        ahead_end_ = buf_.data() + end;
    }
    if (end == buf_.size() - line_padding) {  // a line longer than the buffer
        if (end >= max_line) throw io_failure(msg_read_error, unit, file, EFBIG);
        try {
            buf_.resize(end * 2 + line_padding);
        } catch (const std::bad_alloc&) {
            throw io_failure(msg_read_error, unit, file, ENOMEM);
        }
        ahead_ = buf_.data();
        ahead_end_ = buf_.data() + end;
    }
    ssize_t n;
    do n = ::read(fd_, buf_.data() + end, buf_.size() - line_padding - end);
    while (n < 0 && errno == EINTR);
    if (n < 0) throw io_failure(msg_read_error, unit, file, errno);
    if (n == 0) {
        at_end_of_data_ = true;
        return false;
    }
    end += static_cast<size_t>(n);
    buf_[end] = '\0';  // ends a last line without LF for the scanners
    ahead_end_ = buf_.data() + end;
    return true;
}

bool text_input::next_line(std::string_view& line) {
    if (ended_ || fd_ < 0) return false;
    size_t scanned = 0;  // bytes of the next line already searched for its LF
    for (;;) {
        const char* const from = ahead_ + scanned;
        const void* lf = std::memchr(from, '\n', static_cast<size_t>(ahead_end_ - from));
        if (lf != nullptr) {
            const char* const at = static_cast<const char*>(lf);
            size_t len = static_cast<size_t>(at - ahead_);
            if (len > 0 && at[-1] == '\r') --len;
            line = std::string_view(ahead_, len);
            ahead_ = at + 1;
            break;
        }
        scanned = static_cast<size_t>(ahead_end_ - ahead_);
        if (!fill()) {
            if (ahead_ == ahead_end_) {
                ended_ = true;
                return false;
            }
            line = std::string_view(ahead_, static_cast<size_t>(ahead_end_ - ahead_));  // last line without LF
            ahead_ = ahead_end_;
            break;
        }
    }
    if (line.size() == 1 && line[0] == '\x1a') {
        ended_ = true;
        ahead_end_ = ahead_;  // nothing after the end of the file is handed out
        return false;
    }
    return true;
}

}  // namespace p2k
