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
//   thunk             32 bits (PE32) or 64 bits (PE32+); the top bit set: import
//                     by ordinal (the low 16 bits), else the address of a
//                     16-bit hint and the zero-terminated name
//
// Every read goes through PEView, which answers "absent" for anything that
// does not lie wholly inside the file.
#include "pereport.h"

#include "rtl/filereader.h"

#include "rtl/sysutils.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <optional>
#include <set>
#include <unordered_set>
#include <vector>

namespace {

const std::string kRule(89, '-');

constexpr std::uint16_t kMagicPE32Plus = 0x20B;
constexpr std::uint32_t kFileHeaderSize = 20;
constexpr std::uint32_t kSectionHeaderSize = 40;
constexpr std::uint32_t kExportDirectorySize = 40;
constexpr std::uint32_t kImportDescriptorSize = 20;
constexpr int kDirectoryEntries = 16;

// A report stops growing past these: damaged tables can name millions of
// entries, each with a name of up to 4096 characters, while the largest real
// executables stay below (a DLL with 60,000 exports makes some 60,000 lines
// and 6 MB). The text view takes about half a second for a report this size.
constexpr int kMaxReportLines = 100000;
constexpr std::size_t kMaxReportBytes = 8u << 20;

std::string Hex8(std::uint64_t v) { return Format("%08llX", static_cast<unsigned long long>(v)); }
std::string Hex4(std::uint64_t v) { return Format("%04llX", static_cast<unsigned long long>(v)); }

// Bounded reads over the file: its bytes in memory, or the file itself read
// with pread in blocks as the report needs them. An executable may be
// gigabytes of appended data behind a few kilobytes of headers, and another
// program may cut it short while the report is made: a read past its new end
// raises EReadError, which ends the report with a line that says so.
class PEView {
public:
    PEView(const std::uint8_t* base, std::size_t size) : m_base(base), m_size(size) {}
    explicit PEView(const TFileReader& file) : m_file(&file), m_size(static_cast<std::uint64_t>(file.Size())) {}

    bool Has(std::uint64_t offset, std::uint64_t count) const
    {
        return offset <= m_size && count <= m_size - offset;
    }
    std::optional<std::uint8_t> U8(std::uint64_t offset) const
    {
        std::uint8_t b[1];
        if (!Get(offset, b, 1))
            return std::nullopt;
        return b[0];
    }
    std::optional<std::uint16_t> U16(std::uint64_t offset) const
    {
        std::uint8_t b[2];
        if (!Get(offset, b, 2))
            return std::nullopt;
        return static_cast<std::uint16_t>(b[0] | (b[1] << 8));
    }
    std::optional<std::uint32_t> U32(std::uint64_t offset) const
    {
        std::uint8_t b[4];
        if (!Get(offset, b, 4))
            return std::nullopt;
        return static_cast<std::uint32_t>(b[0]) | (static_cast<std::uint32_t>(b[1]) << 8)
            | (static_cast<std::uint32_t>(b[2]) << 16) | (static_cast<std::uint32_t>(b[3]) << 24);
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
        if (offset >= m_size)
            return {};
        const std::size_t room = static_cast<std::size_t>(std::min<std::uint64_t>(m_size - offset, maxLength));
        std::string text(room, '\0');
        Get(offset, text.data(), room);
        const std::size_t zero = text.find('\0');
        if (zero != std::string::npos)
            text.resize(zero);
        return text;
    }

private:
    static constexpr std::uint64_t kBlock = 64 * 1024;
    static constexpr std::size_t kCachedBlocks = 16;

    struct Block {
        std::uint64_t index = UINT64_MAX;
        std::uint64_t lastUse = 0;
        std::vector<std::uint8_t> bytes;
    };

