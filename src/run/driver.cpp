#include "run/driver.hpp"

#include "field3d/sampling.hpp"
#include "map/map_prepare.hpp"
#include "map/poisson_reader.hpp"
#include "records/failure.hpp"
#include "run/control_file.hpp"
#include "writers/write_output.hpp"

#include <string_view>

namespace p2k {

void closing_report(run_state& s) {
    const run_control& c = s.control;
    const output_grid& g = s.grid;
    s.console.line(std::string_view("d_elm, aper, k_s_EH= "), c.d_elm, c.aper, s.out.k_s_EH);
    s.console.line(std::string_view("ksym_x, ksym_y, ksym_z= "), c.ksym_x, c.ksym_y, c.ksym_z);
    s.console.line(std::string_view("xmws limits= "), g.x_grid[1], g.x_grid[grid_nx]);
    s.console.line(std::string_view("ymws limits= "), g.y_grid[1], g.y_grid[grid_ny]);
    s.console.line(std::string_view("zmws limits= "), g.z_grid[1], g.z_grid[grid_nz]);
}

namespace {

// Console output already written goes out before any report.
void flush_console_quietly(run_state& s) {
    try {
        s.console.flush();
    } catch (const io_failure&) {
    }
}

}  // namespace

int run_conversion(run_state& s, int error_fd) {
    try {
        read_control_file(s);
        read_poisson_table(s);
        prepare_map(s);
        sample_field(s);
        write_output(s);
        closing_report(s);
        s.console.flush();
        return 0;
    } catch (const io_failure& f) {
        flush_console_quietly(s);
        return report_failure(f, error_fd);
    } catch (const run_stop& stop) {
        flush_console_quietly(s);
        return report_stop(stop, error_fd);
    }
}

}  // namespace p2k
