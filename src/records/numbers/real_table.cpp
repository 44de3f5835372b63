// The 24-column real field: the fixed form by table for the magnitudes that a field file mostly
// holds, everything else by the general path.
#include "records/number_fields.hpp"
#include "records/numbers/detail.hpp"

namespace p2k {

void format_real24(double x, char* out) {
    using namespace numbers::detail;
    const uint64_t bits = std::bit_cast<uint64_t>(x);
    const uint64_t magnitude = bits & ~(uint64_t{1} << 63);
    if (const uint32_t binade = static_cast<uint32_t>(magnitude >> 52) - first_binade; binade < fixed_binades) {
        const uint32_t side = side_in(binade, magnitude);
        if (const uint64_t q = fixed_digits(magnitude, side); q < pow10_u64[15]) {
            lay_out_fixed_side(q, side, (bits >> 63) != 0, out);
            return;
        }
    }
    format_real24_general(x, out);
}

}  // namespace p2k
