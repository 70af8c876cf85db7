#include "win/memadvise.h"

#include <malloc.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <system_error>
#include <thread>

namespace {

constexpr std::size_t kLargeBlock = std::size_t(8) << 20;
constexpr std::size_t kMidBlock = std::size_t(64) << 10;

// madvise takes whole pages: the pages that lie entirely inside the block.
// False when there are none.
bool WholePages(void* block, std::size_t bytes, void*& begin, std::size_t& length)
{
    const auto page = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
    const auto start = reinterpret_cast<std::uintptr_t>(block);
    const std::uintptr_t first = (start + page - 1) & ~(page - 1);
    const std::uintptr_t end = (start + bytes) & ~(page - 1);
    if (end <= first)
        return false;
    begin = reinterpret_cast<void*>(first);
    length = end - first;
    return true;
}

}  // namespace

void AdviseHugePages(void* block, std::size_t bytes)
{
    void* begin = nullptr;
    std::size_t length = 0;
    if (block && bytes >= kLargeBlock && WholePages(block, bytes, begin, length))
        ::madvise(begin, length, MADV_HUGEPAGE);
}

void PopulateInBackground(void* block, std::size_t bytes)
{
    void* begin = nullptr;
    std::size_t length = 0;
    if (!block || bytes < kLargeBlock || !WholePages(block, bytes, begin, length))
        return;
    // A kernel without MADV_POPULATE_WRITE (before 5.14) answers EINVAL and
    // the pages fault in as they are filled, as they always did.
    try {
        std::thread([begin, length] { ::madvise(begin, length, MADV_POPULATE_WRITE); }).detach();
    } catch (const std::system_error&) {
    }
}

void PopulatePages(void* block, std::size_t bytes)
{
    void* begin = nullptr;
    std::size_t length = 0;
    // Without MADV_POPULATE_WRITE the call fails and the pages fault in as
    // they are filled.
    if (block && bytes >= kMidBlock && bytes < kLargeBlock && WholePages(block, bytes, begin, length))
        ::madvise(begin, length, MADV_POPULATE_WRITE);
}

void KeepFreedBlocksForReuse()
{
    // The values the allocator itself settles on once a block of 32 MB has
    // been freed, set from the start.
    ::mallopt(M_MMAP_THRESHOLD, 32 << 20);
    ::mallopt(M_TRIM_THRESHOLD, 64 << 20);
}
