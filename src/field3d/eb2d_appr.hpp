#pragma once

#include "state/run_state.hpp"

#include <cstddef>

namespace p2k {

// The field of the prepared map at radius r and position z: (E_r, 0, E_z) and (B_r, 0, B_z)
// from the quadratic formula on the 3 x 3 nodes around the nearest node; zero outside the map.
void EB2D_APPR(const field_map& m, double r, double z, double E_cyl[3], double B_cyl[3]);

// EB2D_APPR in two halves, for callers that visit many points on the same radius or z: the
// centre node and offset along one axis, then the evaluation from one of each.
struct axis_stencil {
    bool inside;
    int32_t centre;  // node 2 .. n - 1
    double offset;   // from the centre node, in steps
};
axis_stencil radial_stencil(const field_map& m, double r);
axis_stencil axial_stencil(const field_map& m, double z);
// One field kind alone, from its radial and axial maps: (radial, 0, axial).
void evaluate_kind(const map_array& radial_map, const map_array& axial_map, const axis_stencil& radial,
                   const axis_stencil& axial, double cyl[3]);
void evaluate_stencil(const field_map& m, const axis_stencil& radial, const axis_stencil& axial, double E_cyl[3],
                      double B_cyl[3]);

// The six weights of the 3 x 3 block, and the value of one map from them: the corner term, then
// the sum term by term, then both, in this order, in double precision. `c` points at the centre
// node (i, j); the row of node (i, j + 1) is map_nr_max further on.
struct stencil_weights {
    double w0, wrp, wrm, wzp, wzm, wx;
};

// The weights that depend on one offset alone, and the six from both: EB2D_APPR and the sampling
// pass (which computes the first once per radius and once per z) share them, so that both give
// the same results bit for bit.
struct radial_weights {
    double p, one_less_p2, wrp, wrm;
};
struct axial_weights {
    double q, q2, wzp, wzm;
};
inline radial_weights weights_along_r(double p) {
    const double p2 = p * p;
    return {p, 1 - p2, (p + p2) / 2, (p2 - p) / 2};
}
inline axial_weights weights_along_z(double q) {
    const double q2 = q * q;
    return {q, q2, (q + q2) / 2, (q2 - q) / 2};
}
inline stencil_weights combine(const radial_weights& r, const axial_weights& a) {
    return {r.one_less_p2 - a.q2, r.wrp, r.wrm, a.wzp, a.wzm, (r.p * a.q) / 4};
}

inline double approximate(const double* c, const stencil_weights& w) {
    constexpr ptrdiff_t up = map_nr_max;
    const double X = (((c[1 + up] + c[-1 - up]) - c[-1 + up]) - c[1 - up]) * w.wx;
    double S = w.wrp * c[1];
    S = S + w.w0 * c[0];
    S = S + w.wrm * c[-1];
    S = S + w.wzp * c[up];
    S = S + w.wzm * c[-up];
    return S + X;
}

}  // namespace p2k
