// Large arrays are filled once, front to back. In small pages every 4 KiB
// costs a page fault, and on virtual machines that alone can take longer than
// reading the file; huge pages cut the faults 512-fold.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace ulv {

// A hint only: memory that cannot take huge pages is left as it is.
inline void adviseHugePages([[maybe_unused]] const void* data, [[maybe_unused]] std::size_t size) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    constexpr std::size_t hugePage = std::size_t{2} << 20;
    if (size < hugePage)
        return;
    const auto start = (reinterpret_cast<std::uintptr_t>(data) + 4095) & ~std::uintptr_t{4095};
    const auto end = (reinterpret_cast<std::uintptr_t>(data) + size) & ~std::uintptr_t{4095};
    if (end > start)
        ::madvise(reinterpret_cast<void*>(start), end - start, MADV_HUGEPAGE);
#endif
}

} // namespace ulv
