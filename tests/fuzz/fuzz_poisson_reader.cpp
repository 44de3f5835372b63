// The Poisson table reader on arbitrary table text, followed by the map preparation and a few
// evaluations of the approximation.
//
// Input: byte 0 chooses iflag_EH (0, 1, 2), kmirror_z (0, 1, -1, 2, -2, 3) and the scale
// factor; the rest is the table, written to a scratch file that the control values name.
#include "field3d/eb2d_appr.hpp"
#include "fuzz_check.hpp"
#include "map/map_prepare.hpp"
#include "map/poisson_reader.hpp"
#include "state/run_state.hpp"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include <fcntl.h>

using namespace p2k;
using p2k_fuzz::expect;

namespace {

run_state state;  // 25 MB: static storage, never the stack

const std::string& table_path() {
    static const std::string path = p2k_fuzz::scratch_dir() + "/table.txt";
    return path;
}

void write_file(const uint8_t* data, size_t size) {
    FILE* f = std::fopen(table_path().c_str(), "wb");
    if (f == nullptr) p2k_fuzz::broken("cannot write the scratch file");
    if (size > 0 && std::fwrite(data, 1, size, f) != size) p2k_fuzz::broken("short write of the scratch file");
    std::fclose(f);
}

// Only the values the reader reads or checks need to start at zero; the map arrays are written
// before they are read.
void reset_reader_state(run_state& s) {
    s.control = run_control{};
    field_map& m = s.map;
    m.Rmin = m.Rmax = m.Zmin = m.Zmax = 0;
    m.Nr = m.Nz = 0;
}

void check_prepared_map(const field_map& m) {
    expect(m.Nr >= 3 && m.Nr <= map_nr_max, "Nr outside the map");
    expect(m.Nz >= 3 && m.Nz <= map_nz_max, "Nz outside the map");
    expect(m.r_node[1] == m.Rmin && m.z_node[1] == m.Zmin, "first node is not the lower limit");
    const double probes_r[] = {m.r_node[1], m.r_node[static_cast<size_t>(m.Nr)], (m.Rmin + m.Rmax) / 2,
                               std::nextafter(m.r_node[static_cast<size_t>(m.Nr)], INFINITY), -1.0, NAN};
    const double probes_z[] = {m.z_node[1], m.z_node[static_cast<size_t>(m.Nz)], 0.0,
                               std::nextafter(m.z_node[static_cast<size_t>(m.Nz)], INFINITY), NAN};
    for (double r : probes_r)
        for (double z : probes_z) {
            double E[3], B[3];
            EB2D_APPR(m, r, z, E, B);
            expect(E[1] == 0 && B[1] == 0, "azimuthal component not zero");
            if (std::isnan(r) || std::isnan(z)) continue;  // no behaviour is defined for them
            const bool outside = !(r >= m.r_node[1] && r <= m.r_node[static_cast<size_t>(m.Nr)] &&
                                   z >= m.z_node[1] && z <= m.z_node[static_cast<size_t>(m.Nz)]);
            if (outside)
                expect(E[0] == 0 && E[2] == 0 && B[0] == 0 && B[2] == 0, "field outside the map not zero");
        }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The console output is not looked at.
    state.console.sink.attach(6, ::open("/dev/null", O_WRONLY), "/dev/null");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const uint8_t cfg = data[0];
    write_file(data + 1, size - 1);

    run_state& s = state;
    reset_reader_state(s);
    static const int32_t mirrors[6] = {0, 1, -1, 2, -2, 3};
    static const double scales[4] = {1.0, -2.5, 1e300, 0.0};
    s.control.iflag_EH = cfg % 3;
    s.control.kmirror_z = mirrors[(cfg / 3) % 6];
    s.control.scale_E = s.control.scale_B = scales[(cfg / 18) % 4];
    s.control.poisson_file.fill(' ');
    const std::string& path = table_path();
    std::memcpy(s.control.poisson_file.data(), path.data(), path.size());

    try {
        read_poisson_table(s);
        expect(s.control.iflag_EH == 0 || s.control.iflag_EH == 1, "invalid field type loaded");
        expect(s.map.Zmin == -s.map.Zmax, "z not centred");
        expect(s.map.Rmax > s.map.Rmin && s.map.Zmax > s.map.Zmin, "limits not increasing");
        prepare_map(s);
        check_prepared_map(s.map);
    } catch (const io_failure& f) {
        p2k_fuzz::expect_read_failure(f, 2, path);
    } catch (const run_stop& stop) {
        expect(stop.status == 1, "stop with a status other than 1");
        expect(!stop.message.empty() && stop.message.find('\n') == std::string::npos, "stop message not one line");
    }
    s.console.flush();
    return 0;
}
