#pragma once

#include "state/run_state.hpp"

namespace p2k {

inline constexpr const char* control_file_name = "poisson_to_kavro.dat";

// Reads poisson_to_kavro.dat of the working directory (unit 1) into `s.control`.
void read_control_file(run_state& s);

}  // namespace p2k
