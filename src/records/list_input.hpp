// Reads from text input: skipping a line, a whole line into a fixed-length text, and
// list-directed reads of 32-bit integers and 64-bit reals.
#pragma once

#include "records/numbers/read_row.hpp"
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

// Rows of four reals, the table's, read by their layout (records/numbers/read_row.hpp), which
// the table's reader keeps. read_row_list reads such a statement as read_list does, and when
// the row is read whole by the common rule, takes its layout into `layout` for the rows after it.
void read_row_list(line_source& in, const list_item (&items)[numbers::row_values], numbers::row_template& layout);

// A statement of four real items read by `layout`: true when the next line has that layout, its
// values from numbers::first_stored on in `values` and the line taken; false leaves the position
// as it was, for read_row_list.
inline bool read_row_by_layout(line_source& in, const numbers::row_template& layout, double (&values)[numbers::row_values]) {
    const char* const start = in.ahead();
    const size_t held = static_cast<size_t>(in.ahead_end() - start);
    if (held < layout.length || held + line_padding < numbers::row_span || !numbers::read_row(layout, start, values))
        return false;
    in.take_ahead(start + layout.length);
    return true;
}

}  // namespace p2k
