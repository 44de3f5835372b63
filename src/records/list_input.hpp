// Reads from text input: skipping a line, a whole line into a fixed-length text, and
// list-directed reads of 32-bit integers and 64-bit reals.
#pragma once

#include "records/text_input.hpp"

#include <cstdint>
#include <initializer_list>

namespace p2k {

struct list_item {
    enum class kind { integer, real } type;
    void* target;
};
inline list_item item(int32_t& v) { return {list_item::kind::integer, &v}; }
inline list_item item(double& v) { return {list_item::kind::real, &v}; }

// Consumes exactly one line, whatever it holds.
void skip_line(line_source& in);

// Consumes one line; its first `len` characters fill `out`, a shorter line is filled with blanks.
void read_fixed(line_source& in, char* out, size_t len);

// One list-directed read statement: begins on the next line, fills the items in order (values
// separated by commas, blanks, tabs or line ends; null values, r*c and r*, a slash ending the
// statement) and skips the rest of the line on which the last item was filled.
void read_list(line_source& in, const list_item* items, size_t count);
inline void read_list(line_source& in, std::initializer_list<list_item> items) {
    read_list(in, items.begin(), items.size());
}

}  // namespace p2k
