#include "zadheaders.h"

#include "archive/zadcrc.h"
#include "archive/zadcrypt.h"
#include "archive/zadstreams.h"

#include <algorithm>

TLocal TLocal::Parse(const std::uint8_t* p)
{
    TBoundedReader r(p, kSize);
    TLocal h;
    std::uint16_t time = 0, date = 0;
    r.U32(h.Signature);
    r.U16(h.VersionNeeded);
    r.U16(h.Flags);
    r.U16(h.Method);
    r.U16(time);
    r.U16(date);
    r.U32(h.Crc);
    r.U32(h.PackedSize);
    r.U32(h.UnpackedSize);
    r.U16(h.NameLength);
    r.U16(h.ExtraLength);
    h.DosDateTime = (static_cast<std::uint32_t>(date) << 16) | time;
    return h;
}

TCentral TCentral::Parse(const std::uint8_t* p)
{
    TBoundedReader r(p, kSize);
    TCentral h;
    std::uint16_t time = 0, date = 0;
    r.U32(h.Signature);
    r.U16(h.VersionMadeBy);
    r.U16(h.VersionNeeded);
    r.U16(h.Flags);
    r.U16(h.Method);
    r.U16(time);
    r.U16(date);
    r.U32(h.Crc);
    r.U32(h.PackedSize);
    r.U32(h.UnpackedSize);
    r.U16(h.NameLength);
    r.U16(h.ExtraLength);
    r.U16(h.CommentLength);
    r.U16(h.DiskNumberStart);
    r.U16(h.InternalAttr);
    r.U32(h.ExternalAttr);
    r.U32(h.RelativeOffset);
    h.DosDateTime = (static_cast<std::uint32_t>(date) << 16) | time;
    return h;
}

TEnd TEnd::Parse(const std::uint8_t* p)
{
    TBoundedReader r(p, kSize);
    TEnd h;
    r.U32(h.Signature);
    r.U16(h.ThisDisk);
    r.U16(h.CentralDisk);
    r.U16(h.EntriesThisDisk);
    r.U16(h.TotalEntries);
    r.U32(h.CentralSize);
    r.U32(h.CentralOffset);
    r.U16(h.CommentLength);
    return h;
}

TVirOV_End64 TVirOV_End64::Parse(const std::uint8_t* p)
{
    TBoundedReader r(p, kSize);
    TVirOV_End64 h;
    r.U32(h.Signature);
    r.Skip(12);
    r.U64(h.CentralOffset);
    return h;
}

TWZipLocator TWZipLocator::Parse(const std::uint8_t* p)
{
    TBoundedReader r(p, kSize);
    TWZipLocator h;
    r.U32(h.Signature);
    r.U32(h.EndDisk);
    r.U64(h.EndOffset);
    r.U32(h.TotalDisks);
    return h;
}

TWZip_END64 TWZip_END64::Parse(const std::uint8_t* p)
{
    TBoundedReader r(p, kSize);
    TWZip_END64 h;
    r.U32(h.Signature);
    r.U64(h.RecordSize);
    r.U16(h.VersionMadeBy);
    r.U16(h.VersionNeeded);
    r.U32(h.ThisDisk);
    r.U32(h.CentralDisk);
    r.U64(h.EntriesThisDisk);
    r.U64(h.TotalEntries);
    r.U64(h.CentralSize);
    r.U64(h.CentralOffset);
    return h;
}

namespace {

// A ZIP64 value: the low 32 bits replace the header field, the upper 32
// bits become its high half, so a listing shows the size as declared.
void TakeZip64(TBoundedReader& f, std::uint32_t* field, std::uint32_t& high)
{
    std::uint64_t v = 0;
    if (!field || *field != 0xFFFFFFFFu || !f.U64(v))
        return;
    *field = static_cast<std::uint32_t>(v);
    high = static_cast<std::uint32_t>(v >> 32);
}

}  // namespace

void ParseExtraField(const std::uint8_t* data, std::size_t len, THeaderType kind, const TExtraTarget& target,
                     TCentral64Hdr& hdr, TAesHeader& aes, std::vector<std::uint8_t>& strong)
{
    hdr = TCentral64Hdr{};
    aes = TAesHeader{};
    strong.clear();
    TBoundedReader r(data, len);
    while (r.Has(4)) {
        std::uint16_t id = 0, size = 0;
        r.U16(id);
        r.U16(size);
        hdr.Id = id;
        hdr.DataSize = size;
        if (!r.Has(size))
            break;  // a field that claims more than the area holds ends the reading
        TBoundedReader f(r.Here(), size);
        switch (id) {
        case EXTRA_ZIP64:
            // Only the fields whose header value is 0xFFFFFFFF are present, in this order.
            TakeZip64(f, target.UnpackedSize, hdr.HighUnpacked);
            TakeZip64(f, target.PackedSize, hdr.HighPacked);
            if (kind == htCentral)
                TakeZip64(f, target.RelativeOffset, hdr.HighOffset);
            break;
        case EXTRA_HIGH_WORDS:
            if (size >= (kind == htCentral ? 6 : 4)) {
                std::uint16_t w = 0;
                f.U16(w);
                hdr.HighPacked = w;
                f.U16(w);
                hdr.HighUnpacked = w;
                if (kind == htCentral) {
                    f.U16(w);
                    hdr.HighOffset = w;
                }
            }
            break;
        case EXTRA_STRONG_ENCRYPTION:
            strong.assign(r.Here() - 4, r.Here() + size);
            break;
        case EXTRA_AES:
            if (size >= 7) {
                aes.Id = id;
                aes.DataSize = size;
                f.U16(aes.VendorVersion);
                f.U16(aes.VendorId);
                f.U8(aes.Strength);
                f.U16(aes.Method);
            }
            break;
        default: break;
        }
        r.Skip(size);
    }
}

