#include "win/memadvise.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>

void AdviseHugePages(void* block, std::size_t bytes)
{
    if (!block || bytes < (std::size_t(8) << 20))
        return;
    // madvise takes whole pages: the pages that lie entirely inside the block.
    const auto page = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
    const auto start = reinterpret_cast<std::uintptr_t>(block);
    const std::uintptr_t begin = (start + page - 1) & ~(page - 1);
    const std::uintptr_t end = (start + bytes) & ~(page - 1);
    if (end > begin)
        ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
}
