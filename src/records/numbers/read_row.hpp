// Rows of four reals read by their layout: a row that the scan read whole gives a template, the
// classes of its bytes (digit, blank, point, exponent letter and sign, line end) and the columns
// of its values; a later row whose classes match it byte for byte, checked over the whole row at
// once, has its values at the same columns and the shape of the scan already proven, so that they
// are only combined, the four together. The table rows of the field solver are written by a fixed
// format and match the template of the first.
#pragma once

#include "records/numbers/read_detail.hpp"

#include <cstddef>
#include <cstdint>
#include <span>

namespace p2k::numbers {

inline constexpr size_t row_span = 64;  // bytes a row with its line end fits in
inline constexpr size_t row_values = 4;
// The values before it are matched by their bytes only, which proves them values, and neither
// combined nor stored: the table's coordinates, of which its reader has no use.
inline constexpr size_t first_stored = 2;

struct row_template {
    // Where the row has no digit, the byte it holds, or its alternative: a blank and a '-'
    // swapped where a value may carry a sign or not, '+' and '-' both for an exponent's sign;
    // '0' where it has one, and 9 in digit_limit (0 elsewhere): a byte of the row less the class
    // byte, as an unsigned byte, is at most the limit exactly where it is a digit in a digit's
    // place or the class byte itself.
    alignas(16) char classes[row_span];
    alignas(16) char alternative[row_span];
    alignas(16) unsigned char digit_limit[row_span];
    uint64_t looked_at = 0;  // bits 0 .. LF; the bytes after the line end are not looked at
    uint32_t length = 0;     // the row's bytes, LF included; 0: no template
    // Per value: the 8 bytes that end with its last digit after the point, the lanes of them that
    // hold digits (all, or all but the point's where seven digits follow it), the weight of the
    // digit before the point (10^8 or 10^7) and that weight times '0'.
    alignas(16) uint64_t keep[row_values];
    alignas(16) uint64_t lead[row_values];
    alignas(16) uint64_t lead_zeros[row_values];
    uint8_t fraction[row_values];
    uint8_t digit[row_values];     // the digit before the point
    uint8_t exponent[row_values];  // the exponent letter
    uint8_t sign[row_values];      // the column that holds '-' for a negative value
    // Of the last digit, before the exponent (-8 or -7), plus max_exact_pow10: the exponent added
    // gives the index into detail::scale_pairs.
    alignas(16) int32_t scale_at[row_values];
};

// Takes the row at p, four values in the solver's shape separated by blanks, its LF at lf, as
// the template; leaves it without one when the row does not fit that description.
void learn_row(row_template& t, const char* p, const char* lf);

}  // namespace p2k::numbers

#if defined(__SSE2__) && !defined(P2K_PORTABLE_DIGITS)
#include "records/numbers/read_row_sse2.hpp"
#else
#include "records/numbers/read_row_portable.hpp"
#endif

namespace p2k::numbers {

// The byte classes of a row are checked by one of these, each giving the same answer: the
// baseline (SSE2, or the portable code), or with AVX2 where the processor has it.
enum class row_path { baseline, avx2 };
// The paths this processor runs, the baseline first; the rows are read by the last of them,
// chosen once at start.
std::span<const row_path> row_paths();
extern const row_path chosen_row_path;

#if defined(__SSE2__) && !defined(P2K_PORTABLE_DIGITS) && defined(__x86_64__) && defined(__GNUC__)
#define P2K_ROW_AVX2 1
// matches_classes 32 bytes at a time (read_row_avx2.cpp); only where row_paths() offers it.
bool matches_classes_avx2(const row_template& t, const char* p);
#endif

// The values of the row at p from value first_stored on into out[first_stored ..], when the row
// has the template's layout: true, and the row ends at p + t.length. 64 bytes from p must be
// readable. The exponents of the values stored are checked for the range of one exact scaling
// before any of them is stored.
inline bool read_row_by(row_path path, const row_template& t, const char* p, double* out) {
    if (t.length == 0) return false;
#if defined(P2K_ROW_AVX2)
    if (path == row_path::avx2 ? !matches_classes_avx2(t, p) : !matches_classes(t, p)) return false;
#else
    (void)path;
    if (!matches_classes(t, p)) return false;
#endif
    return combine_values(t, p, out);
}
inline bool read_row(const row_template& t, const char* p, double* out) {
    return read_row_by(chosen_row_path, t, p, out);
}

}  // namespace p2k::numbers