    // Copies count bytes at offset into out; false when they do not all lie
    // inside the file.
    bool Get(std::uint64_t offset, void* out, std::size_t count) const
    {
        if (!Has(offset, count))
            return false;
        auto* to = static_cast<std::uint8_t*>(out);
        if (m_base) {
            std::memcpy(to, m_base + offset, count);
            return true;
        }
        while (count > 0) {
            const Block& block = Fetch(offset / kBlock);
            const std::size_t at = static_cast<std::size_t>(offset % kBlock);
            const std::size_t n = std::min(count, block.bytes.size() - at);
            std::memcpy(to, block.bytes.data() + at, n);
            to += n;
            offset += n;
            count -= n;
        }
        return true;
    }
    // The block of the file with this index, read on first use; the least
    // recently used block makes room.
    const Block& Fetch(std::uint64_t index) const
    {
        ++m_clock;
        Block* victim = nullptr;
        for (Block& b : m_cache) {
            if (b.index == index) {
                b.lastUse = m_clock;
                return b;
            }
            if (!victim || b.lastUse < victim->lastUse)
                victim = &b;
        }
        if (m_cache.size() < kCachedBlocks)
            victim = &m_cache.emplace_back();
        const std::uint64_t start = index * kBlock;
        victim->index = UINT64_MAX;
        victim->bytes.resize(static_cast<std::size_t>(std::min(kBlock, m_size - start)));
        m_file->ReadAt(static_cast<std::int64_t>(start), victim->bytes.data(), victim->bytes.size());
        victim->index = index;
        victim->lastUse = m_clock;
        return *victim;
    }

    const std::uint8_t* m_base = nullptr;
    const TFileReader* m_file = nullptr;
    std::uint64_t m_size;
    mutable std::vector<Block> m_cache;
    mutable std::uint64_t m_clock = 0;
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
        BuildPieces();
    }

