// The byte stream under an output unit: a descriptor written in large blocks, the truncation of
// an existing file after the first write, and the mapping of refused writes onto reports.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace p2k {

class output_sink {
public:
    output_sink() = default;
    output_sink(const output_sink&) = delete;
    output_sink& operator=(const output_sink&) = delete;
    ~output_sink() { release(); }

    // Opens with the status "unknown": created when missing, kept (not truncated) when present;
    // a regular file is cut after the first write. Read-write refused: opened read-only.
    void open_unknown(int unit_, std::string_view fixed_name);
    // Writes to an inherited descriptor (the console).
    void attach(int unit_, int fd, std::string name);
    bool is_open() const { return fd_ >= 0; }

    // Appends at the current position of the stream.
    void write(const void* data, size_t n);
    // Overwrites 4 bytes at an earlier position, leaving the stream position unchanged.
    void patch(uint64_t offset, const void* data4);
    // Cuts the file at the current position once, after the first write, if it is a regular file.
    void cut_once();
    uint64_t position() const { return pos_; }

    // Closes the descriptor; a refusal is reported.
    void close();
    // Closes without reporting (error paths).
    void release();

    int unit = 0;
    std::string file;

private:
    [[noreturn]] void write_failed(int err) const;

    int fd_ = -1;
    bool owned_ = false;
    bool read_only_ = false;
    bool truncation_mark_ = false;
    uint64_t pos_ = 0;
};

}  // namespace p2k
