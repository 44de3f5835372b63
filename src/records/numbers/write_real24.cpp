// The 24-column real field: the fixed form by table for the magnitudes that a field file mostly
// holds, everything else by the general path.
#include "records/number_fields.hpp"
#include "records/numbers/write_detail.hpp"

namespace p2k {

void format_real24(double x, char* out) {
    using namespace numbers::detail;
    const uint64_t bits = std::bit_cast<uint64_t>(x);
    const uint64_t magnitude = bits & ~(uint64_t{1} << 63);
    if (const int side = fixed_side(magnitude); side >= 0) {
        if (const uint64_t q = fixed_digits(magnitude, static_cast<uint32_t>(side)); q < pow10_u64[15]) {
            lay_out_fixed_side(q, static_cast<uint32_t>(side), (bits >> 63) != 0, out);
            return;
        }
    }
    format_real24_general(x, out);
}

}  // namespace p2k
