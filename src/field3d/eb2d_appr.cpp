#include "field3d/eb2d_appr.hpp"

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

struct weights {
    double w0, wrp, wrm, wzp, wzm, wx;
};

double approx(const map_array& F, int32_t i, int32_t j, const weights& w) {
    const double X = (((F(i + 1, j + 1) + F(i - 1, j - 1)) - F(i - 1, j + 1)) - F(i + 1, j - 1)) * w.wx;
    double S = w.wrp * F(i + 1, j);
    S = S + w.w0 * F(i, j);
    S = S + w.wrm * F(i - 1, j);
    S = S + w.wzp * F(i, j + 1);
    S = S + w.wzm * F(i, j - 1);
    return S + X;
}

}  // namespace

void EB2D_APPR(const field_map& m, double r, double z, double E_cyl[3], double B_cyl[3]) {
    E_cyl[0] = E_cyl[1] = E_cyl[2] = 0;
    B_cyl[0] = B_cyl[1] = B_cyl[2] = 0;
    const double r1 = m.r_node[1], z1 = m.z_node[1];
    if (r < r1 || r > m.r_node[static_cast<size_t>(m.Nr)]) return;
    if (z < z1 || z > m.z_node[static_cast<size_t>(m.Nz)]) return;

    const double dr = m.r_node[2] - r1;
    const double dz = m.z_node[2] - z1;
    const int32_t ir = centre_node(((r - r1) - dr / 2) / dr, m.Nr);
    const int32_t iz = centre_node(((z - z1) - dz / 2) / dz, m.Nz);
    const double p = (r - m.r_node[static_cast<size_t>(ir)]) / dr;
    const double q = (z - m.z_node[static_cast<size_t>(iz)]) / dz;
    const double p2 = p * p, q2 = q * q;
    const weights w{(1 - p2) - q2, (p + p2) / 2, (p2 - p) / 2, (q + q2) / 2, (q2 - q) / 2, (p * q) / 4};

    E_cyl[0] = approx(m.Er_map, ir, iz, w);
    E_cyl[2] = approx(m.Ez_map, ir, iz, w);
    B_cyl[0] = approx(m.Br_map, ir, iz, w);
    B_cyl[2] = approx(m.Bz_map, ir, iz, w);
}

}  // namespace p2k
