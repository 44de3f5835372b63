// Unformatted sequential output: one record per write statement, framed by a 4-byte
// little-endian length before and after its data. Records are assembled in a buffer of 51,200
// bytes, allocated whole at the start (growing it in steps would change no byte and no write);
// longer records are streamed, with the leading length written afterwards, and records beyond
// the subrecord limit are chained as subrecords with signed lengths.
#pragma once

#include "records/output_sink.hpp"

#include <bit>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

namespace p2k {

class record_output {
public:
    static constexpr uint32_t default_subrecord_limit = 2147483647u;
    static constexpr size_t buffer_size = 51200;

    explicit record_output(uint32_t subrecord_limit = default_subrecord_limit);
    record_output(const record_output&) = delete;
    record_output& operator=(const record_output&) = delete;
    ~record_output() { sink.release(); }

    void open_unknown(int unit, std::string_view fixed_name) { sink.open_unknown(unit, fixed_name); }
    void begin();
    void put(int32_t v) {
        uint8_t b[4];
        store_le32(b, static_cast<uint32_t>(v));
        put_bytes(b, 4);
    }
    void put(double v) {
        uint64_t u;
        std::memcpy(&u, &v, 8);
        uint8_t b[8];
        for (int i = 0; i < 8; ++i) b[i] = static_cast<uint8_t>(u >> (8 * i));
        put_bytes(b, 8);
    }
    // Appends n reals in one copy where the host stores them as the file does (little-endian),
    // through the same buffering, streaming and subrecord splitting as single values.
    void put(const double* v, size_t n) {
        if constexpr (std::endian::native == std::endian::little) {
            put_bytes(reinterpret_cast<const uint8_t*>(v), n * sizeof(double));
        } else {
            for (size_t i = 0; i < n; ++i) put(v[i]);
        }
    }
    void end();
    // One whole record.
    template <typename... T>
    void record(const T&... values) {
        begin();
        (put(values), ...);
        end();
    }
    void close() { sink.close(); }

    output_sink sink;

private:
    static void store_le32(uint8_t* p, uint32_t v) {
        for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
    }
    void put_bytes(const uint8_t* p, size_t n) {
        if (buffer_size - used_ >= n && limit_ - sub_len_ >= n) {
            std::memcpy(buf_.data() + used_, p, n);
            used_ += n;
            sub_len_ += n;
            return;
        }
        put_bytes_slow(p, n);
    }
    void put_bytes_slow(const uint8_t* p, size_t n);
    void append(const uint8_t* p, size_t n);  // into the buffer, streaming it when full
    void write_buffer();
    void finish_subrecord(bool more_follows);

    uint64_t limit_;
    std::vector<uint8_t> buf_;
    size_t used_ = 0;
    uint64_t sub_len_ = 0;     // data bytes of the current subrecord
    uint64_t sub_start_ = 0;   // stream offset of its leading length
    bool first_sub_ = true;    // the current subrecord is the first of its record
};

}  // namespace p2k
