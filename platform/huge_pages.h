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
#if defined(__GLIBC__)
#include <malloc.h>
#include <unistd.h>
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

// Many arrays of less than 2 MiB each (a section's) are as costly to fault in
// as one large one: the heap they come from gets huge pages too, as glibc's
// tunable glibc.malloc.hugetlb=1 would give it. Arrays up to 32 MiB come
// from the heap, which grows 64 MiB at a time so that most of it lies in
// whole 2 MiB pages; the part of the heap marked grows with it. Not under
// the sanitizers, which have heaps of their own.
inline void useHugePagesForTheHeap() {
#if defined(__GLIBC__) && defined(MADV_HUGEPAGE) && !defined(__SANITIZE_ADDRESS__) &&              \
    !defined(__SANITIZE_THREAD__)
    ::mallopt(M_MMAP_THRESHOLD, 32 << 20);
    ::mallopt(M_TOP_PAD, 64 << 20);
    ::mallopt(M_TRIM_THRESHOLD, 128 << 20);
    void* first = ::malloc(1); // makes the heap, if nothing has yet
    constexpr std::uintptr_t pageSize = 4096;
    const auto top = reinterpret_cast<std::uintptr_t>(::sbrk(0));
    if (first && top > pageSize)
        ::madvise(reinterpret_cast<void*>((top - 1) & ~(pageSize - 1)), pageSize, MADV_HUGEPAGE);
    ::free(first);
#endif
}

} // namespace ulv
