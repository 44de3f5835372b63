// A whole conversion in-process on an arbitrary control file plus table: the control file, the
// table, the map preparation, the sampling pass, the naming of the output file and the closing
// report. The output stage is reduced to the name and a few values put through the text layout
// of a real, so that one input takes milliseconds.
//
// Input: the control file, then the separator line "@@@table@@@", then the table. The table is
// written under the name that line 3 of the control file gives when that is a plain file name in
// the scratch folder, so mutations of the name reach the open of the table.
#include "field3d/sampling.hpp"
#include "fuzz_check.hpp"
#include "map/map_prepare.hpp"
#include "map/poisson_reader.hpp"
#include "records/file_open.hpp"
#include "records/number_fields.hpp"
#include "run/control_file.hpp"
#include "run/driver.hpp"
#include "state/run_state.hpp"
#include "writers/write_output.hpp"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <fcntl.h>
#include <unistd.h>

using namespace p2k;
using p2k_fuzz::expect;

namespace {

run_state state;  // 25 MB: static storage, never the stack
constexpr std::string_view separator = "\n@@@table@@@\n";

void write_file(const std::string& name, std::string_view bytes) {
    FILE* f = std::fopen(name.c_str(), "wb");
    if (f == nullptr) return;  // a name the file system refuses: the open of the run fails too
    if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size())
        p2k_fuzz::broken("short write of the scratch file");
    std::fclose(f);
}

// Line 3 of the control file as the run will open it, or "" when it is no plain file name.
std::string table_name(std::string_view control) {
    for (int skip = 0; skip < 2; ++skip) {
        const size_t lf = control.find('\n');
        if (lf == std::string_view::npos) return {};
        control.remove_prefix(lf + 1);
    }
    std::string_view line = control.substr(0, control.find('\n'));
    if (!line.empty() && line.back() == '\r' && control.size() > line.size()) line.remove_suffix(1);
    const std::string name = open_name(line.substr(0, 80));
    if (name.empty() || name == "." || name == ".." || name == control_file_name) return {};
    if (name.find('/') != std::string::npos || name.find('\0') != std::string::npos) return {};
    return name;
}

void check_run(const run_state& s) {
    const field_map& m = s.map;
    expect(m.Nr >= 3 && m.Nr <= map_nr_max && m.Nz >= 3 && m.Nz <= map_nz_max, "map counts out of range");
    const std::string_view name(s.out.field_file.data(), 10);
    expect(name.substr(0, 8) == "eh_EMS.#", "output name stem");
    const int32_t k = s.control.kfile_num;
    if (k >= 0 && k <= 99)
        expect(name[8] == '0' + k / 10 && name[9] == '0' + k % 10, "output name digits");
    else
        expect(name.substr(8) == "**", "output name of a number that does not fit");
    // The text layout of a real takes every value the sampling pass can make, NaN included.
    char field[real_field_width];
    for (const grid_array* a : {&s.field.Ex, &s.field.Ey, &s.field.Ez, &s.field.Bx, &s.field.By, &s.field.Bz})
        for (size_t at = 0; at < a->v.size(); at += 997) {
            format_real24(a->v[at], field);
            if (std::isnan(a->v[at])) expect(std::string_view(field + 21, 3) == "NaN", "NaN layout");
        }
    // Off the axis the transverse field is radial.
    const output_grid& g = s.grid;
    for (int i = 1; i <= grid_nx; i += 6)
        for (int j = 1; j <= grid_ny; j += 6) {
            const double x = g.x_grid[static_cast<size_t>(i)], y = g.y_grid[static_cast<size_t>(j)];
            if (!(std::sqrt(x * x + y * y) > 1e-12))
                for (int k = 1; k <= grid_nz; k += 50)
                    expect(s.field.Ex(i, j, k) == 0 && s.field.Ey(i, j, k) == 0 && s.field.Bx(i, j, k) == 0 &&
                               s.field.By(i, j, k) == 0,
                           "transverse field on the axis");
        }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    if (::chdir(p2k_fuzz::scratch_dir().c_str()) != 0) p2k_fuzz::broken("chdir to the scratch folder");
    // The console output is not looked at.
    state.console.sink.attach(6, ::open("/dev/null", O_WRONLY), "/dev/null");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const size_t cut = input.find(separator);
    const std::string_view control = input.substr(0, cut);
    const std::string_view table = cut == std::string_view::npos ? std::string_view() : input.substr(cut + separator.size());

    write_file(control_file_name, control);
    const std::string name = table_name(control);
    if (!name.empty()) write_file(name, table);

    run_state& s = state;
    reset_run_state(s);
    try {
        read_control_file(s);
        read_poisson_table(s);
        prepare_map(s);
        sample_field(s);
        name_output_file(s);
        closing_report(s);
        check_run(s);
    } catch (const io_failure& f) {
        // Unit 1 (control), 2 (table) or -5 (a header field); open failures of a table name too.
        expect(f.unit == 1 || f.unit == 2 || f.unit == internal_unit, "failure of an unexpected unit",
               report_line(f));
        const bool open_failure = f.number == msg_file_not_found || f.number == msg_open_failure ||
                                  f.number == msg_permission_denied || f.number == msg_file_name_error;
        expect(p2k_fuzz::read_failure_number(f.number) || (f.unit == 2 && open_failure),
               "unexpected message number", report_line(f));
        expect(report_line(f).find('\n') == std::string::npos, "report line holds a line end");
    } catch (const run_stop& stop) {
        expect(stop.status == 1, "stop with a status other than 1");
        expect(!stop.message.empty() && stop.message.find('\n') == std::string::npos, "stop message not one line");
    }
    s.console.flush();
    if (!name.empty()) ::unlink(name.c_str());
    return 0;
}
