#include "writers/write_output.hpp"

#include "records/failure.hpp"
#include "writers/field_files.hpp"

#include <cstring>
#include <string_view>

namespace p2k {

void name_output_file(run_state& s) {
    auto& name = s.out.field_file;
    name.fill(' ');
    std::memcpy(name.data(), "eh_EMS.#", 8);
    const int32_t k = s.control.kfile_num;
    if (k >= 0 && k <= 99) {
        name[8] = static_cast<char>('0' + k / 10);
        name[9] = static_cast<char>('0' + k % 10);
    } else {
        name[8] = name[9] = '*';
    }
}

void write_output(run_state& s) {
    name_output_file(s);
    const size_t name_len = 8;
    s.console.line(std::string_view("output field file name = "), std::string_view(s.out.field_file.data(), name_len + 2));
    s.out.k_s_EH = 0;
    s.out.kend_mark = -99;
    switch (s.control.kform_3D) {
    case 0: write_binary_file(s); break;
    case 1: write_text_file_1(s); break;
    case 2: write_text_file_2(s); break;
    default: throw run_stop(" Not a valid KAVRO 3D field format: use 0, 1 or 2 ", 1);
    }
}

}  // namespace p2k
