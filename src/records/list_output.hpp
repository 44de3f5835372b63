// List-directed output: statements of texts, 32-bit integers and 64-bit reals laid out on lines
// of at most 80 columns ended by CR LF, collected in a block buffer.
#pragma once

#include "records/number_fields.hpp"
#include "records/output_sink.hpp"

#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>
#include <type_traits>

namespace p2k {

class list_output {
public:
    list_output();
    list_output(const list_output&) = delete;
    list_output& operator=(const list_output&) = delete;
    ~list_output() { sink.release(); }

    void open_unknown(int unit, std::string_view fixed_name) { sink.open_unknown(unit, fixed_name); }

    void begin() {
        col_ = 0;
        at_line_start_ = true;
        prev_ = kind::none;
    }
    void put(std::string_view text);
    void put(int32_t v) { put_number(v, int_field_width); }
    void put(double v) { put_number(v, real_field_width); }
    // n reals in statement order: whole lines of three go straight into the buffer.
    void put(const double* v, size_t n);
    void end();

    // One whole statement. Three reals fill one line exactly: written as one, with the same bytes.
    template <typename... T>
    void line(const T&... values) {
        if constexpr (sizeof...(T) == 3 && (std::is_same_v<T, double> && ...)) {
            const double v[3] = {values...};
            begin();
            put_line_of_three(v);
        } else {
            begin();
            (put(values), ...);
            end();
        }
    }

    // Hands the buffered bytes to the sink.
    void flush();
    // Flushes and closes the sink.
    void close();

    output_sink sink;

private:
    static constexpr int line_width = 80;
    static constexpr size_t block = size_t(1) << 18;
    static constexpr size_t line_of_three = 3 * real_field_width + 2;
    enum class kind { none, number, text };

    template <typename N>
    void put_number(N v, int width) {
        if (line_width - col_ < width) new_line();
        reserve(static_cast<size_t>(width));
        if constexpr (sizeof(N) == 4) format_int12(v, buf_.get() + used_);
        else format_real24(v, buf_.get() + used_);
        used_ += static_cast<size_t>(width);
        col_ += width;
        at_line_start_ = false;
        prev_ = kind::number;
    }
    void new_line();  // ends the current line and starts the next
    // Three reals from the start of a line (col_ 0, at_line_start_ set), and its end: the line
    // state is the same afterwards.
    void put_line_of_three(const double* v) {
        reserve(line_of_three);
        char* p = buf_.get() + used_;
        format_real24(v[0], p);
        format_real24(v[1], p + real_field_width);
        format_real24(v[2], p + 2 * real_field_width);
        std::memcpy(p + 3 * real_field_width, "\r\n", 2);
        used_ += line_of_three;
    }
    void reserve(size_t n) {
        if (block - used_ < n + 2) flush();
    }
    void put_char(char c) {
        reserve(1);
        buf_[used_++] = c;
        ++col_;
    }

    std::unique_ptr<char[]> buf_;  // not zeroed: only the pages written are touched
    size_t used_ = 0;
    int col_ = 0;
    bool at_line_start_ = true;
    kind prev_ = kind::none;
};

}  // namespace p2k
