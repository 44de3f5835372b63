#include "run/control_file.hpp"

#include "records/list_input.hpp"

namespace p2k {

void read_control_file(run_state& s) {
    run_control& c = s.control;
    text_input in;
    in.open_old(1, control_file_name);
    skip_line(in);
    skip_line(in);
    read_fixed(in, c.poisson_file.data(), c.poisson_file.size());
    read_list(in, {item(c.iflag_EH)});
    read_list(in, {item(c.kmirror_z)});
    read_list(in, {item(c.kfile_num)});
    read_list(in, {item(c.kform_3D)});
    read_list(in, {item(c.ksym_x), item(c.ksym_y), item(c.ksym_z)});
    read_list(in, {item(c.d_elm)});
    read_list(in, {item(c.aper)});
    read_list(in, {item(c.scale_E)});
    read_list(in, {item(c.scale_B)});
    in.close();
}

}  // namespace p2k
