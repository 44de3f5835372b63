#pragma once

#include "run/run_state.hpp"

namespace p2k {

// The field of the prepared map at radius r and position z: (E_r, 0, E_z) and (B_r, 0, B_z)
// from the quadratic formula on the 3 x 3 nodes around the nearest node; zero outside the map.
void EB2D_APPR(const field_map& m, double r, double z, double E_cyl[3], double B_cyl[3]);

}  // namespace p2k
