// The nine statements shared by formats 0 and 1: the same values in the same order, put through
// either the record layer or list-directed output.
#pragma once

#include "state/run_state.hpp"

#include <string_view>

namespace p2k {

template <typename Unit>
void write_nine_statements(const run_state& s, Unit& u) {
    const output_grid& g = s.grid;
    u.open_unknown(7, std::string_view(s.out.field_file.data(), s.out.field_file.size()));
    u.begin();
    u.put(s.control.d_elm);
    u.put(s.control.aper);
    u.put(s.out.k_s_EH);
    u.end();
    u.begin();
    u.put(s.control.ksym_x);
    u.put(s.control.ksym_y);
    u.put(s.control.ksym_z);
    u.end();
    for (const double* axis : {g.x_grid.data(), g.y_grid.data()}) {
        u.begin();
        u.put(axis + 1, grid_nx);
        u.end();
    }
    u.begin();
    u.put(g.z_grid.data() + 1, grid_nz);
    u.end();
    const auto [x, y, z] = table_kind_arrays(s);
    for (const grid_array* a : {&x, &y, &z}) {
        u.begin();
        u.put(a->v.data(), a->v.size());  // storage order: i fastest, then j, then k
        u.end();
    }
    u.begin();
    u.put(s.out.kend_mark);
    u.end();
    u.close();
}

}  // namespace p2k
