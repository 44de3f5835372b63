#include "field3d/eb2d_appr.hpp"

#include <cstddef>

namespace p2k {
namespace {

// Nearest node, kept to the interior nodes 2 .. n - 1 so that its 3 x 3 block lies in the map.
// Truncation toward zero; offsets too far out to convert are clamped like the result would be.
int32_t centre_node(double offset_in_steps, int32_t n) {
    int32_t c;
    if (!(offset_in_steps > -1.0)) c = 2;  // truncates to -1 or less (or not a number)
    else if (offset_in_steps >= 2147483645.0) c = n - 1;
    else c = static_cast<int32_t>(offset_in_steps) + 2;
    if (c < 2) c = 2;
    if (c >= n) c = n - 1;
    return c;
}

// The map covers the closed interval of its nodes; the step is read from the first two.
template <size_t N>
axis_stencil stencil(const std::array<double, N>& node, int32_t n, double x) {
    if (x < node[1] || x > node[static_cast<size_t>(n)]) return {false, 0, 0};
    const double d = node[2] - node[1];
    const int32_t c = centre_node(((x - node[1]) - d / 2) / d, n);
    return {true, c, (x - node[static_cast<size_t>(c)]) / d};
}

}  // namespace

axis_stencil radial_stencil(const field_map& m, double r) { return stencil(m.r_node, m.Nr, r); }
axis_stencil axial_stencil(const field_map& m, double z) { return stencil(m.z_node, m.Nz, z); }

void evaluate_kind(const map_array& radial_map, const map_array& axial_map, const axis_stencil& radial,
                   const axis_stencil& axial, double cyl[3]) {
    cyl[0] = cyl[1] = cyl[2] = 0;
    if (!radial.inside || !axial.inside) return;
    const stencil_weights w = combine(weights_along_r(radial.offset), weights_along_z(axial.offset));
    const int32_t ir = radial.centre, iz = axial.centre;
    cyl[0] = approximate(&radial_map(ir, iz), w);
    cyl[2] = approximate(&axial_map(ir, iz), w);
}

void evaluate_stencil(const field_map& m, const axis_stencil& radial, const axis_stencil& axial, double E_cyl[3],
                      double B_cyl[3]) {
    evaluate_kind(m.Er_map, m.Ez_map, radial, axial, E_cyl);
    evaluate_kind(m.Br_map, m.Bz_map, radial, axial, B_cyl);
}

void EB2D_APPR(const field_map& m, double r, double z, double E_cyl[3], double B_cyl[3]) {
    evaluate_stencil(m, radial_stencil(m, r), axial_stencil(m, z), E_cyl, B_cyl);
}

}  // namespace p2k
