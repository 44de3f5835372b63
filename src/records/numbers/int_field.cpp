// The 12-column integer field and the shortest text of a real for messages.
#include "records/number_fields.hpp"

#include <charconv>
#include <cmath>
#include <cstring>

namespace p2k {

void format_int12(int32_t v, char* out) {
    char digits[12];
    const auto r = std::to_chars(digits, digits + sizeof digits, v);
    const size_t n = static_cast<size_t>(r.ptr - digits);
    std::memset(out, ' ', int_field_width - n);
    std::memcpy(out + int_field_width - n, digits, n);
}

std::string shortest_text(double v) {
    char b[64];
    const auto r = std::to_chars(b, b + sizeof b, v);
    std::string s(b, r.ptr);
    if (std::isfinite(v) && s.find_first_of(".e") == std::string::npos) s += ".0";
    return s;
}

}  // namespace p2k
