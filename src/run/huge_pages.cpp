#include "run/huge_pages.hpp"

#include <cstdint>
#include <sys/mman.h>

namespace p2k {

void prefer_huge_pages(void* first, size_t bytes) {
    constexpr uintptr_t huge = uintptr_t(1) << 21;
    const uintptr_t begin = (reinterpret_cast<uintptr_t>(first) + huge - 1) & ~(huge - 1);
    const uintptr_t end = (reinterpret_cast<uintptr_t>(first) + bytes) & ~(huge - 1);
#ifdef MADV_HUGEPAGE
    if (end > begin) ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#endif
}

}  // namespace p2k
