// Layout of the parts read here (offsets in bytes, little-endian):
//
//   DOS header        0  "MZ"           60  e_lfanew: offset of the NT headers
//   NT headers        0  "PE\0\0"        4  file header (20 bytes)
//   file header       0  Machine (16)    2  NumberOfSections (16)
//                     4  TimeDateStamp   8  PointerToSymbolTable
//                    12  NumberOfSymbols 16 SizeOfOptionalHeader (16)
//                    18  Characteristics (16)
//   optional header   0  Magic (0x10B PE32, 0x20B PE32+)
//                    16  AddressOfEntryPoint  20 BaseOfCode
//                    24  BaseOfData (PE32 only; PE32+ has a 64-bit ImageBase here)
//                    28  ImageBase (PE32)
//                    32  SectionAlignment 36 FileAlignment  56 SizeOfImage
//                    60  SizeOfHeaders   64 CheckSum  68 Subsystem (16)
//                    70  DllCharacteristics (16)
//                    96  data directory (PE32), 112 (PE32+): 16 x {RVA, Size}
//   section header    0  Name[8]  8 VirtualSize  12 VirtualAddress
//                    16  SizeOfRawData  20 PointerToRawData  36 Characteristics
//   export directory  0  Characteristics  4 TimeDateStamp  12 Name  16 Base
//                    20  NumberOfFunctions  24 NumberOfNames
//                    28  AddressOfFunctions 32 AddressOfNames 36 AddressOfNameOrdinals
//   import descriptor 0  OriginalFirstThunk 4 TimeDateStamp 8 ForwarderChain
//                    12  Name  16 FirstThunk  (20 bytes; a zero FirstThunk ends the list)
//
// Every read goes through PEView, which answers "absent" for anything that
// does not lie wholly inside the mapped file.
#include "pereport.h"

#include "win/filemap.h"

#include "rtl/sysutils.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace {

const std::string kRule(89, '-');

constexpr std::uint16_t kMagicPE32 = 0x10B;
constexpr std::uint16_t kMagicPE32Plus = 0x20B;
constexpr std::uint32_t kFileHeaderSize = 20;
constexpr std::uint32_t kSectionHeaderSize = 40;
constexpr std::uint32_t kExportDirectorySize = 40;
constexpr std::uint32_t kImportDescriptorSize = 20;
constexpr int kDirectoryEntries = 16;

std::string Hex8(std::uint64_t v) { return Format("%08llX", static_cast<unsigned long long>(v)); }
std::string Hex4(std::uint64_t v) { return Format("%04llX", static_cast<unsigned long long>(v)); }

// Bounded reads over the mapped file.
class PEView {
public:
    PEView(const std::uint8_t* base, std::size_t size) : m_base(base), m_size(size) {}

    bool Has(std::uint64_t offset, std::uint64_t count) const
    {
        return offset <= m_size && count <= m_size - offset;
    }
    std::optional<std::uint8_t> U8(std::uint64_t offset) const
    {
        if (!Has(offset, 1))
            return std::nullopt;
        return m_base[offset];
    }
    std::optional<std::uint16_t> U16(std::uint64_t offset) const
    {
        if (!Has(offset, 2))
            return std::nullopt;
        return static_cast<std::uint16_t>(m_base[offset] | (m_base[offset + 1] << 8));
    }
    std::optional<std::uint32_t> U32(std::uint64_t offset) const
    {
        if (!Has(offset, 4))
            return std::nullopt;
        return static_cast<std::uint32_t>(m_base[offset]) | (static_cast<std::uint32_t>(m_base[offset + 1]) << 8)
            | (static_cast<std::uint32_t>(m_base[offset + 2]) << 16)
            | (static_cast<std::uint32_t>(m_base[offset + 3]) << 24);
    }
    std::optional<std::uint64_t> U64(std::uint64_t offset) const
    {
        const auto lo = U32(offset);
        const auto hi = U32(offset + 4);
        if (!lo || !hi)
            return std::nullopt;
        return *lo | (static_cast<std::uint64_t>(*hi) << 32);
    }
    // The zero-terminated text at offset, cut at the end of the file (and
    // after at most maxLength characters).
    std::string CStr(std::uint64_t offset, std::size_t maxLength = 4096) const
    {
        std::string s;
        while (offset < m_size && s.size() < maxLength && m_base[offset] != 0)
            s += static_cast<char>(m_base[offset++]);
        return s;
    }

private:
    const std::uint8_t* m_base;
    std::size_t m_size;
};

