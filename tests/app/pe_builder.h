// Builds small PE32 and PE32+ images in memory: one section ".rdata" that
// holds an export directory (three slots: a named function, an empty slot,
// a function reached only by ordinal) and one import descriptor for
// "kernel32.dll" (one import by name, one by ordinal 0x10).
#pragma once

#include <cstdint>
#include <cstring>
#include <string>

struct PEBuilder {
    // File layout: headers up to 0x200, the section's raw data 0x200..0x400
    // at relative address 0x1000.
    static std::string Build(bool plus)
    {
        std::string f(0x400, '\0');
        auto u16 = [&](size_t at, std::uint16_t v) { std::memcpy(&f[at], &v, 2); };
        auto u32 = [&](size_t at, std::uint32_t v) { std::memcpy(&f[at], &v, 4); };
        auto u64 = [&](size_t at, std::uint64_t v) { std::memcpy(&f[at], &v, 8); };
        auto str = [&](size_t at, const char* s) { std::memcpy(&f[at], s, std::strlen(s)); };
        auto raw = [](std::uint32_t rva) { return size_t {rva - 0x1000u + 0x200u}; };

        str(0, "MZ");
        u32(60, 0x40);
        str(0x40, "PE");
        const size_t fh = 0x44;
        u16(fh, plus ? 0x8664 : 0x14C);
        u16(fh + 2, 1);
        u32(fh + 4, 0x12345678);
        u16(fh + 16, plus ? 0xF0 : 0xE0);
        u16(fh + 18, 0x2102);
        const size_t oh = 0x58;
        u16(oh, plus ? 0x20B : 0x10B);
        u32(oh + 16, 0x1010);
        u32(oh + 20, 0x1000);
        if (plus) {
            u64(oh + 24, 0x140000000ull);
        } else {
            u32(oh + 24, 0x2000);
            u32(oh + 28, 0x10000000);
        }
        u32(oh + 32, 0x1000);
        u32(oh + 36, 0x200);
        u32(oh + 56, 0x2000);
        u32(oh + 60, 0x200);
        u32(oh + 64, 0);
        u16(oh + 68, 2);
        u16(oh + 70, 0x40);
        const size_t dd = oh + (plus ? 112 : 96);
        u32(dd - 4, 16);
        u32(dd, 0x1000);      // export
        u32(dd + 4, 0x40);
        u32(dd + 8, 0x1080);  // import
        u32(dd + 12, 0x28);
        const size_t sh = oh + (plus ? 0xF0 : 0xE0);
        str(sh, ".rdata");
        u32(sh + 8, 0x200);
        u32(sh + 12, 0x1000);
        u32(sh + 16, 0x200);
        u32(sh + 20, 0x200);
        u32(sh + 36, 0x40000040);

        // Export directory.
        const size_t ed = raw(0x1000);
        u32(ed + 12, 0x1100);
        u32(ed + 16, 1);
        u32(ed + 20, 3);
        u32(ed + 24, 1);
        u32(ed + 28, 0x1040);
        u32(ed + 32, 0x1050);
        u32(ed + 36, 0x1060);
        u32(raw(0x1040), 0x1010);
        u32(raw(0x1040) + 4, 0);
        u32(raw(0x1040) + 8, 0x1020);
        u32(raw(0x1050), 0x1110);
        u16(raw(0x1060), 0);
        str(raw(0x1100), "test.dll");
        str(raw(0x1110), "FuncA");

        // Import descriptor, then the zero descriptor that ends the list.
        const size_t id = raw(0x1080);
        u32(id, 0x10C0);
        u32(id + 12, 0x1120);
        u32(id + 16, 0x10E0);
        for (std::uint32_t table : {0x10C0u, 0x10E0u}) {
            if (plus) {
                u64(raw(table), 0x1130);
                u64(raw(table) + 8, 0x8000000000000010ull);
            } else {
                u32(raw(table), 0x1130);
                u32(raw(table) + 4, 0x80000010);
            }
        }
        str(raw(0x1120), "kernel32.dll");
        u16(raw(0x1130), 5);
        str(raw(0x1130) + 2, "ExitProcess");
        return f;
    }
};