    // The file offset of a relative address: inside the raw data of the
    // first section (in table order) that holds it, and inside the file.
    std::optional<std::uint64_t> RvaToOffset(std::uint64_t rva) const
    {
        const auto next = std::upper_bound(pieces.begin(), pieces.end(), rva,
            [](std::uint64_t a, const Piece& p) { return a < p.start; });
        if (next == pieces.begin())
            return std::nullopt;
        const Piece& piece = *(next - 1);
        if (rva >= piece.end)
            return std::nullopt;
        const Section& s = sections[piece.section];
        const std::uint64_t offset = rva - s.VirtualAddress + s.PointerToRawData;
        if (!v.Has(offset, 1))
            return std::nullopt;
        return offset;
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

    // A stretch of relative addresses and the section that answers for it.
    struct Piece {
        std::uint64_t start = 0, end = 0;
        std::size_t section = 0;
    };

    // Cuts the address space at every section's start and end and gives each
    // stretch to the first section in table order that covers it, so that a
    // lookup is one binary search: a report looks up an address per thunk,
    // and a file may declare 65,535 sections.
    void BuildPieces()
    {
        struct Edge {
            std::uint64_t at;
            bool opens;
            std::size_t section;
        };
        std::vector<Edge> edges;
        for (std::size_t i = 0; i < sections.size(); ++i) {
            const Section& s = sections[i];
            if (s.SizeOfRawData == 0)
                continue;
            edges.push_back({s.VirtualAddress, true, i});
            edges.push_back({std::uint64_t {s.VirtualAddress} + s.SizeOfRawData, false, i});
        }
        std::sort(edges.begin(), edges.end(), [](const Edge& a, const Edge& b) { return a.at < b.at; });
        std::set<std::size_t> open;
        for (std::size_t k = 0; k < edges.size();) {
            const std::uint64_t at = edges[k].at;
            for (; k < edges.size() && edges[k].at == at; ++k) {
                if (edges[k].opens)
                    open.insert(edges[k].section);
                else
                    open.erase(edges[k].section);
            }
            if (open.empty() || k == edges.size())
                continue;
            const std::size_t owner = *open.begin();
            if (!pieces.empty() && pieces.back().end == at && pieces.back().section == owner)
                pieces.back().end = edges[k].at;
            else
                pieces.push_back({at, edges[k].at, owner});
        }
    }

    const PEView& v;
    std::vector<Piece> pieces;
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

// The report's lines, cut when they grow past the limits above.
class ReportLines {
public:
    explicit ReportLines(TStringList& lines) : m_lines(lines) {}

    // Appends a line, or nothing once the report is full.
    void Add(std::string line)
    {
        if (m_full)
            return;
        if (m_count >= kMaxReportLines || m_bytes + line.size() > kMaxReportBytes) {
            m_full = true;
            return;
        }
        m_bytes += line.size() + 1;
        ++m_count;
        m_lines.Add(std::move(line));
    }
    bool Full() const { return m_full; }
    // Ends a report that was cut with a line that says so.
    void Finish()
    {
        if (m_full)
            m_lines.Add(Format("(The report was cut here: it runs past %d lines or %zu MB of text.)", kMaxReportLines,
                kMaxReportBytes >> 20));
    }

private:
    TStringList& m_lines;
    int m_count = 0;
    std::size_t m_bytes = 0;
    bool m_full = false;
};

void ListFileHeader(const PEImage& pe, ReportLines& lines)
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

void ListOptionalHeader(const PEImage& pe, ReportLines& lines)
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

void ListSectionTable(const PEImage& pe, ReportLines& lines)
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

void ListDataDirectory(const PEImage& pe, ReportLines& lines)
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

void ListExportDirectory(const PEImage& pe, ReportLines& lines)
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

void ListExportFunctions(const PEImage& pe, ReportLines& lines)
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

    // Only the entries that lie in the file count, and no more than a report
    // holds; the first name-ordinal entry that names a function gives its name.
    std::uint64_t functionCount = 0;
    while (functionCount < numberOfFunctions && functionCount <= kMaxReportLines
        && v.Has(*functions + functionCount * 4, 4))
        ++functionCount;
    const bool tableCut = functionCount < numberOfFunctions && functionCount <= kMaxReportLines;
    constexpr std::uint32_t kNoName = 0xFFFFFFFFu;
    std::vector<std::uint32_t> nameIndex(functionCount, kNoName);
    if (names && ordinals) {
        for (std::uint32_t k = 0; k < numberOfNames; ++k) {
            const auto ordinal = v.U16(*ordinals + std::uint64_t {k} * 2);
            if (!ordinal)
                break;
            if (*ordinal < functionCount && nameIndex[*ordinal] == kNoName)
                nameIndex[*ordinal] = k;
        }
    }
    for (std::uint64_t i = 0; i < functionCount && !lines.Full(); ++i) {
        const std::uint32_t address = *v.U32(*functions + i * 4);
        if (address == 0) {
            lines.Add("");
            continue;
        }
        std::string name = "-";
        if (nameIndex[i] != kNoName) {
            const auto nameRva = v.U32(*names + std::uint64_t {nameIndex[i]} * 4);
            const auto nameAt = nameRva ? pe.RvaToOffset(*nameRva) : std::nullopt;
            name = nameAt ? v.CStr(*nameAt) : std::string("-");
        }
        lines.Add(Hex4(std::uint64_t {base} + i) + "    \t" + Hex8(address) + "\t" + name + "\t");
    }
    if (tableCut)
        lines.Add("(The function table runs past the end of the file.)");
}

// Thunk slots already listed, by their offset in the file. Descriptors may
// name tables that overlap or run into one another: a table that reaches a
// slot listed before ends there, so every slot is listed once.
using ListedThunks = std::unordered_set<std::uint64_t>;

void ListImportThunks(const PEImage& pe, ReportLines& lines, std::uint64_t descriptor, ListedThunks& listed)
{
    const PEView& v = pe.v;
    std::uint32_t tableRva = *v.U32(descriptor);
    if (tableRva == 0)
        tableRva = *v.U32(descriptor + 16);
    if (!pe.RvaToOffset(tableRva))
        return;
    lines.Add("\tThunkRVA\tThunkValue\tHint\tFunctionName\t");
    const std::uint64_t width = pe.plus ? 8 : 4;
    // Import by ordinal is the top bit of the thunk: bit 31 in PE32, bit 63 in PE32+.
    const std::uint64_t ordinalFlag = pe.plus ? 0x8000000000000000ull : 0x80000000ull;
    for (std::uint64_t thunkRva = tableRva; !lines.Full(); thunkRva += width) {
        // Each slot is looked up by its own address: a table that leaves its
        // section's raw data (or the file) ends there.
        const auto at = pe.RvaToOffset(thunkRva);
        std::optional<std::uint64_t> value;
        if (at && pe.plus)
            value = v.U64(*at);
        else if (const auto narrow = at ? v.U32(*at) : std::nullopt)
            value = *narrow;
        if (!value) {
            lines.Add("(The thunk table runs past the end of the file.)");
            break;
        }
        if (*value == 0)
            break;
        if (!listed.insert(*at).second) {
            lines.Add("(The rest of this thunk table is listed above.)");
            break;
        }
        const std::uint64_t thunk = *value;
        std::string hint = "-";
        std::string name;
        if (thunk & ordinalFlag) {
            name = "Ord:" + Hex8(thunk & 0xFFFF);
        } else if (const auto entry = pe.RvaToOffset(thunk & 0x7FFFFFFF); entry && v.Has(*entry, 2)) {
            hint = Hex4(*v.U16(*entry));
            name = v.CStr(*entry + 2);
        } else {
            name = "MemAddr:" + Hex8(thunk);
        }
        lines.Add("\t" + Hex8(thunkRva) + "\t" + Hex8(thunk) + "\t" + hint + "\t" + name + "\t");
    }
}

void ListImportTable(const PEImage& pe, ReportLines& lines)
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
    // The descriptors lie in the directory: its size ends the walk as the
    // zero descriptor does, and so does a descriptor outside the file.
    const std::uint64_t directoryRva = *pe.DirectoryField(1, 0);
    const std::uint64_t directorySize = pe.DirectoryField(1, 1).value_or(0);
    ListedThunks listed;
    for (std::uint64_t offset = 0; offset < directorySize && !lines.Full(); offset += kImportDescriptorSize) {
        const auto at = pe.RvaToOffset(directoryRva + offset);
        if (!at || !v.Has(*at, kImportDescriptorSize)) {
            lines.Add("(The import table runs past the end of the file.)");
            break;
        }
        const std::uint32_t firstThunk = *v.U32(*at + 16);
        if (firstThunk == 0)
            break;
        lines.Add("DllName     \tFirstThunk\tTimeStamp\tForwardChin\tName    \tFirstThunk");
        const auto name = pe.RvaToOffset(*v.U32(*at + 12));
        std::string line = (name ? v.CStr(*name) : std::string()) + "\t";
        for (int k = 0; k < 5; ++k)
            line += Hex8(*v.U32(*at + 4 * k)) + "\t";
        lines.Add(line);
        lines.Add(" ");
        ListImportThunks(pe, lines, *at, listed);
        lines.Add(" ");
    }
}

} // namespace

namespace {

void ReportImage(const PEView& view, const std::string& path, TStringList& lines)
{
    const PEImage pe(view);
    if (!pe.isPE) {
        lines.Add("The file is not a PE file!");
        return;
    }
    ReportLines report(lines);
    report.Add("PE FORMAT FILE INFOMATION OF " + path);
    report.Add(kRule);
    ListFileHeader(pe, report);
    ListOptionalHeader(pe, report);
    ListSectionTable(pe, report);
    ListDataDirectory(pe, report);
    ListExportDirectory(pe, report);
    ListExportFunctions(pe, report);
    ListImportTable(pe, report);
    report.Finish();
}

} // namespace

void GetPEImageInfo(const std::uint8_t* data, std::size_t size, const std::string& path, TStringList& lines)
{
    ReportImage(PEView(data, size), path, lines);
}

void GetPEFileInfo(const std::string& path, TStringList& lines)
{
    TFileReader file;
    if (!file.Open(path) || file.Size() == 0) {
        lines.Add("Failed to load file!");
        return;
    }
    try {
        ReportImage(PEView(file), path, lines);
    } catch (const EReadError& e) {
        // What was read before stays; the report says where it ends and why.
        lines.Add("Failed to read the rest of the file: " + e.Message());
    }
}