struct Section {
    std::string Name;
    std::uint32_t VirtualSize = 0, VirtualAddress = 0, SizeOfRawData = 0, PointerToRawData = 0,
                  Characteristics = 0;
};

// The headers found in one file; each part is absent when it does not lie in the file.
class PEImage {
public:
    explicit PEImage(const PEView& view) : v(view)
    {
        if (v.U16(0) != std::uint16_t {0x5A4D})
            return;
        const auto lfanew = v.U32(60);
        if (!lfanew || v.U32(*lfanew) != std::uint32_t {0x00004550})
            return;
        isPE = true;
        nt = *lfanew;
        fileHeader = v.Has(nt + 4, kFileHeaderSize);
        if (!fileHeader)
            return;
        numberOfSections = *v.U16(nt + 6);
        sizeOfOptionalHeader = *v.U16(nt + 20);
        optional = nt + 24;
        magic = v.U16(optional).value_or(0);
        plus = magic == kMagicPE32Plus;
        directoryOffset = optional + (plus ? 112 : 96);
        // The fields the report prints must all be in the file.
        optionalHeader = v.Has(optional, 72);
        for (std::uint32_t i = 0; i < numberOfSections; ++i) {
            const std::uint64_t at = optional + sizeOfOptionalHeader + std::uint64_t {i} * kSectionHeaderSize;
            if (!v.Has(at, kSectionHeaderSize)) {
                sectionsCut = true;
                break;
            }
            Section s;
            for (int k = 0; k < 8; ++k) {
                const char c = static_cast<char>(*v.U8(at + k));
                if (c == 0)
                    break;
                s.Name += c;
            }
            s.VirtualSize = *v.U32(at + 8);
            s.VirtualAddress = *v.U32(at + 12);
            s.SizeOfRawData = *v.U32(at + 16);
            s.PointerToRawData = *v.U32(at + 20);
            s.Characteristics = *v.U32(at + 36);
            sections.push_back(std::move(s));
        }
    }

    // The file offset of a relative address: inside the raw data of one
    // section, and inside the file.
    std::optional<std::uint64_t> RvaToOffset(std::uint64_t rva) const
    {
        for (const Section& s : sections) {
            if (rva >= s.VirtualAddress && rva < std::uint64_t {s.VirtualAddress} + s.SizeOfRawData) {
                const std::uint64_t offset = rva - s.VirtualAddress + s.PointerToRawData;
                if (!v.Has(offset, 1))
                    return std::nullopt;
                return offset;
            }
        }
        return std::nullopt;
    }

    std::optional<std::uint32_t> DirectoryField(int entry, int field) const
    {
        return v.U32(directoryOffset + std::uint64_t(entry) * 8 + std::uint64_t(field) * 4);
    }

    // The offset of directory entry n's data, when its address is set and maps.
    std::optional<std::uint64_t> DataDirectory(int entry) const
    {
        if (!optionalHeader)
            return std::nullopt;
        const auto rva = DirectoryField(entry, 0);
        if (!rva || *rva == 0)
            return std::nullopt;
        return RvaToOffset(*rva);
    }

    const PEView& v;
    bool isPE = false;
    bool fileHeader = false;
    bool optionalHeader = false;
    bool plus = false;
    bool sectionsCut = false;
    std::uint16_t magic = 0;
    std::uint64_t nt = 0, optional = 0, directoryOffset = 0;
    std::uint16_t numberOfSections = 0, sizeOfOptionalHeader = 0;
    std::vector<Section> sections;
};

