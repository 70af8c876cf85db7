#include "compoundfile.h"

#include <algorithm>
#include <cstring>

// The compound file's header, the file's first 512 bytes (sectors are
// counted from the end of the header's sector, whatever its size):
//
//   0x00  8  signature D0 CF 11 E0 A1 B1 1A E1
//   0x1A  2  major version (3: 512-byte sectors, 4: 4096-byte sectors)
//   0x1C  2  byte order mark FE FF
//   0x1E  2  sector shift (9 or 12)
//   0x20  2  mini sector shift (6)
//   0x2C  4  number of sectors of the allocation table (FAT)
//   0x30  4  first sector of the directory
//   0x38  4  mini stream cut-off (4096): smaller streams live in the mini stream
//   0x3C  4  first sector of the mini allocation table, 0x40 its number of sectors
//   0x44  4  first sector of the FAT's index (DIFAT), 0x48 its number of sectors
//   0x4C  436  the first 109 entries of the DIFAT
//
// A directory entry is 128 bytes: the name in UTF-16 (64 bytes) and its
// length in bytes with the ending zero (0x40), the type (0x42: 1 storage,
// 2 stream, 5 root), left and right siblings and the first child (0x44,
// 0x48, 0x4C: a red-black tree of the storage's children), the first
// sector (0x74) and the size (0x78, 64 bits; version 3 uses the low 32).
namespace {

constexpr std::size_t kHeaderSize = 512;
constexpr std::size_t kHeader_ByteOrder = 0x1C, kHeader_SectorShift = 0x1E, kHeader_MiniSectorShift = 0x20,
                      kHeader_FatSectors = 0x2C, kHeader_FirstDirectory = 0x30, kHeader_MiniCutoff = 0x38,
                      kHeader_FirstMiniFat = 0x3C, kHeader_MiniFatSectors = 0x40, kHeader_FirstDifat = 0x44,
                      kHeader_DifatSectors = 0x48, kHeader_Difat = 0x4C;
constexpr std::size_t kHeaderDifatEntries = 109;
constexpr std::size_t kDirEntrySize = 128;
constexpr std::size_t kDir_NameLength = 0x40, kDir_Type = 0x42, kDir_Left = 0x44, kDir_Right = 0x48,
                      kDir_Child = 0x4C, kDir_Start = 0x74, kDir_Size = 0x78;
constexpr std::uint8_t kTypeStream = 2, kTypeRoot = 5;
constexpr std::uint32_t kMaxRegularSector = 0xFFFFFFFA, kEndOfChain = 0xFFFFFFFE, kNoStream = 0xFFFFFFFF;
// A directory past this many entries is taken as damaged: documents hold
// a few dozen, and the cap bounds the memory a crafted file can ask for.
constexpr std::size_t kMaxDirectoryEntries = 1u << 16;

const std::uint8_t kSignature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};

std::uint16_t U16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }
std::uint32_t U32(const std::uint8_t* p)
{
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}
std::uint64_t U64(const std::uint8_t* p) { return U32(p) | static_cast<std::uint64_t>(U32(p + 4)) << 32; }

}  // namespace

bool TCompoundFile::HasSignature(const std::uint8_t* bytes, std::size_t size)
{
    return size >= sizeof kSignature && std::memcmp(bytes, kSignature, sizeof kSignature) == 0;
}

std::optional<TCompoundFile> TCompoundFile::Open(TReadAt read, std::uint64_t fileSize)
{
    TCompoundFile file;
    file.m_read = std::move(read);
    file.m_fileSize = fileSize;
    if (!file.ReadHeader() || !file.ReadDirectory() || !file.CollectRoot())
        return std::nullopt;
    return file;
}

std::uint64_t TCompoundFile::SectorCount() const
{
    const std::uint64_t size = std::uint64_t{1} << m_sectorShift;
    return m_fileSize <= size ? 0 : (m_fileSize - size + size - 1) / size;
}

