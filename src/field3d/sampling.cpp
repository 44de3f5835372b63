#include "field3d/sampling.hpp"

#include "field3d/eb2d_appr.hpp"
#include "records/failure.hpp"
#include "records/number_fields.hpp"

#include <cmath>
#include <string>
#include <string_view>

namespace p2k {
namespace {

// Returns the step, which is not finite when the length is too large for a double.
template <size_t N>
double axis_nodes(std::array<double, 2>& limits, double half, int32_t ksym, std::array<double, N>& nodes) {
    limits = {-half, half};
    if (ksym != 0) limits[0] = 0;
    const int intervals = static_cast<int>(N) - 2;
    const double step = (limits[1] - limits[0]) / static_cast<double>(intervals);
    for (size_t n = 1; n < N; ++n) nodes[n] = static_cast<double>(n - 1) * step + limits[0];
    return step;
}

// A grid whose step overflows would hold no number at its first node and write a file of NaN.
[[noreturn]] void reject_grid(const char* name, double value) {
    throw run_stop(std::string(" Output grid rejected: ") + name + " = " + shortest_text(value) +
                       " gives a grid step that is not finite",
                   1);
}

}  // namespace

void sample_field(run_state& s) {
    output_grid& g = s.grid;
    const run_control& c = s.control;
    const double dx = axis_nodes(g.xmws, c.aper, c.ksym_x, g.x_grid);
    const double dy = axis_nodes(g.ymws, c.aper, c.ksym_y, g.y_grid);
    axis_nodes(g.zmws, c.d_elm / 2, c.ksym_z, g.z_grid);  // d_elm / 2 halves it: always finite
    if (!std::isfinite(dx) || !std::isfinite(dy)) reject_grid("aper", c.aper);

    s.console.line(std::string_view(" Kavro grid and other info "));
    s.console.line(int32_t{grid_nx}, g.xmws[0], g.xmws[1]);
    s.console.line(int32_t{grid_ny}, g.ymws[0], g.ymws[1]);
    s.console.line(int32_t{grid_nz}, g.zmws[0], g.zmws[1]);

    // EB2D_APPR at every node, its two halves computed once per radius and once per z, and so
    // the weights that depend on one offset alone (the same functions EB2D_APPR calls, so the
    // same results). Only the kind of field the table holds is evaluated and stored: the
    // arrays of the other kind are never written to a file, and they stay as zero as the table
    // left their maps.
    struct axial_part {
        bool inside;
        size_t row;  // of the centre node, from the map's first
        axial_weights w;
    };
    std::array<axial_part, grid_nz + 1> along_z;
    for (size_t k = 1; k <= grid_nz; ++k) {
        const axis_stencil a = axial_stencil(s.map, g.z_grid[k]);
        along_z[k] = {a.inside, map_nr_max * static_cast<size_t>(a.inside ? a.centre - 1 : 0), weights_along_z(a.offset)};
    }
    const auto [radial, axial] = table_kind_maps(s);
    const double* radial_map = radial.v.data();
    const double* axial_map = axial.v.data();
    const auto [out_x, out_y, out_z] = table_kind_arrays(s);
    // The nodes in storage order, z slice by z slice, so that the stores run through the arrays
    // and the map rows of one slice are read together; the radial halves of the 25 x 25 columns
    // computed before.
    struct radial_part {
        bool inside, off_axis;
        size_t column;  // of the centre node
        radial_weights w;
        double x, y, r;
    };
    std::array<radial_part, grid_nx * grid_ny> across;
    for (int j = 1; j <= grid_ny; ++j) {
        const double y = g.y_grid[static_cast<size_t>(j)];
        for (int i = 1; i <= grid_nx; ++i) {
            const double x = g.x_grid[static_cast<size_t>(i)];
            const double r = std::sqrt(x * x + y * y);
            const axis_stencil radial = radial_stencil(s.map, r);
            across[grid_array::at(i, j, 1)] = {radial.inside, r > 1e-12, radial.inside ? static_cast<size_t>(radial.centre - 1) : 0,
                                               weights_along_r(radial.offset), x, y, r};
        }
    }
    for (int k = 1; k <= grid_nz; ++k) {
        const axial_part& a = along_z[static_cast<size_t>(k)];
        const size_t slice = grid_array::at(1, 1, k);
        for (size_t n = 0; n < across.size(); ++n) {
            const radial_part& p = across[n];
            double e_r = 0, e_z = 0;
            if (p.inside && a.inside) {
                const stencil_weights w = combine(p.w, a.w);
                e_r = approximate(radial_map + a.row + p.column, w);
                e_z = approximate(axial_map + a.row + p.column, w);
            }
            const size_t at = slice + n;
            if (p.off_axis) {
                out_x.v[at] = (p.x * e_r) / p.r;
                out_y.v[at] = (p.y * e_r) / p.r;
            } else {
                out_x.v[at] = 0;
                out_y.v[at] = 0;
            }
            out_z.v[at] = e_z;
        }
    }
}

}  // namespace p2k
