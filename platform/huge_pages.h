// Large arrays are filled once, front to back. Page by page, every 4 KiB costs
// a page fault, and on virtual machines the faults alone can take longer than
// reading the file; huge pages and populating a range in one call cut them.
// Both are hints: memory that cannot take them is left as it is.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace ulv {

inline void adviseHugePages([[maybe_unused]] const void* data, [[maybe_unused]] std::size_t size,
                            [[maybe_unused]] bool populate = false) {
#if defined(__linux__)
    constexpr std::uintptr_t pageSize = 4096;
    if (size < 16 * pageSize)
        return;
    const auto start = (reinterpret_cast<std::uintptr_t>(data) + pageSize - 1) & ~(pageSize - 1);
    const auto end = (reinterpret_cast<std::uintptr_t>(data) + size) & ~(pageSize - 1);
    void* range = reinterpret_cast<void*>(start);
#if defined(MADV_HUGEPAGE)
    if (size >= (std::size_t{2} << 20))
        ::madvise(range, end - start, MADV_HUGEPAGE);
#endif
    // MADV_POPULATE_WRITE: Linux 5.14 and later; older kernels refuse it.
    constexpr int populateWrite = 23;
    if (populate)
        ::madvise(range, end - start, populateWrite);
#endif
}

} // namespace ulv