bool TCompoundFile::ReadHeader()
{
    std::uint8_t h[kHeaderSize];
    if (m_fileSize < kHeaderSize || m_read(0, h, kHeaderSize) != kHeaderSize || !HasSignature(h, kHeaderSize))
        return false;
    if (U16(h + kHeader_ByteOrder) != 0xFFFE)
        return false;
    m_sectorShift = U16(h + kHeader_SectorShift);
    m_miniSectorShift = U16(h + kHeader_MiniSectorShift);
    if ((m_sectorShift != 9 && m_sectorShift != 12) || m_miniSectorShift != 6)
        return false;
    m_miniCutoff = U32(h + kHeader_MiniCutoff);
    m_firstDirectory = U32(h + kHeader_FirstDirectory);
    m_firstMiniFat = U32(h + kHeader_FirstMiniFat);
    m_miniFatSectors = U32(h + kHeader_MiniFatSectors);
    const std::uint64_t sectors = SectorCount();
    const std::uint32_t fatSectors = U32(h + kHeader_FatSectors);
    if (fatSectors == 0 || fatSectors > sectors || m_miniFatSectors > sectors)
        return false;

    // The FAT's index: 109 entries in the header, the rest in a chain of
    // index sectors, each ending with the number of the next one.
    for (std::size_t i = 0; i < kHeaderDifatEntries && m_fatSectors.size() < fatSectors; ++i)
        m_fatSectors.push_back(U32(h + kHeader_Difat + 4 * i));
    const std::size_t perSector = (std::size_t{1} << m_sectorShift) / 4;
    std::vector<std::uint8_t> buffer(std::size_t{1} << m_sectorShift);
    std::uint32_t difat = U32(h + kHeader_FirstDifat);
    for (std::uint32_t steps = U32(h + kHeader_DifatSectors); m_fatSectors.size() < fatSectors; --steps) {
        if (steps == 0 || difat > kMaxRegularSector || !ReadSectorBytes(difat, 0, buffer.data(), buffer.size()))
            return false;
        for (std::size_t i = 0; i + 1 < perSector && m_fatSectors.size() < fatSectors; ++i)
            m_fatSectors.push_back(U32(buffer.data() + 4 * i));
        difat = U32(buffer.data() + 4 * (perSector - 1));
    }
    return std::all_of(m_fatSectors.begin(), m_fatSectors.end(), [&](std::uint32_t s) { return s < sectors; });
}

bool TCompoundFile::ReadSectorBytes(std::uint32_t sector, std::uint32_t offset, void* buffer, std::size_t n) const
{
    const std::uint64_t size = std::uint64_t{1} << m_sectorShift;
    if (sector >= SectorCount() || offset + n > size)
        return false;
    const std::uint64_t pos = (static_cast<std::uint64_t>(sector) + 1) * size + offset;
    return pos + n <= m_fileSize && m_read(pos, buffer, n) == n;
}

std::optional<std::uint32_t> TCompoundFile::NextSector(std::uint32_t sector) const
{
    const std::uint32_t perSector = (1u << m_sectorShift) / 4;
    const std::size_t index = sector / perSector;
    if (index >= m_fatSectors.size())
        return std::nullopt;
    std::uint8_t entry[4];
    if (!ReadSectorBytes(m_fatSectors[index], (sector % perSector) * 4, entry, 4))
        return std::nullopt;
    return U32(entry);
}

std::optional<std::string> TCompoundFile::ReadChain(std::uint32_t start, std::size_t n) const
{
    const std::size_t sectorSize = std::size_t{1} << m_sectorShift;
    std::string out;
    std::uint32_t sector = start;
    // A chain longer than the file has sectors runs in a loop.
    for (std::uint64_t steps = 0; out.size() < n; ++steps) {
        if (sector > kMaxRegularSector || steps >= SectorCount())
            return std::nullopt;
        const std::size_t take = std::min(sectorSize, n - out.size());
        const std::size_t at = out.size();
        out.resize(at + take);
        if (!ReadSectorBytes(sector, 0, out.data() + at, take))
            return std::nullopt;
        if (out.size() < n) {
            const auto next = NextSector(sector);
            if (!next)
                return std::nullopt;
            sector = *next;
        }
    }
    return out;
}

std::optional<std::uint32_t> TCompoundFile::NextMiniSector(std::uint32_t sector) const
{
    const std::uint64_t pos = static_cast<std::uint64_t>(sector) * 4;
    if (pos + 4 > (static_cast<std::uint64_t>(m_miniFatSectors) << m_sectorShift))
        return std::nullopt;
    const auto tableSector = ChainSectorAt(m_firstMiniFat, pos >> m_sectorShift);
    std::uint8_t entry[4];
    const auto offset = static_cast<std::uint32_t>(pos & ((std::uint64_t{1} << m_sectorShift) - 1));
    if (!tableSector || !ReadSectorBytes(*tableSector, offset, entry, 4))
        return std::nullopt;
    return U32(entry);
}

std::optional<std::uint32_t> TCompoundFile::ChainSectorAt(std::uint32_t start, std::uint64_t index) const
{
    std::uint32_t sector = start;
    for (std::uint64_t i = 0; i < index; ++i) {
        if (sector > kMaxRegularSector || i >= SectorCount())
            return std::nullopt;
        const auto next = NextSector(sector);
        if (!next)
            return std::nullopt;
        sector = *next;
    }
    if (sector > kMaxRegularSector)
        return std::nullopt;
    return sector;
}

