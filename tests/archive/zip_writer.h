// A small ZIP writer of our own for the tests: honest archives of stored or
// deflated entries, and hostile ones whose headers claim what their bytes do
// not bear out (sizes, offsets, counts), built byte by byte so that each
// test shows one fault plainly.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zipwriter {

inline void Put16(std::string& s, size_t at, unsigned v)
{
    s[at] = static_cast<char>(v & 0xFF);
    s[at + 1] = static_cast<char>((v >> 8) & 0xFF);
}
inline void Put32(std::string& s, size_t at, std::uint32_t v)
{
    Put16(s, at, v & 0xFFFF);
    Put16(s, at + 2, v >> 16);
}
inline std::string Le64(std::uint64_t v)
{
    std::string s(8, '\0');
    for (int i = 0; i < 8; ++i)
        s[static_cast<size_t>(i)] = static_cast<char>((v >> (8 * i)) & 0xFF);
    return s;
}

inline std::uint32_t Crc32(const std::string& data)
{
    return static_cast<std::uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
}

// Raw deflate (no zlib header), as ZIP method 8 stores it.
inline std::string Deflate(const std::string& data, int level = 6)
{
    z_stream z{};
    deflateInit2(&z, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&z, static_cast<uLong>(data.size())), '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

struct Entry {
    std::string name;
    std::string data;      // the entry's real bytes
    unsigned method = 0;   // 0 stored, 8 deflated; others need packed
    unsigned flags = 0;
    // The packed bytes as another coder made them (shrunk, reduced,
    // imploded); unset, they are the data itself or its deflated form.
    std::optional<std::string> packed;
    std::string extra;     // written into both headers
    std::string comment;
    // Claims that differ from the truth: the sizes and CRC both headers
    // declare, and the local-header offset the central header declares.
    std::optional<std::uint64_t> packedClaim, unpackedClaim;
    std::optional<std::uint32_t> crcClaim, offsetClaim;
    // Sizes declared as 0xFFFFFFFF with the values in a ZIP64 field.
    bool zip64 = false;
    // A central entry only, pointing at the record of entry sameRecordAs.
    int sameRecordAs = -1;
};

struct Archive {
    std::vector<Entry> entries;
    std::string archiveComment;
    std::optional<unsigned> countClaim;         // both counts of the end record
    std::optional<std::uint32_t> dirOffsetClaim;

    Entry& Add(std::string name, std::string data, unsigned method = 0)
    {
        entries.push_back(Entry{});
        entries.back().name = std::move(name);
        entries.back().data = std::move(data);
        entries.back().method = method;
        return entries.back();
    }

    // The archive's bytes; centralAt receives where each central header starts.
    std::string Build(std::vector<size_t>* centralAt = nullptr) const
    {
        std::string out, cd;
        std::vector<std::uint32_t> recordAt;
        for (const Entry& e : entries) {
            const std::string packed = e.packed ? *e.packed : e.method == 8 ? Deflate(e.data) : e.data;
            const std::uint32_t crc = e.crcClaim.value_or(Crc32(e.data));
            const std::uint64_t packedSize = e.packedClaim.value_or(packed.size());
            const std::uint64_t unpackedSize = e.unpackedClaim.value_or(e.data.size());
            std::string extra = e.extra;
            if (e.zip64) {
                std::string field("\x01\x00\x10\x00", 4);  // id 1, 16 bytes
                field += Le64(unpackedSize) + Le64(packedSize);
                extra = field + extra;
            }
            const std::uint32_t size32p = e.zip64 ? 0xFFFFFFFFu : static_cast<std::uint32_t>(packedSize);
            const std::uint32_t size32u = e.zip64 ? 0xFFFFFFFFu : static_cast<std::uint32_t>(unpackedSize);
            std::uint32_t offset = static_cast<std::uint32_t>(out.size());
            if (e.sameRecordAs >= 0) {
                offset = recordAt[static_cast<size_t>(e.sameRecordAs)];
            } else {
                std::string h(30, '\0');
                Put32(h, 0, 0x04034B50);
                Put16(h, 4, e.zip64 ? 45 : 20);
                Put16(h, 6, e.flags);
                Put16(h, 8, e.method);
                Put16(h, 12, 0x3061);  // 2004-03-01
                Put32(h, 14, crc);
                Put32(h, 18, size32p);
                Put32(h, 22, size32u);
                Put16(h, 26, static_cast<unsigned>(e.name.size()));
                Put16(h, 28, static_cast<unsigned>(extra.size()));
                out += h + e.name + extra + packed;
            }
            recordAt.push_back(offset);
            std::string c(46, '\0');
            Put32(c, 0, 0x02014B50);
            Put16(c, 4, 20);
            Put16(c, 6, e.zip64 ? 45 : 20);
            Put16(c, 8, e.flags);
            Put16(c, 10, e.method);
            Put16(c, 14, 0x3061);
            Put32(c, 16, crc);
            Put32(c, 20, size32p);
            Put32(c, 24, size32u);
            Put16(c, 28, static_cast<unsigned>(e.name.size()));
            Put16(c, 30, static_cast<unsigned>(extra.size()));
            Put16(c, 32, static_cast<unsigned>(e.comment.size()));
            Put32(c, 38, 0x20);
            Put32(c, 42, e.offsetClaim.value_or(offset));
            if (centralAt)
                centralAt->push_back(cd.size());
            cd += c + e.name + extra + e.comment;
        }
        const std::uint32_t cdAt = static_cast<std::uint32_t>(out.size());
        if (centralAt)
            for (size_t& at : *centralAt)
                at += cdAt;
        out += cd;
        std::string end(22, '\0');
        const unsigned count = countClaim.value_or(static_cast<unsigned>(entries.size()));
        Put32(end, 0, 0x06054B50);
        Put16(end, 8, count);
        Put16(end, 10, count);
        Put32(end, 12, static_cast<std::uint32_t>(cd.size()));
        Put32(end, 16, dirOffsetClaim.value_or(cdAt));
        Put16(end, 20, static_cast<unsigned>(archiveComment.size()));
        return out + end + archiveComment;
    }
};

}  // namespace zipwriter