void ListFileHeader(const PEImage& pe, TStringList& lines)
{
    lines.Add(" ");
    if (!pe.fileHeader) {
        lines.Add("Unable to get FileHeaderInfo!");
        lines.Add(kRule);
        return;
    }
    lines.Add("FileHeaderInfo");
    lines.Add(kRule);
    const std::uint64_t f = pe.nt + 4;
    lines.Add("Machine:             \t" + Hex4(*pe.v.U16(f)));
    lines.Add("NumberOfSections:    \t" + Hex4(*pe.v.U16(f + 2)));
    lines.Add("TimeDateStamp:       \t" + Hex8(*pe.v.U32(f + 4)));
    lines.Add("PointerToSymbolTable:\t" + Hex8(*pe.v.U32(f + 8)));
    lines.Add("NumberOfSymbols:     \t" + Hex8(*pe.v.U32(f + 12)));
    lines.Add("SizeOfOptionalHeader:\t" + Hex4(*pe.v.U16(f + 16)));
    lines.Add("Characteristics:     \t" + Hex4(*pe.v.U16(f + 18)));
}

void ListOptionalHeader(const PEImage& pe, TStringList& lines)
{
    if (!pe.optionalHeader) {
        lines.Add(" ");
        lines.Add("Unable to get OptionHeaderInfo!");
        lines.Add(kRule);
        return;
    }
    lines.Add("  ");
    lines.Add("OptionHeaderInfo");
    lines.Add(kRule);
    const std::uint64_t o = pe.optional;
    const PEView& v = pe.v;
    lines.Add("AddressOfEntryPoint:\t" + Hex8(*v.U32(o + 16)));
    // PE32+ keeps a 64-bit image base where PE32 has BaseOfData and ImageBase.
    lines.Add("ImageBase:          \t" + Hex8(pe.plus ? *v.U64(o + 24) : *v.U32(o + 28)));
    lines.Add("BaseOfCode:         \t" + Hex8(*v.U32(o + 20)));
    lines.Add("BaseOfData:         \t" + (pe.plus ? std::string("-") : Hex8(*v.U32(o + 24))));
    lines.Add("SizeOfImage:        \t" + Hex8(*v.U32(o + 56)));
    lines.Add("SizeOfHeaders:      \t" + Hex8(*v.U32(o + 60)));
    lines.Add("SectionAlignment:   \t" + Hex8(*v.U32(o + 32)));
    lines.Add("FileAlignment:      \t" + Hex8(*v.U32(o + 36)));
    lines.Add("Subsystem:          \t" + Hex8(*v.U16(o + 68)));
    lines.Add("CheckSum:           \t" + Hex4(*v.U32(o + 64)));
    lines.Add("DllCharacteristics: \t" + Hex4(*v.U16(o + 70)));
}

void ListSectionTable(const PEImage& pe, TStringList& lines)
{
    if (!pe.fileHeader)
        return;
    lines.Add(" ");
    lines.Add("Section Table");
    lines.Add(kRule);
    lines.Add("Name    \tVAddress\tVSize   \tROffset \tRSize   \tFlags\t");
    for (const Section& s : pe.sections)
        lines.Add(s.Name + "\t\t" + Hex8(s.VirtualAddress) + "\t" + Hex8(s.VirtualSize) + "\t" + Hex8(s.PointerToRawData)
            + "\t" + Hex8(s.SizeOfRawData) + "\t" + Hex8(s.Characteristics) + "\t");
    if (pe.sectionsCut)
        lines.Add("(The section table runs past the end of the file.)");
}

void ListDataDirectory(const PEImage& pe, TStringList& lines)
{
    if (!pe.optionalHeader)
        return;
    lines.Add(" ");
    lines.Add("Data Directory");
    lines.Add(kRule);
    lines.Add("Name\tExpTable\tImpTable\tResource\tException\tSecurity\tRelotion\tDebug\t\tCopyright\tGlobalptr\t"
              "TlsTable\tLoadconfig\tIAT\t\tBoundImport\tCOM\t\tDelayImport\tNoUse\t");
    for (int field = 0; field < 2; ++field) {
        std::string line = field == 0 ? "RVA\t" : "Size\t";
        for (int i = 0; i < kDirectoryEntries; ++i) {
            const auto value = pe.DirectoryField(i, field);
            line += (value ? Hex8(*value) : std::string("-")) + "\t";
        }
        lines.Add(line);
    }
}

