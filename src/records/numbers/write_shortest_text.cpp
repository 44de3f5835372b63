// The shortest text of a real, for messages.
#include "records/number_fields.hpp"

#include <charconv>
#include <cmath>

namespace p2k {

std::string shortest_text(double v) {
    char b[64];
    const auto r = std::to_chars(b, b + sizeof b, v);
    std::string s(b, r.ptr);
    if (std::isfinite(v) && s.find_first_of(".e") == std::string::npos) s += ".0";
    return s;
}

}  // namespace p2k
