#include "zadpe.h"

#include "archive/zadheaders.h"
#include "archive/zadstreams.h"

#include <algorithm>
#include <cstdint>

// Portable executable layout used here:
//   0x3C            offset of the "PE\0\0" signature (e_lfanew)
//   sig + 4         COFF header, 20 bytes: 2 number of sections,
//                   16 size of the optional header
//   sig + 24        optional header: magic 0x10B (PE32) or 0x20B (PE32+);
//                   data directory 2 (resources) at 96 + 16 or 112 + 16
//   after it        section table, 40 bytes per section: 8 virtual size,
//                   12 virtual address, 16 raw size, 20 raw offset
// Resource directory: 16-byte header (12 named entries, 14 id entries),
// then 8-byte entries (id, offset with bit 31 = subdirectory). String
// resources are type 6; block (id >> 4) + 1 holds 16 strings of a 16-bit
// length and that many UTF-16 units.

namespace {

struct Reader {
    TStream32* s;
    std::int64_t size;
    bool At(std::int64_t pos, void* buf, std::int32_t n) const
    {
        if (pos < 0 || n < 0 || pos + n > size || s->Seek(pos, soBeginning) != pos)
            return false;
        return s->Read(buf, n) == n;
    }
    bool U16(std::int64_t pos, std::uint16_t& v) const
    {
        std::uint8_t b[2];
        if (!At(pos, b, 2))
            return false;
        v = LoadLe16(b);
        return true;
    }
    bool U32(std::int64_t pos, std::uint32_t& v) const
    {
        std::uint8_t b[4];
        if (!At(pos, b, 4))
            return false;
        v = LoadLe32(b);
        return true;
    }
};

struct Section {
    std::uint32_t va, vsize, rawSize, rawOffset;
};

// Finds the entry with the given id (or the first entry when id < 0) in a
// resource directory; returns its offset field.
bool FindEntry(const Reader& r, std::int64_t dir, int id, std::uint32_t& offset)
{
    std::uint16_t named = 0, ids = 0;
    if (!r.U16(dir + 12, named) || !r.U16(dir + 14, ids))
        return false;
    const int total = named + ids;
    for (int i = 0; i < total && i < 4096; ++i) {
        std::uint32_t name = 0, off = 0;
        if (!r.U32(dir + 16 + 8 * i, name) || !r.U32(dir + 20 + 8 * i, off))
            return false;
        if (id < 0 || (!(name & 0x80000000u) && static_cast<int>(name) == id)) {
            offset = off;
            return true;
        }
    }
    return false;
}

}  // namespace

std::vector<std::string> ReadPeStringResources(TStream32* stream, int first, int last)
{
    std::vector<std::string> out;
    Reader r{stream, stream->Size()};
    std::uint32_t peAt = 0, sig = 0;
    if (!r.U32(0x3C, peAt) || !r.U32(peAt, sig) || sig != 0x00004550)
        return out;
    std::uint16_t sections = 0, optSize = 0, magic = 0;
    if (!r.U16(peAt + 6, sections) || !r.U16(peAt + 20, optSize) || !r.U16(peAt + 24, magic))
        return out;
    const std::int64_t opt = static_cast<std::int64_t>(peAt) + 24;
    const std::int64_t dirs = opt + (magic == 0x20B ? 112 : 96);
    if (dirs + 3 * 8 > opt + optSize)
        return out;
    std::uint32_t resRva = 0;
    if (!r.U32(dirs + 2 * 8, resRva) || resRva == 0)
        return out;
    std::vector<Section> table;
    for (int i = 0; i < sections && i < 96; ++i) {
        const std::int64_t at = opt + optSize + 40 * i;
        Section sec{};
        if (!r.U32(at + 8, sec.vsize) || !r.U32(at + 12, sec.va) || !r.U32(at + 16, sec.rawSize) || !r.U32(at + 20, sec.rawOffset))
            return out;
        table.push_back(sec);
    }
    auto toFile = [&](std::uint32_t rva, std::int64_t& pos) {
        for (const Section& s : table) {
            const std::uint64_t span = std::max(s.vsize, s.rawSize);
            if (rva >= s.va && rva < static_cast<std::uint64_t>(s.va) + span) {
                pos = static_cast<std::int64_t>(rva - s.va) + s.rawOffset;
                return true;
            }
        }
        return false;
    };
    std::int64_t root = 0;
    if (!toFile(resRva, root))
        return out;
    std::uint32_t typeOff = 0;
    if (!FindEntry(r, root, 6, typeOff) || !(typeOff & 0x80000000u))
        return out;
    const std::int64_t typeDir = root + (typeOff & 0x7FFFFFFFu);
    for (int id = first; id <= last; ++id) {
        std::uint32_t blockOff = 0, langOff = 0;
        if (!FindEntry(r, typeDir, (id >> 4) + 1, blockOff) || !(blockOff & 0x80000000u))
            break;
        if (!FindEntry(r, root + (blockOff & 0x7FFFFFFFu), -1, langOff) || (langOff & 0x80000000u))
            break;
        std::uint32_t dataRva = 0, dataSize = 0;
        std::int64_t data = 0;
        if (!r.U32(root + langOff, dataRva) || !r.U32(root + langOff + 4, dataSize) || !toFile(dataRva, data))
            break;
        std::int64_t p = data;
        const std::int64_t end = data + dataSize;
        bool ok = true;
        for (int k = 0; k < (id & 15) && ok; ++k) {
            std::uint16_t len = 0;
            ok = p + 2 <= end && r.U16(p, len);
            p += 2 + 2 * static_cast<std::int64_t>(len);
        }
        std::uint16_t len = 0;
        if (!ok || p + 2 > end || !r.U16(p, len) || len == 0)
            break;
        std::string s;
        for (int k = 0; k < len && k < 5; ++k) {
            std::uint16_t c = 0;
            if (p + 2 + 2 * k + 2 > end || !r.U16(p + 2 + 2 * k, c))
                break;
            s += c < 0x80 ? static_cast<char>(c) : '?';
        }
        out.push_back(s);
    }
    return out;
}