std::optional<std::uint64_t> ExportDirectory(const PEImage& pe)
{
    const auto at = pe.DataDirectory(0);
    if (!at || !pe.v.Has(*at, kExportDirectorySize))
        return std::nullopt;
    return at;
}

void ListExportDirectory(const PEImage& pe, TStringList& lines)
{
    const auto e = ExportDirectory(pe);
    lines.Add(" ");
    if (!e) {
        lines.Add("Can't get Export Directory!");
        lines.Add(kRule);
        return;
    }
    const PEView& v = pe.v;
    lines.Add("Export Dir Table");
    lines.Add(kRule);
    lines.Add("Characteristics:      \t" + Hex8(*v.U32(*e)));
    lines.Add("TimeDateStamp:        \t" + Hex8(*v.U32(*e + 4)));
    lines.Add("Base:                 \t" + Hex8(*v.U32(*e + 16)));
    lines.Add("Name:                 \t" + Hex8(*v.U32(*e + 12)));
    lines.Add("NumberOfFunctions:    \t" + Hex8(*v.U32(*e + 20)));
    lines.Add("NumberOfNames:        \t" + Hex8(*v.U32(*e + 24)));
    lines.Add("AddressOfFunctions:   \t" + Hex8(*v.U32(*e + 28)));
    lines.Add("AddressOfNames:       \t" + Hex8(*v.U32(*e + 32)));
    lines.Add("AddressOfNameOrdinals:\t" + Hex8(*v.U32(*e + 36)));
    const auto name = pe.RvaToOffset(*v.U32(*e + 12));
    lines.Add("DllName:              \t" + (name ? v.CStr(*name) : std::string()));
}

void ListExportFunctions(const PEImage& pe, TStringList& lines)
{
    const auto e = ExportDirectory(pe);
    if (!e)
        return;
    const PEView& v = pe.v;
    const auto functions = pe.RvaToOffset(*v.U32(*e + 28));
    if (!functions)
        return;
    const std::uint32_t base = *v.U32(*e + 16);
    const std::uint32_t numberOfFunctions = *v.U32(*e + 20);
    const std::uint32_t numberOfNames = *v.U32(*e + 24);
    const auto names = pe.RvaToOffset(*v.U32(*e + 32));
    const auto ordinals = pe.RvaToOffset(*v.U32(*e + 36));

    lines.Add(" ");
    lines.Add("Export Functions Table");
    lines.Add(kRule);
    lines.Add("Ordinal \tRVA     \tFunctionName");

    // Only the entries that lie in the file count; the first name-ordinal
    // entry that names a function gives its name.
    std::uint64_t functionCount = 0;
    while (functionCount < numberOfFunctions && v.Has(*functions + functionCount * 4, 4))
        ++functionCount;
    std::vector<std::int64_t> nameIndex(functionCount, -1);
    if (names && ordinals) {
        for (std::uint64_t k = 0; k < numberOfNames; ++k) {
            const auto ordinal = v.U16(*ordinals + k * 2);
            if (!ordinal)
                break;
            if (*ordinal < functionCount && nameIndex[*ordinal] < 0)
                nameIndex[*ordinal] = static_cast<std::int64_t>(k);
        }
    }
    for (std::uint64_t i = 0; i < functionCount; ++i) {
        const std::uint32_t address = *v.U32(*functions + i * 4);
        if (address == 0) {
            lines.Add("");
            continue;
        }
        std::string name = "-";
        if (nameIndex[i] >= 0) {
            const auto nameRva = v.U32(*names + static_cast<std::uint64_t>(nameIndex[i]) * 4);
            const auto nameAt = nameRva ? pe.RvaToOffset(*nameRva) : std::nullopt;
            name = nameAt ? v.CStr(*nameAt) : std::string("-");
        }
        lines.Add(Hex4(std::uint64_t {base} + i) + "    \t" + Hex8(address) + "\t" + name + "\t");
    }
    if (functionCount < numberOfFunctions)
        lines.Add("(The function table runs past the end of the file.)");
}

