// poisson_to_kavro: converts a 2D axially symmetric Poisson field table into the 3D Cartesian
// field file of the beam-dynamics code, as the control file poisson_to_kavro.dat says.
#include "run/driver.hpp"
#include "run/huge_pages.hpp"

#include <csignal>
#include <unistd.h>

namespace {
p2k::run_state state;  // the whole run state, in static storage
}

int main() {
    // A file-size limit makes the write fail with a report instead of killing the process.
    std::signal(SIGXFSZ, SIG_IGN);
    // The maps and the 3D arrays, from the first map to the last array.
    char* const arrays = reinterpret_cast<char*>(&state.map.Er_map);
    p2k::prefer_huge_pages(arrays, static_cast<size_t>(reinterpret_cast<char*>(&state.field + 1) - arrays));
    state.console.sink.attach(6, STDOUT_FILENO, "/dev/stdout");
    return p2k::run_conversion(state, STDERR_FILENO);
}
