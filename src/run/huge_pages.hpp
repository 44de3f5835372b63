// Large static arrays in huge pages: a run writes megabytes of maps and 3D arrays once, and one
// fault per 2 MB costs far less than one per 4 KB.
#pragma once

#include <cstddef>

namespace p2k {

// Asks the system to back the whole 2 MB pages inside [first, first + bytes) with huge pages.
// Only a hint: where the system declines, the memory works as before.
void prefer_huge_pages(void* first, size_t bytes);

}  // namespace p2k