void ListImportThunks(const PEImage& pe, TStringList& lines, std::uint64_t descriptor)
{
    const PEView& v = pe.v;
    std::uint32_t tableRva = *v.U32(descriptor);
    if (tableRva == 0)
        tableRva = *v.U32(descriptor + 16);
    const auto table = pe.RvaToOffset(tableRva);
    if (!table)
        return;
    lines.Add("\tThunkRVA\tThunkValue\tHint\tFunctionName\t");
    const std::uint64_t width = pe.plus ? 8 : 4;
    std::uint64_t thunkRva = tableRva;
    for (std::uint64_t at = *table;; at += width, thunkRva += width) {
        std::optional<std::uint64_t> value;
        if (pe.plus)
            value = v.U64(at);
        else if (const auto narrow = v.U32(at))
            value = *narrow;
        if (!value) {
            lines.Add("(The thunk table runs past the end of the file.)");
            break;
        }
        if (*value == 0)
            break;
        const std::uint64_t thunk = *value;
        std::string hint = "-";
        std::string name;
        const bool byOrdinal = pe.plus ? (thunk >> 63) != 0 : (thunk >> 16) == 0x8000;
        if (byOrdinal) {
            name = "Ord:" + Hex8(thunk & 0xFFFF);
        } else if (const auto entry = pe.RvaToOffset(pe.plus ? (thunk & 0x7FFFFFFF) : thunk);
                   entry && v.Has(*entry, 2)) {
            hint = Hex4(*v.U16(*entry));
            name = v.CStr(*entry + 2);
        } else {
            name = "MemAddr:" + Hex8(thunk);
        }
        lines.Add("\t" + Hex8(thunkRva) + "\t" + Hex8(thunk) + "\t" + hint + "\t" + name + "\t");
    }
}

void ListImportTable(const PEImage& pe, TStringList& lines)
{
    const auto first = pe.DataDirectory(1);
    lines.Add(" ");
    if (!first) {
        lines.Add("Can't get ImportDesc!");
        lines.Add(kRule);
        return;
    }
    const PEView& v = pe.v;
    lines.Add("Import Table");
    lines.Add(kRule);
    for (std::uint64_t at = *first;; at += kImportDescriptorSize) {
        if (!v.Has(at, kImportDescriptorSize)) {
            lines.Add("(The import table runs past the end of the file.)");
            break;
        }
        const std::uint32_t firstThunk = *v.U32(at + 16);
        if (firstThunk == 0)
            break;
        lines.Add("DllName     \tFirstThunk\tTimeStamp\tForwardChin\tName    \tFirstThunk");
        const auto name = pe.RvaToOffset(*v.U32(at + 12));
        std::string line = (name ? v.CStr(*name) : std::string()) + "\t";
        for (int k = 0; k < 5; ++k)
            line += Hex8(*v.U32(at + 4 * k)) + "\t";
        lines.Add(line);
        lines.Add(" ");
        ListImportThunks(pe, lines, at);
        lines.Add(" ");
    }
}

} // namespace

void GetPEImageInfo(const std::uint8_t* data, std::size_t size, const std::string& path, TStringList& lines)
{
    const PEView view(data, size);
    const PEImage pe(view);
    if (!pe.isPE) {
        lines.Add("The file is not a PE file!");
        return;
    }
    lines.Add("PE FORMAT FILE INFOMATION OF " + path);
    lines.Add(kRule);
    ListFileHeader(pe, lines);
    ListOptionalHeader(pe, lines);
    ListSectionTable(pe, lines);
    ListDataDirectory(pe, lines);
    ListExportDirectory(pe, lines);
    ListExportFunctions(pe, lines);
    ListImportTable(pe, lines);
}

void GetPEFileInfo(const std::string& path, TStringList& lines)
{
    TFileView mapping;
    if (!MapFileReadOnly(path, mapping)) {
        lines.Add("Failed to load file!");
        return;
    }
    try {
        GetPEImageInfo(mapping.Base, mapping.Size, path, lines);
    } catch (...) {
        UnmapFile(mapping);
        throw;
    }
    UnmapFile(mapping);
}
