#pragma once

#include "state/run_state.hpp"

namespace p2k {

// Format 0: nine unformatted records on unit 7.
void write_binary_file(const run_state& s);
// Format 1: the same nine statements as list-directed text.
void write_text_file_1(const run_state& s);
// Format 2: a five-line header and one line per node, z fastest.
void write_text_file_2(const run_state& s);

}  // namespace p2k
