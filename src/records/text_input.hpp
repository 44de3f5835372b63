// Sequential text input: files of lines, and one-line texts read as a file of their own.
#pragma once

#include "records/failure.hpp"

#include <string>
#include <string_view>
#include <vector>

namespace p2k {

// Bytes readable after the end of every line a source hands out; the first of them is CR, LF
// or NUL, which no value holds. Scanners run over a line word by word without bounds checks
// and stop at that byte at the latest.
inline constexpr size_t line_padding = 16;

// Gives lines one at a time. A line ends at LF; a CR right before the LF is not part of it; a
// last line without LF still counts; a line holding only Ctrl-Z is the end of the file.
class line_source {
public:
    virtual ~line_source() = default;
    // False at the end of the file. The view stays valid until the next call and is followed by
    // line_padding readable bytes.
    virtual bool next_line(std::string_view& line) = 0;

    // The bytes the source holds beyond its position, from the start of the next line on, and
    // followed by line_padding readable bytes of which the first is NUL; empty where it holds
    // none. A reader may take whole lines out of them itself, never one that holds only Ctrl-Z,
    // by moving the position past their LF; next_line goes on from there.
    const char* ahead() const { return ahead_; }
    const char* ahead_end() const { return ahead_end_; }
    void take_ahead(const char* past_lf) { ahead_ = past_lf; }

    int unit = 0;
    std::string file;  // full path, quoted in reports

protected:
    const char* ahead_ = nullptr;
    const char* ahead_end_ = nullptr;
};

// A file opened for reading (status old).
class text_input final : public line_source {
public:
    text_input() = default;
    text_input(const text_input&) = delete;
    text_input& operator=(const text_input&) = delete;
    ~text_input() override { close(); }

    // `fixed_name` may carry leading and trailing blanks; they are not part of the name.
    void open_old(int unit_, std::string_view fixed_name);
    bool next_line(std::string_view& line) override;
    void close();

private:
    bool fill();  // reads more bytes; false when the file has none left

    // The bytes not yet handed out are ahead_ .. ahead_end_, within buf_.
    int fd_ = -1;
    std::vector<char> buf_;
    bool at_end_of_data_ = false;
    bool ended_ = false;  // a Ctrl-Z line or the end was met
};

// A part of a line, read as a file of exactly one line: a copy of it, padded.
class text_record final : public line_source {
public:
    explicit text_record(std::string_view text) : text_(text), size_(text.size()) {
        text_.append(line_padding, '\0');
        unit = internal_unit;
        file = internal_file;
    }
    bool next_line(std::string_view& line) override {
        if (used_) return false;
        used_ = true;
        line = std::string_view(text_.data(), size_);
        return true;
    }

private:
    std::string text_;
    size_t size_;
    bool used_ = false;
};

}  // namespace p2k