// The hostile archives of the tests, each named after its fault; the
// extraction tests say which errors each must give and which files it must
// leave, the listing tests what it lists.
namespace hostile {

using zipwriter::Archive;

inline const std::string kAlpha = "alpha\n";
inline const std::string kOmega = "omega\n";

// Sizes the data cannot bear out, between two honest entries: unpacked
// sizes the deflate data falls short of (a 32-bit claim and a ZIP64 claim
// of 2^62), packed sizes past the end of the archive, and an unpacked size
// the data exceeds.
inline Archive ClaimedSizePastEnd()
{
    const std::string body(5000, 'x');
    Archive a;
    a.Add("a.txt", kAlpha);
    a.Add("unpacked_claim.bin", body, 8).unpackedClaim = 0xFFFFFFF0u;
    a.Add("packed_claim.bin", body, 8).packedClaim = 0xFFFFFFF0u;
    auto& zip64Unpacked = a.Add("zip64_unpacked.bin", body, 8);
    zip64Unpacked.zip64 = true;
    zip64Unpacked.unpackedClaim = std::uint64_t{1} << 62;
    auto& zip64Packed = a.Add("zip64_packed.bin", body, 8);
    zip64Packed.zip64 = true;
    zip64Packed.packedClaim = std::uint64_t{1} << 62;
    a.Add("more_than_declared.bin", body, 8).unpackedClaim = 100;
    a.Add("z.txt", kOmega);
    return a;
}

// Stored entries whose packed and unpacked sizes differ, both ways.
inline Archive StoredSizeMismatch()
{
    const std::string body(100, 's');
    Archive a;
    a.Add("a.txt", kAlpha);
    a.Add("claims_more.bin", body).unpackedClaim = 200;
    a.Add("claims_less.bin", body).unpackedClaim = 50;
    a.Add("z.txt", kOmega);
    return a;
}

// Ten central entries on one record of zeros (bomb.bin, then copy1.bin to
// copy9.bin), between two honest entries.
inline Archive OverlappingEntries(size_t recordSize)
{
    const std::string zeros(recordSize, '\0');
    Archive a;
    a.Add("a.txt", kAlpha);
    a.Add("bomb.bin", zeros, 8);
    for (int i = 1; i <= 9; ++i)
        a.Add("copy" + std::to_string(i) + ".bin", zeros, 8).sameRecordAs = 1;
    a.Add("z.txt", kOmega);
    return a;
}

// The first central entry names a local-header offset where no header is.
inline Archive BadFirstLocalOffset(std::uint32_t offset)
{
    Archive a;
    a.Add("first.txt", "first\n").offsetClaim = offset;
    a.Add("second.txt", "second\n");
    a.Add("third.txt", "third\n");
    return a;
}

// The end record counts 65,535 entries for three and places the directory
// at 0xFFFFFFF0.
inline Archive CdCountLies()
{
    Archive a;
    a.Add("a.txt", kAlpha);
    a.Add("b.txt", "beta\n");
    a.Add("z.txt", kOmega);
    a.countClaim = 65535;
    a.dirOffsetClaim = 0xFFFFFFF0u;
    return a;
}

// Into memory: bomb.bin declares bombClaim bytes (through ZIP64),
// three_gb.bin 3 GB, both from 4 KB of zeros.
inline Archive MemoryBomb(std::uint64_t bombClaim)
{
    Archive a;
    a.Add("a.txt", kAlpha);
    auto& bomb = a.Add("bomb.bin", std::string(4096, '\0'), 8);
    bomb.zip64 = true;
    bomb.unpackedClaim = bombClaim;
    a.Add("three_gb.bin", std::string(4096, '\0'), 8).unpackedClaim = 0xC0000000u;
    a.Add("z.txt", kOmega);
    return a;
}

}  // namespace hostile
