// Version facts of the platform: the platform id and version, and the file
// versions of the common-controls and shell libraries. They answer the newest
// platform the system knows (NT 5.1, comctl32 and shell32 6.0); tests set
// other values to reach the older branches.
#pragma once

#include "win/wintypes.h"

#include <cstdint>

constexpr DWORD VER_PLATFORM_WIN32s = 0;
constexpr DWORD VER_PLATFORM_WIN32_WINDOWS = 1;
constexpr DWORD VER_PLATFORM_WIN32_NT = 2;

struct ShellPlatformVersion {
    DWORD platformId = VER_PLATFORM_WIN32_NT;
    DWORD majorVersion = 5;
    DWORD minorVersion = 1;
    DWORD buildNumber = 2600;
};

ShellPlatformVersion ShellGetPlatformVersion();
void ShellSetPlatformVersionForTest(const ShellPlatformVersion& version);

// The fixed file version of "comctl32.dll" or "shell32.dll" (high 32 bits:
// major << 16 | minor); false for any other module or one set as unreadable.
bool ShellGetModuleFileVersion(const char* moduleName, std::uint64_t& version);
// Sets a module's version for tests; 0 makes it unreadable. Reset restores the defaults.
void ShellSetModuleFileVersionForTest(const char* moduleName, std::uint64_t version);
void ShellResetVersionsForTest();
