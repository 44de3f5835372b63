// The 12-column integer field.
#include "records/number_fields.hpp"

#include <charconv>
#include <cstring>

namespace p2k {

void format_int12(int32_t v, char* out) {
    char digits[12];
    const auto r = std::to_chars(digits, digits + sizeof digits, v);
    const size_t n = static_cast<size_t>(r.ptr - digits);
    std::memset(out, ' ', int_field_width - n);
    std::memcpy(out + int_field_width - n, digits, n);
}

}  // namespace p2k