std::optional<std::string> TCompoundFile::ReadMiniChain(std::uint32_t start, std::size_t n) const
{
    // The mini stream is the root entry's stream; streams below the cut-off
    // (at most 4096 bytes) are chains of 64-byte pieces in it, and a piece
    // never crosses a sector of the file.
    const Entry& root = m_entries[0];
    const std::size_t miniSize = std::size_t{1} << m_miniSectorShift;
    std::string out;
    std::uint32_t sector = start;
    for (std::size_t steps = 0; out.size() < n; ++steps) {
        const std::uint64_t pos = static_cast<std::uint64_t>(sector) << m_miniSectorShift;
        if (sector > kMaxRegularSector || steps > n / miniSize || pos + miniSize > root.size)
            return std::nullopt;
        const auto regular = ChainSectorAt(root.start, pos >> m_sectorShift);
        const std::size_t take = std::min(miniSize, n - out.size());
        const std::size_t at = out.size();
        out.resize(at + take);
        const auto offset = static_cast<std::uint32_t>(pos & ((std::uint64_t{1} << m_sectorShift) - 1));
        if (!regular || !ReadSectorBytes(*regular, offset, out.data() + at, take))
            return std::nullopt;
        if (out.size() < n) {
            const auto next = NextMiniSector(sector);
            if (!next)
                return std::nullopt;
            sector = *next;
        }
    }
    return out;
}

bool TCompoundFile::ReadDirectory()
{
    const std::size_t sectorSize = std::size_t{1} << m_sectorShift;
    std::vector<std::uint8_t> buffer(sectorSize);
    std::uint32_t sector = m_firstDirectory;
    for (std::uint64_t steps = 0; sector != kEndOfChain; ++steps) {
        if (sector > kMaxRegularSector || steps >= SectorCount() || !ReadSectorBytes(sector, 0, buffer.data(), sectorSize))
            return false;
        for (std::size_t at = 0; at + kDirEntrySize <= sectorSize; at += kDirEntrySize) {
            if (m_entries.size() >= kMaxDirectoryEntries)
                return false;
            const std::uint8_t* d = buffer.data() + at;
            Entry e;
            const std::size_t chars = std::min<std::size_t>(U16(d + kDir_NameLength) / 2, 32);
            for (std::size_t i = 0; i + 1 < chars; ++i) {
                const std::uint16_t c = U16(d + 2 * i);
                e.name += c < 0x80 ? static_cast<char>(c) : '?';
            }
            e.type = d[kDir_Type];
            e.left = U32(d + kDir_Left);
            e.right = U32(d + kDir_Right);
            e.child = U32(d + kDir_Child);
            e.start = U32(d + kDir_Start);
            e.size = U64(d + kDir_Size);
            if (m_sectorShift == 9)
                e.size &= 0xFFFFFFFFu;
            m_entries.push_back(std::move(e));
        }
        const auto next = NextSector(sector);
        if (!next)
            return false;
        sector = *next;
    }
    return !m_entries.empty() && m_entries[0].type == kTypeRoot;
}

bool TCompoundFile::CollectRoot()
{
    // The root's children form a tree through their sibling links; a link
    // that leaves the directory or comes back to an entry seen is damage.
    std::vector<bool> seen(m_entries.size());
    std::vector<std::uint32_t> pending;
    if (m_entries[0].child != kNoStream)
        pending.push_back(m_entries[0].child);
    while (!pending.empty()) {
        const std::uint32_t i = pending.back();
        pending.pop_back();
        if (i == 0 || i >= m_entries.size() || seen[i])
            return false;
        seen[i] = true;
        m_root.push_back(i);
        for (std::uint32_t link : {m_entries[i].left, m_entries[i].right})
            if (link != kNoStream)
                pending.push_back(link);
    }
    return true;
}

std::vector<std::string> TCompoundFile::RootNames() const
{
    std::vector<std::string> names;
    for (std::uint32_t i : m_root)
        names.push_back(m_entries[i].name);
    return names;
}

bool TCompoundFile::HasRootEntry(const std::string& name) const
{
    return std::any_of(m_root.begin(), m_root.end(), [&](std::uint32_t i) { return m_entries[i].name == name; });
}

std::optional<std::string> TCompoundFile::ReadRootStream(const std::string& name, std::size_t n) const
{
    for (std::uint32_t i : m_root) {
        const Entry& e = m_entries[i];
        if (e.name != name || e.type != kTypeStream)
            continue;
        const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(n, e.size));
        return e.size < m_miniCutoff ? ReadMiniChain(e.start, want) : ReadChain(e.start, want);
    }
    return std::nullopt;
}

// ====================================================================== office documents

