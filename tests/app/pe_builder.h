// Builds small PE32 and PE32+ images in memory. PEImageWriter lays out the
// headers and one section ".rdata" (relative address 0x1000, raw data from
// file offset 0x200) whose bytes the caller writes by relative address.
// PEBuilder::Build makes the ordinary image of the tests: an export
// directory (three slots: a named function, an empty slot, a function
// reached only by ordinal) and one import descriptor for "kernel32.dll" (one
// import by name, one by ordinal 0x10). PECrafted makes the damaged shapes
// that once made the report run away; the fuzz corpus holds their bytes.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>

class PEImageWriter {
public:
    static constexpr std::uint32_t kSectionRva = 0x1000;
    static constexpr std::uint32_t kSectionRaw = 0x200;

    PEImageWriter(bool plus, std::uint32_t sectionSize) : m_plus(plus), m_file(kSectionRaw + sectionSize, '\0')
    {
        Str(0, "MZ");
        Put32(60, 0x40);
        Str(0x40, "PE");
        const size_t fh = 0x44;
        Put16(fh, plus ? 0x8664 : 0x14C);
        Put16(fh + 2, 1);
        Put32(fh + 4, 0x12345678);
        Put16(fh + 16, plus ? 0xF0 : 0xE0);
        Put16(fh + 18, 0x2102);
        const size_t oh = 0x58;
        Put16(oh, plus ? 0x20B : 0x10B);
        Put32(oh + 16, 0x1010);
        Put32(oh + 20, 0x1000);
        if (plus) {
            Put64(oh + 24, 0x140000000ull);
        } else {
            Put32(oh + 24, 0x2000);
            Put32(oh + 28, 0x10000000);
        }
        Put32(oh + 32, 0x1000);
        Put32(oh + 36, 0x200);
        Put32(oh + 56, kSectionRva + ((sectionSize + 0xFFF) & ~0xFFFu));
        Put32(oh + 60, 0x200);
        Put16(oh + 68, 2);
        Put16(oh + 70, 0x40);
        Put32(DirectoryOffset() - 4, 16);
        const size_t sh = oh + (plus ? 0xF0 : 0xE0);
        Str(sh, ".rdata");
        Put32(sh + 8, sectionSize);
        Put32(sh + 12, kSectionRva);
        Put32(sh + 16, sectionSize);
        Put32(sh + 20, kSectionRaw);
        Put32(sh + 36, 0x40000040);
    }

    // Data directory entry n (0 exports, 1 imports).
    void Directory(int entry, std::uint32_t rva, std::uint32_t size)
    {
        Put32(DirectoryOffset() + 8 * static_cast<size_t>(entry), rva);
        Put32(DirectoryOffset() + 8 * static_cast<size_t>(entry) + 4, size);
    }
    // Writes into the section by relative address.
    void U16(std::uint32_t rva, std::uint16_t v) { Put16(Raw(rva), v); }
    void U32(std::uint32_t rva, std::uint32_t v) { Put32(Raw(rva), v); }
    void U64(std::uint32_t rva, std::uint64_t v) { Put64(Raw(rva), v); }
    // A thunk of the image's width.
    void Thunk(std::uint32_t rva, std::uint64_t v)
    {
        if (m_plus)
            U64(rva, v);
        else
            U32(rva, static_cast<std::uint32_t>(v));
    }
    void Text(std::uint32_t rva, const std::string& s) { std::memcpy(&m_file[Raw(rva)], s.data(), s.size()); }
    // A hint/name entry: the 16-bit hint, then the zero-terminated name.
    void HintName(std::uint32_t rva, std::uint16_t hint, const std::string& name)
    {
        U16(rva, hint);
        Text(rva + 2, name);
    }
    // The export directory at rva: the address of the library's name, the
    // first ordinal, the number of functions and of names, and the addresses
    // of the function, name and name-ordinal tables.
    void ExportDirectory(std::uint32_t rva, std::uint32_t name, std::uint32_t base, std::uint32_t functions,
        std::uint32_t names, std::uint32_t functionTable, std::uint32_t nameTable, std::uint32_t ordinalTable)
    {
        U32(rva + 12, name);
        U32(rva + 16, base);
        U32(rva + 20, functions);
        U32(rva + 24, names);
        U32(rva + 28, functionTable);
        U32(rva + 32, nameTable);
        U32(rva + 36, ordinalTable);
    }
    // An import descriptor.
    void Descriptor(std::uint32_t rva, std::uint32_t originalFirstThunk, std::uint32_t forwarderChain,
        std::uint32_t name, std::uint32_t firstThunk)
    {
        U32(rva, originalFirstThunk);
        U32(rva + 8, forwarderChain);
        U32(rva + 12, name);
        U32(rva + 16, firstThunk);
    }

    const std::string& Bytes() const { return m_file; }

private:
    size_t DirectoryOffset() const { return 0x58 + (m_plus ? 112 : 96); }
    static size_t Raw(std::uint32_t rva) { return size_t {rva - kSectionRva + kSectionRaw}; }
    void Put16(size_t at, std::uint16_t v) { std::memcpy(&m_file[at], &v, 2); }
    void Put32(size_t at, std::uint32_t v) { std::memcpy(&m_file[at], &v, 4); }
    void Put64(size_t at, std::uint64_t v) { std::memcpy(&m_file[at], &v, 8); }
    void Str(size_t at, const char* s) { std::memcpy(&m_file[at], s, std::strlen(s)); }

    bool m_plus;
    std::string m_file;
};

