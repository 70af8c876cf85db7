#include "win/memlimit.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <fstream>
#include <limits>

namespace {

constexpr std::uint64_t kNoLimit = std::numeric_limits<std::uint64_t>::max();

// A test's limit, or kNoLimit.
std::atomic<std::uint64_t> g_override{kNoLimit};

// The first number in a file, or kNoLimit when there is none ("max").
std::uint64_t NumberInFile(const char* path)
{
    std::ifstream in(path);
    unsigned long long value = 0;
    if (!(in >> value))
        return kNoLimit;
    return value;
}

// Physical memory, or the control group's limit when that is lower (cgroup
// v2, then v1, whose "no limit" is a number near 2^63).
std::uint64_t MachineMemory()
{
    const long pages = ::sysconf(_SC_PHYS_PAGES);
    const long pageSize = ::sysconf(_SC_PAGESIZE);
    std::uint64_t bytes = pages > 0 && pageSize > 0
                              ? static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(pageSize)
                              : kNoLimit;
    bytes = std::min(bytes, NumberInFile("/sys/fs/cgroup/memory.max"));
    bytes = std::min(bytes, NumberInFile("/sys/fs/cgroup/memory/memory.limit_in_bytes"));
    return bytes;
}

// What the process may still map: the lower of its address-space and data
// limits, less what it holds now.
std::uint64_t AddressSpaceLeft()
{
    std::uint64_t limit = kNoLimit;
    for (int resource : {RLIMIT_AS, RLIMIT_DATA}) {
        rlimit r{};
        if (::getrlimit(resource, &r) == 0 && r.rlim_cur != RLIM_INFINITY)
            limit = std::min<std::uint64_t>(limit, r.rlim_cur);
    }
    if (limit == kNoLimit)
        return kNoLimit;
    std::ifstream statm("/proc/self/statm");
    unsigned long long sizePages = 0;
    const long pageSize = ::sysconf(_SC_PAGESIZE);
    const std::uint64_t held = (statm >> sizePages) && pageSize > 0 ? sizePages * static_cast<std::uint64_t>(pageSize) : 0;
    return limit > held ? limit - held : 0;
}

std::string WithSize(const char* before, std::uint64_t width, std::uint64_t height, const char* after)
{
    char text[160];
    std::snprintf(text, sizeof text, "%s%llu x %llu%s", before, static_cast<unsigned long long>(width),
                  static_cast<unsigned long long>(height), after);
    return text;
}

}  // namespace

std::uint64_t PictureMemoryLimit()
{
    const std::uint64_t forced = g_override.load();
    if (forced != kNoLimit)
        return forced;
    static const std::uint64_t machine = MachineMemory();
    return std::min(machine / 2, AddressSpaceLeft());
}

bool PictureFitsInMemory(std::uint64_t bytes) { return bytes <= PictureMemoryLimit(); }

std::string PictureTooBigMessage(std::uint64_t width, std::uint64_t height)
{
    return WithSize("Picture of ", width, height, " pixels is too big for the memory of this computer");
}

std::string PictureDataMissingMessage(std::uint64_t width, std::uint64_t height)
{
    return WithSize("The file is too short for a picture of ", width, height, " pixels");
}

ScopedPictureMemoryLimit::ScopedPictureMemoryLimit(std::uint64_t bytes) : m_previous(g_override.exchange(bytes)) {}

ScopedPictureMemoryLimit::~ScopedPictureMemoryLimit() { g_override = m_previous; }
