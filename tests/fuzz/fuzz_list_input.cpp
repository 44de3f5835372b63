// List-directed reads of arbitrary bytes into integer and real items, from a one-line text (an
// internal read) and, in the target fuzz_list_file, also from a file of lines (statements until
// the end of the file), checked against the text read where the two must agree.
//
// Input: byte 0 chooses the items (bits 0-1: 1 to 4 items; bits 2-5: real when set), byte 1 the
// statements of the file read (two bits per statement: list read, skipped line, 100-character
// line); the rest is the text. Every open of a file takes a fresh megabyte buffer, which is slow
// under AddressSanitizer, so the text-only target fuzz_list_input runs many times faster.
#include "fuzz_check.hpp"
#include "records/list_input.hpp"
#include "records/text_input.hpp"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

using namespace p2k;
using p2k_fuzz::expect;

namespace {

struct statement {
    size_t count = 0;
    int32_t ints[4];
    double reals[4];
    list_item items[4];

    explicit statement(uint8_t layout) : count((layout & 3u) + 1) {
        for (size_t i = 0; i < 4; ++i) {
            ints[i] = 0x5a5a5a5a;  // a null value must leave these as they are
            reals[i] = 1234.5;
            items[i] = (layout >> (2 + i)) & 1u ? item(reals[i]) : item(ints[i]);
        }
    }
    // A real read into an item is always finite: overflow is a failure.
    void check_values() const {
        for (size_t i = 0; i < count; ++i)
            if (items[i].type == list_item::kind::real) expect(std::isfinite(reals[i]), "non-finite real read");
    }
    bool same_values(const statement& o) const {
        for (size_t i = 0; i < count; ++i) {
            if (items[i].type == list_item::kind::real) {
                if (std::memcmp(&reals[i], &o.reals[i], sizeof(double)) != 0) return false;
            } else if (ints[i] != o.ints[i]) {
                return false;
            }
        }
        return true;
    }
};

struct outcome {
    int number = 0;  // 0: the read succeeded
};

// The correctly rounded value of a lone real constant ([sign] digits [. digits] [letter [sign]
// digits], exponent letter E, D or Q), found by the standard library; false for other texts and
// for values out of range.
bool reference_real(std::string_view text, double& v) {
    std::string t;
    size_t i = 0;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        if (text[i] == '-') t += '-';
        ++i;
    }
    size_t digits = 0;
    bool point = false;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c >= '0' && c <= '9') ++digits;
        else if (c == '.' && !point) point = true;
        else break;
        t += c;
    }
    if (digits == 0) return false;
    if (i < text.size()) {
        if (std::strchr("eEdDqQ", text[i]) == nullptr || text[i] == '\0') return false;
        t += 'e';
        ++i;
        if (i < text.size() && (text[i] == '+' || text[i] == '-')) t += text[i++];
        size_t e0 = i;
        for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) t += text[i];
        if (i == e0 || i != text.size()) return false;
    }
    auto r = std::from_chars(t.data(), t.data() + t.size(), v, std::chars_format::general);
    return r.ec == std::errc() && r.ptr == t.data() + t.size();
}

outcome read_text(std::string_view text, statement& st) {
    try {
        text_record rec(text);
        read_list(rec, st.items, st.count);
        st.check_values();
        return {};
    } catch (const io_failure& f) {
        p2k_fuzz::expect_read_failure(f, internal_unit, internal_file);
        expect(f.number != msg_read_error, "a text cannot refuse a read");
        return {f.number};
    }
}

const std::string& file_path() {
    static const std::string path = p2k_fuzz::scratch_dir() + "/list.txt";
    return path;
}

void write_file(std::string_view bytes) {
    FILE* f = std::fopen(file_path().c_str(), "wb");
    if (f == nullptr) p2k_fuzz::broken("cannot write the scratch file");
    if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size())
        p2k_fuzz::broken("short write of the scratch file");
    std::fclose(f);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const uint8_t layout = data[0];
    const uint8_t plan = data[1];
    const std::string_view text(reinterpret_cast<const char*>(data + 2), size - 2);

    statement from_text(layout);
    const outcome t = read_text(text, from_text);

    // A lone constant read into one real item has the correctly rounded value.
    double expected = 0;
    if (from_text.count == 1 && from_text.items[0].type == list_item::kind::real && reference_real(text, expected)) {
        expect(t.number == 0, "a valid real constant failed", std::string(text));
        expect(std::memcmp(&expected, &from_text.reals[0], sizeof(double)) == 0, "real read not correctly rounded",
               std::string(text));
    }

#ifndef P2K_FUZZ_LIST_FILE
    (void)plan;
    return 0;
#endif
    // The same bytes as a file. One line without LF reads exactly like the text.
    write_file(text);
    text_input in;
    in.open_old(2, file_path());
    const std::string full = in.file;
    const bool one_line = text.find('\n') == std::string_view::npos && text != "\x1a" &&
                          !(text.empty());
    int statements = 0;
    try {
        for (;; ++statements) {
            expect(statements <= static_cast<int>(size) + 1, "a statement consumed no line");
            const unsigned kind = (plan >> (2 * (statements % 4))) & 3u;
            if (statements == 0 || kind >= 2) {
                statement st(layout);
                read_list(in, st.items, st.count);
                st.check_values();
                if (statements == 0 && one_line) {
                    expect(t.number == 0, "file read succeeded where the text read failed");
                    expect(st.same_values(from_text), "file and text read differ");
                }
            } else if (kind == 1) {
                skip_line(in);
            } else {
                char line[100];
                read_fixed(in, line, sizeof line);
            }
        }
    } catch (const io_failure& f) {
        p2k_fuzz::expect_read_failure(f, 2, full);
        expect(f.unit == 2, "file read reported for another unit");
        if (statements == 0 && one_line)
            expect(f.number == t.number, "file and text read fail differently",
                   std::to_string(f.number) + " vs " + std::to_string(t.number));
    }
    in.close();
    return 0;
}
