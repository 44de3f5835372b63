#pragma once

#include "state/run_state.hpp"

namespace p2k {

// Mirrors the map about z = 0 when kmirror_z asks for it, builds r_node and z_node, and
// reports the full input grid.
void prepare_map(run_state& s);

}  // namespace p2k
