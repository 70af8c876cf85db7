#include "win/globalmem.h"

#include "win/memadvise.h"

#include <cstdlib>
#include <cstring>
#include <limits>

namespace {

// The block's size lives in front of its bytes; the handle points at it.
struct alignas(std::max_align_t) BlockHeader {
    SIZE_T size;
};

BlockHeader* HeaderOf(HGLOBAL mem) { return static_cast<BlockHeader*>(mem); }

} // namespace

HGLOBAL GlobalAlloc(UINT flags, SIZE_T bytes)
{
    if (bytes > std::numeric_limits<SIZE_T>::max() - sizeof(BlockHeader)) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    const SIZE_T total = sizeof(BlockHeader) + bytes;
    void* p = (flags & GMEM_ZEROINIT) ? std::calloc(1, total) : std::malloc(total);
    if (!p) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    // A large block is filled in one sweep (a rendering, a copy): huge
    // pages spare the kernel most of its faults.
    AdviseHugePages(p, total);
    HeaderOf(p)->size = bytes;
    return p;
}

HGLOBAL GlobalReAlloc(HGLOBAL mem, SIZE_T bytes, UINT flags)
{
    if (!mem)
        return GlobalAlloc(flags, bytes);
    if (bytes > std::numeric_limits<SIZE_T>::max() - sizeof(BlockHeader)) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    const SIZE_T old = HeaderOf(mem)->size;
    void* p = std::realloc(mem, sizeof(BlockHeader) + bytes);
    if (!p) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    AdviseHugePages(p, sizeof(BlockHeader) + bytes);
    if ((flags & GMEM_ZEROINIT) && bytes > old)
        std::memset(static_cast<char*>(p) + sizeof(BlockHeader) + old, 0, bytes - old);
    HeaderOf(p)->size = bytes;
    return p;
}

void* GlobalLock(HGLOBAL mem) { return mem ? static_cast<void*>(HeaderOf(mem) + 1) : nullptr; }

BOOL GlobalUnlock(HGLOBAL) { return TRUE; }

SIZE_T GlobalSize(HGLOBAL mem) { return mem ? HeaderOf(mem)->size : 0; }

HGLOBAL GlobalFree(HGLOBAL mem)
{
    std::free(mem);
    return nullptr;
}
