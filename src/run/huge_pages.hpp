// Large static arrays in huge pages: a run writes megabytes of maps and 3D arrays once, and one
// fault per 2 MB costs far less than one per 4 KB.
#pragma once

#include <algorithm>
#include <cstddef>

namespace p2k {

// Asks the system to back the whole 2 MB pages inside [first, first + bytes) with huge pages.
// Only a hint: where the system declines, the memory works as before.
void prefer_huge_pages(void* first, size_t bytes);

// The same for the span from the first to the end of the last of the given objects, in whatever
// order they lie in memory (what lies between them is covered too).
template <typename... T>
void prefer_huge_pages_over(T&... objects) {
    char* const first = std::min({reinterpret_cast<char*>(&objects)...});
    char* const end = std::max({reinterpret_cast<char*>(&objects + 1)...});
    prefer_huge_pages(first, static_cast<size_t>(end - first));
}

}  // namespace p2k
