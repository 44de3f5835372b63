#include "records/record_output.hpp"
#include "writers/field_file_statements.hpp"
#include "writers/field_files.hpp"

namespace p2k {

void write_binary_file(const run_state& s) {
    record_output unit7;
    write_nine_statements(s, unit7);
}

}  // namespace p2k
