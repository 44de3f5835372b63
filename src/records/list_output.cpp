#include "records/list_output.hpp"

#include <cstring>

namespace p2k {

list_output::list_output() : buf_(std::make_unique_for_overwrite<char[]>(block)) {}

void list_output::new_line() {
    reserve(2);
    buf_[used_++] = '\r';
    buf_[used_++] = '\n';
    col_ = 0;
    at_line_start_ = true;
}

void list_output::put(std::string_view text) {
    const size_t room_before = static_cast<size_t>(line_width - col_);
    const bool holds_something = !at_line_start_;
    if (!holds_something || prev_ == kind::number) put_char(' ');
    if (holds_something && text.size() > room_before) {  // move the text to a line of its own
        new_line();
        put_char(' ');
    }
    at_line_start_ = false;
    prev_ = kind::text;
    for (;;) {
        size_t room = static_cast<size_t>(line_width - col_);
        size_t n = text.size() < room ? text.size() : room;
        reserve(n);
        std::memcpy(buf_.get() + used_, text.data(), n);
        used_ += n;
        col_ += static_cast<int>(n);
        text.remove_prefix(n);
        if (text.empty()) break;
        new_line();
        put_char(' ');
        at_line_start_ = false;
    }
}

void list_output::put(const double* v, size_t n) {
    // A line of three at the start of a line, with a value after it, ends as new_line would.
    if (col_ == 0) {
        for (; n > 3; v += 3, n -= 3) put_line_of_three(v);
    }
    for (size_t i = 0; i < n; ++i) put(v[i]);
}

void list_output::end() {
    if (col_ == 0) put_char(' ');
    new_line();
}

void list_output::flush() {
    if (used_ > 0) {
        size_t n = used_;
        used_ = 0;
        sink.write(buf_.get(), n);
        sink.cut_once();
    }
}

void list_output::close() {
    flush();
    sink.close();
}

}  // namespace p2k
