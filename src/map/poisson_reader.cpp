#include "map/poisson_reader.hpp"

#include "map/map_limits.hpp"
#include "records/failure.hpp"
#include "records/list_input.hpp"

#include <string_view>

namespace p2k {
namespace {

constexpr size_t head_len = 100;

// The header counts intervals; nodes are one more, in 32-bit wrap-around arithmetic.
int32_t nodes_from_intervals(int32_t intervals) {
    return static_cast<int32_t>(static_cast<uint32_t>(intervals) + 1u);
}

void load_rows(run_state& s, text_input& in) {
    field_map& m = s.map;
    const double scale = of_table_kind(s.control, s.control.scale_E, s.control.scale_B);
    const auto [radial, axial] = table_kind_maps(s);
    // The maps of the other kind are left as they start, zero: writing zeros would only touch pages.
    // A null value keeps the value of the row before.
    double tab_c1 = 0, tab_c2 = 0, tab_f1 = 0, tab_f2 = 0;
    const list_item row[4] = {item(tab_c1), item(tab_c2), item(tab_f1), item(tab_f2)};
    // The layout of the last row read whole by the common rule, by which the next is tried first.
    numbers::row_template layout;
    for (int32_t iz = 1; iz <= m.Nz; ++iz) {
        for (int32_t ir = 1; ir <= m.Nr; ++ir) {
            // The coordinates are read for the rows' sake only: the reader by layout skips them.
            if (double v[4]; read_row_by_layout(in, layout, v)) {
                tab_f1 = v[2];
                tab_f2 = v[3];
            } else {
                read_row_list(in, row, layout);
            }
            radial(ir, iz) = tab_f1 * scale;
            axial(ir, iz) = tab_f2 * scale;
        }
    }
}

}  // namespace

void read_poisson_table(run_state& s) {
    field_map& m = s.map;
    const auto& name = s.control.poisson_file;
    size_t name_len = name.size();
    while (name_len > 0 && name[name_len - 1] == ' ') --name_len;
    s.console.line(std::string_view(" Reading file: "), std::string_view(name.data(), name_len));

    text_input in;
    in.open_old(2, std::string_view(name.data(), name.size()));

    char head_line[head_len];
    do read_fixed(in, head_line, head_len);
    while (std::string_view(head_line, head_len).find("Zmin") == std::string_view::npos);
    text_record line_a(std::string_view(head_line + 15, head_len - 15));
    read_list(line_a, {item(m.Rmin), item(m.Zmin)});
    read_fixed(in, head_line, head_len);
    text_record line_b(std::string_view(head_line + 15, head_len - 15));
    read_list(line_b, {item(m.Rmax), item(m.Zmax)});
    read_fixed(in, head_line, head_len);
    text_record line_c(std::string_view(head_line + 22, head_len - 22));
    read_list(line_c, {item(m.Nr), item(m.Nz)});
    m.Nz = nodes_from_intervals(m.Nz);
    m.Nr = nodes_from_intervals(m.Nr);

    s.console.line(std::string_view(" Input Grid parameters "));
    s.console.line(std::string_view(" Zmin, Zmax, Nz = "), m.Zmin, m.Zmax, m.Nz);
    s.console.line(std::string_view(" Rmin, Rmax, Nr = "), m.Rmin, m.Rmax, m.Nr);

    if (!(m.Zmin == -m.Zmax)) {
        m.Zmax = (m.Zmax - m.Zmin) / 2;
        m.Zmin = -m.Zmax;
        s.console.line(std::string_view(" Shifted & Centered Z: Zmin, Zmax= "), m.Zmin, m.Zmax);
    }

    skip_line(in);
    skip_line(in);
    skip_line(in);

    if (s.control.iflag_EH != 0 && s.control.iflag_EH != 1)
        throw run_stop(" Not a valid Field Type (iflag_EH) ", 1);
    std::string violation = map_limits_violation(m, s.control.kmirror_z);
    if (!violation.empty()) throw run_stop(violation, 1);

    load_rows(s, in);
    in.close();
}

}  // namespace p2k