TNameCoding ZipHostCoding(std::uint16_t versionMadeBy)
{
    switch (versionMadeBy >> 8) {
    case 3:   // Unix
    case 16:  // BeOS
    case 19:  // macOS
        return ncUtf8;
    default: return ncOem;
    }
}

std::string ZipUnicodePath(const std::uint8_t* extra, std::size_t len, const std::string& rawName)
{
    TBoundedReader r(extra, len);
    while (r.Has(4)) {
        std::uint16_t id = 0, size = 0;
        r.U16(id);
        r.U16(size);
        if (!r.Has(size))
            break;
        if (id == EXTRA_UNICODE_PATH && size > 5) {
            TBoundedReader f(r.Here(), size);
            std::uint8_t version = 0;
            std::uint32_t crc = 0;
            f.U8(version);
            f.U32(crc);
            const std::uint32_t stored = Crc32_buf(rawName.data(), rawName.size(), CRC_MASK) ^ CRC_MASK;
            if (version == 1 && crc == stored)
                return std::string(reinterpret_cast<const char*>(f.Here()), f.Remaining());
        }
        r.Skip(size);
    }
    return {};
}

std::string ZipEntryName(const std::string& rawName, std::uint16_t flags, TNameCoding hostCoding, bool translate,
                         const std::uint8_t* extra, std::size_t extraLen)
{
    if (flags & 0x0800)
        return ArchiveNameToUtf8(rawName, ncUtf8, translate);
    const std::string unicode = ZipUnicodePath(extra, extraLen, rawName);
    if (!unicode.empty())
        return ArchiveNameToUtf8(unicode, ncUtf8, translate);
    return ArchiveNameToUtf8(rawName, hostCoding, translate);
}

std::int64_t FindDataDescriptor(TStream32& stream, std::int64_t dataAt, std::int64_t size, std::uint32_t& crc,
                                std::uint32_t& packed, std::uint32_t& unpacked)
{
    constexpr std::int64_t kStep = 65536;
    std::vector<std::uint8_t> buf(kStep + 16);
    for (std::int64_t at = dataAt; at >= 0 && at < size; at += kStep) {
        const auto want = static_cast<std::int32_t>(std::min<std::int64_t>(static_cast<std::int64_t>(buf.size()), size - at));
        if (want < 16 || stream.Seek(at, soBeginning) != at || stream.Read(buf.data(), want) != want)
            return -1;
        for (std::int32_t i = 0; i + 16 <= want; ++i) {
            if (buf[static_cast<size_t>(i)] != 0x50 || LoadLe32(&buf[static_cast<size_t>(i)]) != DATA_DESCRIPTOR_SIGNATURE)
                continue;
            const std::uint32_t c = LoadLe32(&buf[static_cast<size_t>(i) + 8]);
            if (static_cast<std::int64_t>(c) == at + i - dataAt) {
                crc = LoadLe32(&buf[static_cast<size_t>(i) + 4]);
                packed = c;
                unpacked = LoadLe32(&buf[static_cast<size_t>(i) + 12]);
                return at + i;
            }
        }
    }
    return -1;
}

TUnixTime ZipExtraModTime(const std::uint8_t* extra, std::size_t len)
{
    TUnixTime universal, ntfs;
    TBoundedReader r(extra, len);
    while (r.Has(4)) {
        std::uint16_t id = 0, size = 0;
        r.U16(id);
        r.U16(size);
        if (!r.Has(size))
            break;
        TBoundedReader f(r.Here(), size);
        if (id == EXTRA_UNIVERSAL_TIME) {
            std::uint8_t flags = 0;
            std::uint32_t seconds = 0;
            if (f.U8(flags) && (flags & 1) && f.U32(seconds))
                universal = UnixTime(seconds);
        } else if (id == EXTRA_NTFS && f.Skip(4)) {
            while (f.Has(4)) {
                std::uint16_t tag = 0, tagSize = 0;
                f.U16(tag);
                f.U16(tagSize);
                if (!f.Has(tagSize))
                    break;
                std::uint64_t mtime = 0;
                if (tag == 1 && tagSize >= 24 && f.U64(mtime) && mtime != 0) {
                    constexpr std::int64_t kUnixEpoch = 116444736000000000LL;  // 1970 in 100 ns since 1601
                    const auto units = static_cast<std::int64_t>(std::min<std::uint64_t>(mtime, INT64_MAX)) - kUnixEpoch;
                    std::int64_t seconds = units / 10000000, rest = units % 10000000;
                    if (rest < 0) {
                        rest += 10000000;
                        --seconds;
                    }
                    ntfs = UnixTime(seconds, static_cast<std::int32_t>(rest * 100));
                    break;
                }
                f.Skip(tagSize);
            }
        }
        r.Skip(size);
    }
    return ntfs.Known ? ntfs : universal;
}

