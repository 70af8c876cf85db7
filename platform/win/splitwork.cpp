#include "win/splitwork.h"

#include <algorithm>
#include <cstring>
#include <system_error>
#include <thread>
#include <vector>

void SplitLargeWork(std::int64_t count, std::int64_t minSlice, std::int64_t align,
                    const std::function<void(std::int64_t begin, std::int64_t end)>& work)
{
    if (count <= 0)
        return;
    const std::int64_t threads = std::clamp<std::int64_t>(std::thread::hardware_concurrency(), 1, 4);
    const std::int64_t slices = std::clamp<std::int64_t>(count / std::max<std::int64_t>(minSlice, 1), 1, threads);
    align = std::max<std::int64_t>(align, 1);
    const std::int64_t step = (count / slices + align - 1) / align * align;
    if (slices <= 1 || step >= count) {
        work(0, count);
        return;
    }
    std::vector<std::thread> helpers;
    std::int64_t begin = step;
    try {
        for (; begin < count; begin += step)
            helpers.emplace_back(work, begin, std::min(count, begin + step));
    } catch (const std::system_error&) {
        if (begin < count)
            work(begin, count);
    }
    work(0, step);
    for (std::thread& t : helpers)
        t.join();
}

void CopyLargeBlock(void* dest, const void* source, std::size_t count)
{
    SplitLargeWork(static_cast<std::int64_t>(count), std::int64_t(4) << 20, 4096,
                   [dest, source](std::int64_t begin, std::int64_t end) {
                       std::memcpy(static_cast<char*>(dest) + begin, static_cast<const char*>(source) + begin,
                                   static_cast<std::size_t>(end - begin));
                   });
}
