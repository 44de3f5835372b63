#include "map/map_prepare.hpp"

#include "map/map_limits.hpp"

#include <string_view>

namespace p2k {
namespace {

// Mirrors the radial and the axial map of the table's kind (the other two hold only zeros, never
// read into a file): positive modes hold the half z >= 0 (first table row on the mirror
// plane), negative modes the half z <= 0 (last table row on it). The mirror-plane row keeps the
// table's values; the mirrored rows of the odd components are negated.
void mirror(field_map& m, map_array& radial, map_array& axial, int32_t kmirror_z) {
    const int32_t nz = m.Nz;
    const int32_t full = 2 * nz - 1;
    const bool axial_odd = kmirror_z == 1 || kmirror_z == -1;
    map_array* maps[2] = {&radial, &axial};
    const bool negated[2] = {!axial_odd, axial_odd};

    int32_t first = nz + 1, last = full;  // rows written by the mirror
    if (kmirror_z > 0) {
        for (int32_t iz = nz; iz >= 1; --iz)
            for (int32_t ir = 1; ir <= m.Nr; ++ir)
                for (map_array* f : maps) (*f)(ir, iz + nz - 1) = (*f)(ir, iz);
        first = 1;
        last = nz - 1;
    }
    for (int32_t row = first; row <= last; ++row)
        for (int32_t ir = 1; ir <= m.Nr; ++ir)
            for (int f = 0; f < 2; ++f) {
                const double v = (*maps[f])(ir, full - row + 1);
                (*maps[f])(ir, row) = negated[f] ? -v : v;
            }
    m.Nz = full;
    m.Zmin = 2 * m.Zmin;
    m.Zmax = 2 * m.Zmax;
}

}  // namespace

void prepare_map(run_state& s) {
    field_map& m = s.map;
    if (mirror_mode(s.control.kmirror_z)) {
        const auto [radial, axial] = table_kind_maps(s);
        mirror(m, radial, axial, s.control.kmirror_z);
    }

    const double dr = (m.Rmax - m.Rmin) / static_cast<double>(m.Nr - 1);
    for (int32_t ir = 1; ir <= m.Nr; ++ir) m.r_node[static_cast<size_t>(ir)] = static_cast<double>(ir - 1) * dr + m.Rmin;
    const double dz = (m.Zmax - m.Zmin) / static_cast<double>(m.Nz - 1);
    for (int32_t iz = 1; iz <= m.Nz; ++iz) m.z_node[static_cast<size_t>(iz)] = static_cast<double>(iz - 1) * dz + m.Zmin;

    s.console.line(std::string_view(" Full Input Grid parameters "));
    s.console.line(std::string_view(" Zmin, Zmax, Nz = "), m.Zmin, m.Zmax, m.Nz);
    s.console.line(std::string_view(" Rmin, Rmax, Nr = "), m.Rmin, m.Rmax, m.Nr);
}

}  // namespace p2k