std::int32_t ZipUnixMode(std::uint16_t versionMadeBy, std::uint32_t externalAttr)
{
    // Only a regular file's or a folder's mode: a link is written as a file
    // holding its text, which no link's bits (0777) should make executable.
    const std::uint32_t mode = externalAttr >> 16;
    if (ZipHostCoding(versionMadeBy) != ncUtf8 || ((mode & 0170000) != 0100000 && (mode & 0170000) != 0040000))
        return -1;
    return static_cast<std::int32_t>(mode);
}

THeaderType VerSig(std::uint32_t signature, THeaderType kind, bool& encrypted)
{
    encrypted = false;
    switch (kind) {
    case htLocal:
        if ((signature & 0xFFFF00FFu) == 0x04030050u) {
            const std::uint32_t v = (signature >> 8) & 0xFF;
            if (v >= 0x4B && v <= 0x4E) {
                encrypted = v == 0x4C || v == 0x4E;
                return htLocal;
            }
        }
        break;
    case htCentral:
        if ((signature & 0xFFFF00FFu) == 0x02010050u) {
            const std::uint32_t v = (signature >> 8) & 0xFF;
            if (v >= 0x4B && v <= 0x4E) {
                encrypted = v == 0x4C || v == 0x4E;
                return htCentral;
            }
        }
        break;
    case htEnding:
        if (signature == END_OF_CENTRAL_SIGNATURE || signature == END_OF_CENTRAL64_OWN)
            return htEnding;
        if (signature == END_OF_CENTRAL_CODED || signature == END_OF_CENTRAL64_OWN_CODED) {
            encrypted = true;
            return htEnding;
        }
        break;
    default: break;
    }
    return htNone;
}

bool IsHeaderEncrypted(std::uint32_t s)
{
    return s == 0x04034C50 || s == 0x02014C50 || s == 0x06054C50 || s == 0x06055C50 || s == 0x04034E50 || s == 0x02014E50;
}

bool IsZipCompatible(std::uint32_t s)
{
    return s == 0x04034B50 || s == 0x04034C50 || s == 0x02014B50 || s == 0x02014C50;
}

bool is64BitEndingHdr(std::uint32_t s) { return s == END_OF_CENTRAL64_OWN || s == END_OF_CENTRAL64_OWN_CODED; }

std::uint32_t DefSig(THeaderType kind, bool encrypted)
{
    switch (kind) {
    case htLocal: return encrypted ? LOCAL_FILE_HEADER_CODED : LOCAL_FILE_HEADER_SIGNATURE;
    case htCentral: return encrypted ? CENTRAL_FILE_HEADER_CODED : CENTRAL_FILE_HEADER_SIGNATURE;
    case htEnding: return END_OF_CENTRAL_SIGNATURE;
    default: return DATA_DESCRIPTOR_SIGNATURE;
    }
}

bool GetZipCompatible() { return true; }

namespace {

// Bytes after the signature that the coding covers.
std::size_t CodedLength(const std::uint8_t* buffer, THeaderType kind)
{
    switch (kind) {
    case htLocal: return 26;
    case htCentral: return 42;
    case htEnding: return is64BitEndingHdr(LoadLe32(buffer)) ? 22 : 18;
    default: return 0;
    }
}

}  // namespace

void DecodeHeader(std::uint8_t* buffer, THeaderType kind)
{
    WorkingHeadKeys = StartingHeadKeys;
    zadDecodeBuf(true, buffer + 4, CodedLength(buffer, kind));
}

void EncodeHeader(std::uint8_t* buffer, THeaderType kind)
{
    WorkingHeadKeys = StartingHeadKeys;
    zadEncodeBuf(true, buffer + 4, CodedLength(buffer, kind));
}

void DecodeFilename(void* buffer, std::size_t length) { zadDecodeBuf(true, buffer, length); }
void DecodeComment(void* buffer, std::size_t length) { zadDecodeBuf(true, buffer, length); }
void EncodeFilename(void* buffer, std::size_t length) { zadEncodeBuf(true, buffer, length); }
void EncodeComment(void* buffer, std::size_t length) { zadEncodeBuf(true, buffer, length); }
