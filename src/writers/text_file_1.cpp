#include "records/list_output.hpp"
#include "writers/field_file_statements.hpp"
#include "writers/field_files.hpp"

namespace p2k {

void write_text_file_1(const run_state& s) {
    list_output unit7;
    write_nine_statements(s, unit7);
}

}  // namespace p2k
