#include "shlversion.h"

#include <mutex>
#include <string>
#include <strings.h>

namespace {

constexpr std::uint64_t kVersion6 = (std::uint64_t{0x00060000} << 32) | 0x0A280000;  // 6.0.2600.0

struct Facts {
    std::mutex mutex;
    ShellPlatformVersion platform;
    std::uint64_t comctl32 = kVersion6;
    std::uint64_t shell32 = kVersion6;
};

Facts& TheFacts()
{
    static Facts facts;
    return facts;
}

} // namespace

ShellPlatformVersion ShellGetPlatformVersion()
{
    auto& f = TheFacts();
    std::lock_guard lock(f.mutex);
    return f.platform;
}

void ShellSetPlatformVersionForTest(const ShellPlatformVersion& version)
{
    auto& f = TheFacts();
    std::lock_guard lock(f.mutex);
    f.platform = version;
}

bool ShellGetModuleFileVersion(const char* moduleName, std::uint64_t& version)
{
    auto& f = TheFacts();
    std::lock_guard lock(f.mutex);
    version = 0;
    if (!moduleName)
        return false;
    if (strcasecmp(moduleName, "comctl32.dll") == 0)
        version = f.comctl32;
    else if (strcasecmp(moduleName, "shell32.dll") == 0)
        version = f.shell32;
    return version != 0;
}

void ShellSetModuleFileVersionForTest(const char* moduleName, std::uint64_t version)
{
    auto& f = TheFacts();
    std::lock_guard lock(f.mutex);
    if (strcasecmp(moduleName, "comctl32.dll") == 0)
        f.comctl32 = version;
    else if (strcasecmp(moduleName, "shell32.dll") == 0)
        f.shell32 = version;
}

void ShellResetVersionsForTest()
{
    auto& f = TheFacts();
    std::lock_guard lock(f.mutex);
    f.platform = ShellPlatformVersion{};
    f.comctl32 = kVersion6;
    f.shell32 = kVersion6;
}
