// A row's byte classes against a template's, one byte at a time.
#pragma once

namespace p2k::numbers {

// The class of a byte: digits as '0', '+' as '-', all others as they are.
inline char byte_class(char c) {
    if (c >= '0' && c <= '9') return '0';
    return c == '+' ? '-' : c;
}

// Every byte up to the line end in the class the template has there, or in its alternative.
inline bool matches_classes(const row_template& t, const char* p) {
    for (uint32_t i = 0; i < t.length; ++i) {
        const char c = byte_class(p[i]);
        if (c != t.classes[i] && c != t.alternative[i]) return false;
    }
    return true;
}

}  // namespace p2k::numbers
