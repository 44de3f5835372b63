#include "records/record_output.hpp"

namespace p2k {

record_output::record_output(uint32_t subrecord_limit)
    : limit_(subrecord_limit == 0 ? 1 : subrecord_limit), buf_(buffer_size) {}

void record_output::begin() {
    used_ = 0;
    sub_start_ = sink.position();
    const uint8_t placeholder[4] = {0, 0, 0, 0};
    append(placeholder, 4);
    sub_len_ = 0;
    first_sub_ = true;
}

void record_output::write_buffer() {
    if (used_ == 0) return;
    sink.write(buf_.data(), used_);
    used_ = 0;
}

void record_output::append(const uint8_t* p, size_t n) {
    while (n > 0) {
        if (used_ == buffer_size) write_buffer();  // stream: the leading length is filled in at the end
        if (used_ == 0 && n >= buffer_size) {  // the same piece, without the copy
            sink.write(p, buffer_size);
            p += buffer_size;
            n -= buffer_size;
            continue;
        }
        size_t take = buffer_size - used_ < n ? buffer_size - used_ : n;
        std::memcpy(buf_.data() + used_, p, take);
        used_ += take;
        p += take;
        n -= take;
    }
}

void record_output::put_bytes_slow(const uint8_t* p, size_t n) {
    while (n > 0) {
        if (sub_len_ == limit_) finish_subrecord(true);
        uint64_t room = limit_ - sub_len_;
        size_t take = room < n ? static_cast<size_t>(room) : n;
        append(p, take);
        sub_len_ += take;
        p += take;
        n -= take;
    }
}

// Trailing length: negative unless this is the first subrecord of the record. Leading length:
// negative when a further subrecord follows.
void record_output::finish_subrecord(bool more_follows) {
    const int64_t len = static_cast<int64_t>(sub_len_);
    uint8_t trailing[4];
    store_le32(trailing, static_cast<uint32_t>(first_sub_ ? len : -len));
    append(trailing, 4);
    uint8_t leading[4];
    store_le32(leading, static_cast<uint32_t>(more_follows ? -len : len));
    const uint64_t buffered_from = sink.position();
    if (sub_start_ >= buffered_from) {  // still in memory: one write for the whole record
        std::memcpy(buf_.data() + (sub_start_ - buffered_from), leading, 4);
        write_buffer();
    } else {
        write_buffer();
        sink.patch(sub_start_, leading);
    }
    if (more_follows) {
        sub_start_ = sink.position();
        const uint8_t placeholder[4] = {0, 0, 0, 0};
        append(placeholder, 4);
        sub_len_ = 0;
        first_sub_ = false;
    }
}

void record_output::end() {
    finish_subrecord(false);
    sink.cut_once();
}

}  // namespace p2k
