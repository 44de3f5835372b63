#pragma once

#include "state/run_state.hpp"

namespace p2k {

// Reads the Poisson table named by the control file (unit 2): finds the header by "Zmin",
// reports the input grid, centres z on 0, checks the field type and the map's limits, and loads
// the rows, scaled, into the field map.
void read_poisson_table(run_state& s);

}  // namespace p2k