namespace {

// The word-processor document's file information block starts the
// "WordDocument" stream: its identifier (0xA5EC) and, at 0x0A, the flags
// whose bit 0x0100 says the document is encrypted.
constexpr std::size_t kFib_Flags = 0x0A;
constexpr std::uint16_t kFibEncrypted = 0x0100;
// A workbook stream is a chain of records (type, length, data); a FILEPASS
// record near the start of its global part says it is encrypted.
constexpr std::uint16_t kRecordFilePass = 0x002F, kRecordEof = 0x000A;
// A presentation's "Current User" stream holds one record whose token at
// byte 12 tells an encrypted document from a plain one.
constexpr std::size_t kCurrentUser_Token = 12;
constexpr std::uint32_t kTokenEncrypted = 0xF3D1C4DF;

bool WorkbookEncrypted(const std::string& bytes)
{
    const auto* p = reinterpret_cast<const std::uint8_t*>(bytes.data());
    for (std::size_t at = 0; at + 4 <= bytes.size();) {
        const std::uint16_t type = U16(p + at), length = U16(p + at + 2);
        if (type == kRecordFilePass)
            return true;
        if (type == kRecordEof)
            break;
        at += 4 + std::size_t{length};
    }
    return false;
}

TOfficeFileKind ClassifyCompoundFile(const TCompoundFile& file)
{
    // An encrypted document of the newer, zipped formats travels inside a
    // compound file of two streams.
    if (file.HasRootEntry("EncryptedPackage") || file.HasRootEntry("EncryptionInfo"))
        return TOfficeFileKind::PasswordLocked;
    if (file.HasRootEntry("WordDocument")) {
        const auto fib = file.ReadRootStream("WordDocument", kFib_Flags + 2);
        if (!fib || fib->size() < kFib_Flags + 2)
            return TOfficeFileKind::Damaged;
        if (U16(reinterpret_cast<const std::uint8_t*>(fib->data()) + kFib_Flags) & kFibEncrypted)
            return TOfficeFileKind::PasswordLocked;
    }
    for (const char* name : {"Workbook", "Book"}) {
        if (!file.HasRootEntry(name))
            continue;
        const auto records = file.ReadRootStream(name, 8192);
        if (!records)
            return TOfficeFileKind::Damaged;
        if (WorkbookEncrypted(*records))
            return TOfficeFileKind::PasswordLocked;
    }
    if (file.HasRootEntry("EncryptedSummary"))
        return TOfficeFileKind::PasswordLocked;
    if (file.HasRootEntry("Current User")) {
        const auto user = file.ReadRootStream("Current User", kCurrentUser_Token + 4);
        if (user && user->size() == kCurrentUser_Token + 4 &&
            U32(reinterpret_cast<const std::uint8_t*>(user->data()) + kCurrentUser_Token) == kTokenEncrypted)
            return TOfficeFileKind::PasswordLocked;
    }
    return TOfficeFileKind::Convertible;
}

// The other shapes a file of these names takes that the converter reads:
// rich text, zipped documents, markup and plain text, and the word-processor
// and spreadsheet files older than compound files.
bool LooksLikeOtherDocument(const std::uint8_t* p, std::size_t n)
{
    auto startsWith = [&](const char* s) {
        const std::size_t len = std::strlen(s);
        return n >= len && std::memcmp(p, s, len) == 0;
    };
    if (startsWith("{\\rtf") || startsWith("PK\x03\x04") || startsWith("\xFF\xFE") || startsWith("\xFE\xFF"))
        return true;
    if (n >= 4) {
        const std::uint16_t first = U16(p), second = U16(p + 2);
        // Word 1 and 2 for Windows.
        if (first == 0xA59B || first == 0xA59C || first == 0xA5DB)
            return true;
        // Spreadsheets of the versions before compound files start with
        // their beginning-of-file record.
        if ((first == 0x0009 || first == 0x0209 || first == 0x0409 || first == 0x0809) && second >= 4 && second <= 20)
            return true;
    }
    // Text (any 8-bit encoding, markup included): no control byte other
    // than tab, line and page ends and the old end-of-file mark.
    return std::all_of(p, p + n, [](std::uint8_t c) {
        return c >= 0x20 || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == 0x1A;
    });
}

}  // namespace

TOfficeFileKind ClassifyOfficeFile(TCompoundFile::TReadAt read, std::uint64_t fileSize)
{
    std::uint8_t head[4096];
    const std::size_t n = read(0, head, static_cast<std::size_t>(std::min<std::uint64_t>(sizeof head, fileSize)));
    if (n == 0)
        return TOfficeFileKind::Damaged;
    if (TCompoundFile::HasSignature(head, n)) {
        const auto file = TCompoundFile::Open(std::move(read), fileSize);
        return file ? ClassifyCompoundFile(*file) : TOfficeFileKind::Damaged;
    }
    return LooksLikeOtherDocument(head, n) ? TOfficeFileKind::Convertible : TOfficeFileKind::Damaged;
}
