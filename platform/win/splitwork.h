// Large memory work shared among a few threads. Filling fresh memory costs
// the kernel a fault and a cleared page per page touched; a copy or a
// conversion into a large new block runs that cost on several cores.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

// Runs work over [0, count) in slices on up to four threads when the count
// is large (slices of at least minSlice), else at once on this thread. Every
// slice but the last starts and ends on a multiple of align. Where no thread
// can be had the rest runs on this thread.
void SplitLargeWork(std::int64_t count, std::int64_t minSlice, std::int64_t align,
                    const std::function<void(std::int64_t begin, std::int64_t end)>& work);

// memcpy that shares blocks of 8 MB and more among threads.
void CopyLargeBlock(void* dest, const void* source, std::size_t count);
