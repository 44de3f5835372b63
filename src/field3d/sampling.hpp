#pragma once

#include "state/run_state.hpp"

namespace p2k {

// Builds the 25 x 25 x 201 output grid from aper, d_elm and the symmetry flags, reports it,
// and fills the six 3D arrays with the Cartesian field at every node.
void sample_field(run_state& s);

}  // namespace p2k
