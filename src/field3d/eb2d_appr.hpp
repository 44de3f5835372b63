#pragma once

#include "run/run_state.hpp"

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

}  // namespace p2k
