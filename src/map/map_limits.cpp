#include "map/map_limits.hpp"

#include "records/number_fields.hpp"

#include <cmath>

namespace p2k {
namespace {

std::string rejected(const std::string& why) { return " Field map rejected: " + why; }

}  // namespace

std::string map_limits_violation(const field_map& m, int32_t kmirror_z) {
    const bool mirrored = mirror_mode(kmirror_z);
    if (m.Nr > map_nr_max || m.Nr < 3)
        return rejected("Nr = " + std::to_string(m.Nr) + " (allowed 3 .. " + std::to_string(map_nr_max) + ")");
    if (m.Nz > map_nz_max)
        return rejected("Nz = " + std::to_string(m.Nz) + " (allowed up to " + std::to_string(map_nz_max) + ")");
    if (mirrored && m.Nz > map_nz_max / 2)
        return rejected("Nz = " + std::to_string(m.Nz) + " with kmirror_z = " + std::to_string(kmirror_z) +
                        " (allowed up to " + std::to_string(map_nz_max / 2) + " when mirrored)");
    const int64_t final_nz = mirrored ? 2 * int64_t{m.Nz} - 1 : m.Nz;
    if (final_nz < 3) return rejected("final Nz = " + std::to_string(final_nz) + " (at least 3 needed)");
    if (!(m.Rmax > m.Rmin))
        return rejected("Rmax = " + shortest_text(m.Rmax) + " not above Rmin = " + shortest_text(m.Rmin));
    if (!(m.Zmax > m.Zmin))
        return rejected("Zmax = " + shortest_text(m.Zmax) + " not above Zmin = " + shortest_text(m.Zmin) + " after centring");
    const double zspan = mirrored ? 2 * m.Zmax - 2 * m.Zmin : m.Zmax - m.Zmin;
    if (!std::isfinite(m.Rmax - m.Rmin) || !std::isfinite(zspan))
        return rejected("R range " + shortest_text(m.Rmin) + " .. " + shortest_text(m.Rmax) + " or Z range " +
                        shortest_text(m.Zmin) + " .. " + shortest_text(m.Zmax) + " too wide");
    return {};
}

}  // namespace p2k
