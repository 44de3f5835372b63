#include "records/list_output.hpp"
#include "writers/field_files.hpp"

#include <string_view>

namespace p2k {

void write_text_file_2(const run_state& s) {
    const output_grid& g = s.grid;
    list_output u;
    u.open_unknown(7, std::string_view(s.out.field_file.data(), s.out.field_file.size()));
    u.line(s.control.iflag_EH);
    u.line(s.control.ksym_x, s.control.ksym_y, s.control.ksym_z);
    u.line(g.xmws[0], g.xmws[1], int32_t{grid_nx});
    u.line(g.ymws[0], g.ymws[1], int32_t{grid_ny});
    u.line(g.zmws[0], g.zmws[1], int32_t{grid_nz});
    const auto [a, b, c] = table_kind_arrays(s);
    for (int i = 1; i <= grid_nx; ++i)
        for (int j = 1; j <= grid_ny; ++j)
            for (int k = 1; k <= grid_nz; ++k) {
                const size_t at = grid_array::at(i, j, k);
                u.line(a.v[at], b.v[at], c.v[at]);
            }
    u.close();
}

}  // namespace p2k
