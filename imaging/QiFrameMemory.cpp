#include "QiFrameMemory.h"

#include <cstdlib>
#include <sys/mman.h>

namespace {
// From here on a block is mapped, not taken from the heap. Sanitizer builds
// keep every block on the heap, where their allocator guards its ends.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr size_t kMapFrom = ~size_t{0};
#else
constexpr size_t kMapFrom = size_t{1} << 20;
#endif
} // namespace

void *qiAllocFrameMemory(size_t bytes)
{
    if (bytes < kMapFrom)
        return std::calloc(bytes ? bytes : 1, 1);
    void *p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED)
        return nullptr;
#ifdef MADV_HUGEPAGE
    // Advice only: where the kernel has no huge pages the block still works.
    madvise(p, bytes, MADV_HUGEPAGE);
#endif
    return p;
}

void qiFreeFrameMemory(void *p, size_t bytes)
{
    if (!p)
        return;
    if (bytes < kMapFrom)
        std::free(p);
    else
        munmap(p, bytes);
}
