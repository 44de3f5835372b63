#pragma once

#include "state/run_state.hpp"

namespace p2k {

// "eh_EMS.#" and kfile_num as two digits ("**" when they do not hold it).
void name_output_file(run_state& s);

// Names the output file, reports it, sets the header integers and writes the file in the
// layout that kform_3D selects; any other layout ends the run with the format stop.
void write_output(run_state& s);

}  // namespace p2k