struct PEBuilder {
    // The section's raw data is 0x200..0x400 of the file.
    static std::string Build(bool plus)
    {
        PEImageWriter w(plus, 0x200);
        w.Directory(0, 0x1000, 0x40);
        w.Directory(1, 0x1080, 0x28);

        w.ExportDirectory(0x1000, 0x1100, 1, 3, 1, 0x1040, 0x1050, 0x1060);
        w.U32(0x1040, 0x1010);
        w.U32(0x1040 + 4, 0);
        w.U32(0x1040 + 8, 0x1020);
        w.U32(0x1050, 0x1110);
        w.U16(0x1060, 0);
        w.Text(0x1100, "test.dll");
        w.Text(0x1110, "FuncA");

        // Import descriptor, then the zero descriptor that ends the list.
        w.Descriptor(0x1080, 0x10C0, 0, 0x1120, 0x10E0);
        const std::uint64_t byOrdinal = plus ? 0x8000000000000010ull : 0x80000010ull;
        for (std::uint32_t table : {0x10C0u, 0x10E0u}) {
            w.Thunk(table, 0x1130);
            w.Thunk(table + (plus ? 8 : 4), byOrdinal);
        }
        w.Text(0x1120, "kernel32.dll");
        w.HintName(0x1130, 5, "ExitProcess");
        return w.Bytes();
    }
};

// Damaged shapes of the import and export tables, each as a PE32 image.
struct PECrafted {
    // One thunk table of `thunks` slots with no zero slot before the end of
    // the section, and `descriptors` descriptors, descriptor k naming the
    // table from slot k on: every table runs into the next. Listing each
    // descriptor's table in full made the report quadratic in the file size.
    static std::string OverlappingThunkTables(std::uint32_t descriptors, std::uint32_t thunks)
    {
        const std::uint32_t directory = 0x1000;
        const std::uint32_t name = directory + 20 * descriptors;
        const std::uint32_t hintName = name + 8;
        const std::uint32_t table = hintName + 16;
        PEImageWriter w(false, table - 0x1000 + 4 * thunks);
        w.Directory(1, directory, 20 * descriptors);
        for (std::uint32_t k = 0; k < descriptors; ++k)
            w.Descriptor(directory + 20 * k, table + 4 * k, 0, name, table + 4 * k);
        w.Text(name, "a.dll");
        w.HintName(hintName, 1, "Func");
        for (std::uint32_t k = 0; k < thunks; ++k)
            w.U32(table + 4 * k, hintName);
        return w.Bytes();
    }

    // An import directory `sizeInDescriptors` descriptors long, followed in
    // the section by more descriptors that are not zero: the walk must stop
    // at the directory's end, not run on to the next zero FirstThunk.
    static std::string DescriptorsPastTheDirectory(std::uint32_t sizeInDescriptors, std::uint32_t present)
    {
        const std::uint32_t directory = 0x1000;
        const std::uint32_t name = directory + 20 * (present + 1);
        const std::uint32_t hintName = name + 8;
        const std::uint32_t table = hintName + 16;
        PEImageWriter w(false, table - 0x1000 + 8 * present);
        w.Directory(1, directory, 20 * sizeInDescriptors);
        for (std::uint32_t k = 0; k < present; ++k) {
            w.Descriptor(directory + 20 * k, table + 8 * k, 0, name, table + 8 * k);
            w.U32(table + 8 * k, hintName);
        }
        w.Text(name, "b.dll");
        w.HintName(hintName, 2, "Call");
        return w.Bytes();
    }

    // Thunks whose values need reading by the image's width: 0x80010001 is an
    // import by ordinal 1 in PE32 (bit 31), not the address 0x80010001; a
    // descriptor with a forwarder chain of -1 (bound imports); and an export
    // forwarded to another library (its address lies inside the export
    // directory and names "NTDLL.RtlAllocateHeap").
    static std::string OrdinalsAndForwarders()
    {
        PEImageWriter w(false, 0x200);
        w.Directory(0, 0x1000, 0x80);
        w.Directory(1, 0x1100, 0x28);
        w.ExportDirectory(0x1000, 0x1060, 1, 1, 1, 0x1028, 0x102C, 0x1030);
        w.U32(0x1028, 0x1040);  // the forwarder text, inside the directory
        w.U32(0x102C, 0x1068);
        w.U16(0x1030, 0);
        w.Text(0x1040, "NTDLL.RtlAllocateHeap");
        w.Text(0x1060, "f.dll");
        w.Text(0x1068, "HeapAlloc");

        w.Descriptor(0x1100, 0x1140, 0xFFFFFFFFu, 0x1180, 0x1160);
        for (std::uint32_t table : {0x1140u, 0x1160u}) {
            w.U32(table, 0x80010001u);
            w.U32(table + 4, 0x1190);
            w.U32(table + 8, 0x8000FFFFu);
        }
        w.Text(0x1180, "user32.dll");
        w.HintName(0x1190, 7, "MessageBoxA");
        return w.Bytes();
    }

    // `thunks` imports that all name one hint/name entry with a name of 4000
    // characters: a report of some 4 KB a line that only its cap ends.
    static std::string LongNames(std::uint32_t thunks)
    {
        const std::uint32_t hintName = 0x1100;
        const std::uint32_t table = hintName + 4004;
        PEImageWriter w(false, table - 0x1000 + 4 * thunks + 4);
        w.Directory(1, 0x1000, 0x28);
        w.Descriptor(0x1000, table, 0, 0x1080, table);
        w.Text(0x1080, "long.dll");
        w.HintName(hintName, 3, std::string(4000, 'n'));
        for (std::uint32_t k = 0; k < thunks; ++k)
            w.U32(table + 4 * k, hintName);
        return w.Bytes();
    }
};
