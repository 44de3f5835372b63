#pragma once

#include "state/run_state.hpp"

#include <string>

namespace p2k {

// The field map must hold at most 200 x 1000 nodes (500 table rows when mirrored), at least
// 3 x 3 after preparation, and increasing finite limits. Returns the stop message for a table
// outside those limits, or an empty text. Called with the header read and z centred.
std::string map_limits_violation(const field_map& m, int32_t kmirror_z);

// True for the four mirror modes.
inline bool mirror_mode(int32_t kmirror_z) {
    return kmirror_z == 1 || kmirror_z == -1 || kmirror_z == 2 || kmirror_z == -2;
}

}  // namespace p2k
