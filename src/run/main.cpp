// poisson_to_kavro: converts a 2D axially symmetric Poisson field table into the 3D Cartesian
// field file of the beam-dynamics code, as the control file poisson_to_kavro.dat says.
#include "run/driver.hpp"
#include "run/huge_pages.hpp"

#include <csignal>
#include <cstdio>
#include <string_view>
#include <unistd.h>

namespace {

p2k::run_state state;  // the whole run state, in static storage

constexpr const char* usage =
    "Usage: poisson_to_kavro\n"
    "Converts the Poisson field table named in poisson_to_kavro.dat, in the working directory,\n"
    "into the 3D field file eh_EMS.#NN there. It takes no arguments besides --help and --version.\n"
    "See man poisson_to_kavro.\n";

}  // namespace

int main(int argc, char** argv) {
    // --help and --version answer without touching any file; every other argument is ignored.
    for (int i = 1; i < argc; ++i) {
        const std::string_view a = argv[i];
        if (a == "--help" || a == "-h") return std::fputs(usage, stdout) < 0 ? 1 : 0;
        if (a == "--version") return std::printf("poisson_to_kavro %s\n", P2K_VERSION) < 0 ? 1 : 0;
    }
    // A file-size limit makes the write fail with a report instead of killing the process.
    std::signal(SIGXFSZ, SIG_IGN);
    // The maps and the 3D arrays.
    p2k::prefer_huge_pages_over(state.map, state.field);
    state.console.sink.attach(6, STDOUT_FILENO, "/dev/stdout");
    return p2k::run_conversion(state, STDERR_FILENO);
}
