// ZIP records as the library reads them, the one bounded reader every header
// parse goes through, the signature variants and the header coding.
//
// All multi-byte fields are little-endian. Besides the standard "PK"
// signatures the library knows variants whose second byte is 'L' (the rest
// of the header is coded with the header keys), 'M' (read like 'K') and 'N'
// (read like 'L'), and its own 64-bit ending record "P[" / "P\".
//
//   record                  standard     coded        variant M    variant N
//   local file header       0x04034B50   0x04034C50   0x04034D50   0x04034E50
//   central directory hdr   0x02014B50   0x02014C50   0x02014D50   0x02014E50
//   end of central dir      0x06054B50   0x06054C50
//   own 64-bit ending       0x06055B50   0x06055C50
//   ZIP64 end record        0x06064B50
//   ZIP64 locator           0x07064B50
//   data descriptor/span    0x08074B50
#pragma once

#include "archive/zadconsts.h"
#include "archive/zadgbls.h"

#include <cstddef>
#include <climits>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

// Reads little-endian fields from a byte range and answers "not enough bytes"
// instead of reading past its end. Every parse of untrusted bytes uses it.
class TBoundedReader {
public:
    TBoundedReader(const void* data, std::size_t size) : m_p(static_cast<const std::uint8_t*>(data)), m_size(size) {}
    bool Has(std::size_t n) const { return n <= m_size - m_pos; }
    std::size_t Pos() const { return m_pos; }
    std::size_t Remaining() const { return m_size - m_pos; }
    bool Skip(std::size_t n)
    {
        if (!Has(n))
            return false;
        m_pos += n;
        return true;
    }
    // Each getter returns false (leaving value unchanged) when the bytes are missing.
    bool U8(std::uint8_t& v) { return Get(v, 1); }
    bool U16(std::uint16_t& v) { return Get(v, 2); }
    bool U32(std::uint32_t& v) { return Get(v, 4); }
    bool U64(std::uint64_t& v) { return Get(v, 8); }
    bool Bytes(void* out, std::size_t n)
    {
        if (!Has(n))
            return false;
        std::memcpy(out, m_p + m_pos, n);
        m_pos += n;
        return true;
    }
    const std::uint8_t* Here() const { return m_p + m_pos; }

private:
    template <typename T>
    bool Get(T& v, std::size_t n)
    {
        if (!Has(n))
            return false;
        std::uint64_t x = 0;
        for (std::size_t i = 0; i < n; ++i)
            x |= static_cast<std::uint64_t>(m_p[m_pos + i]) << (8 * i);
        v = static_cast<T>(x);
        m_pos += n;
        return true;
    }
    const std::uint8_t* m_p;
    std::size_t m_size;
    std::size_t m_pos = 0;
};

inline std::uint32_t LoadLe32(const std::uint8_t* p)
{
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
inline std::uint16_t LoadLe16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }

constexpr std::uint32_t LOCAL_FILE_HEADER_SIGNATURE = 0x04034B50;
constexpr std::uint32_t LOCAL_FILE_HEADER_CODED = 0x04034C50;
constexpr std::uint32_t CENTRAL_FILE_HEADER_SIGNATURE = 0x02014B50;
constexpr std::uint32_t CENTRAL_FILE_HEADER_CODED = 0x02014C50;
constexpr std::uint32_t END_OF_CENTRAL_SIGNATURE = 0x06054B50;
constexpr std::uint32_t END_OF_CENTRAL_CODED = 0x06054C50;
constexpr std::uint32_t END_OF_CENTRAL64_OWN = 0x06055B50;
constexpr std::uint32_t END_OF_CENTRAL64_OWN_CODED = 0x06055C50;
constexpr std::uint32_t ZIP64_END_SIGNATURE = 0x06064B50;
constexpr std::uint32_t ZIP64_LOCATOR_SIGNATURE = 0x07064B50;
constexpr std::uint32_t DATA_DESCRIPTOR_SIGNATURE = 0x08074B50;

// Local file header, 30 bytes, then the name and the extra field.
//   0 signature(4)  4 version needed(2)  6 flags(2)  8 method(2)
//  10 time(2) 12 date(2)  14 crc32(4)  18 compressed size(4)
//  22 uncompressed size(4)  26 name length(2)  28 extra length(2)
struct TLocal {
    static constexpr std::int32_t kSize = 30;
    std::uint32_t Signature = 0;
    std::uint16_t VersionNeeded = 0;
    std::uint16_t Flags = 0;
    std::uint16_t Method = 0;
    std::uint32_t DosDateTime = 0;  // time in the low word, date in the high word
    std::uint32_t Crc = 0;
    std::uint32_t PackedSize = 0;
    std::uint32_t UnpackedSize = 0;
    std::uint16_t NameLength = 0;
    std::uint16_t ExtraLength = 0;
    static TLocal Parse(const std::uint8_t* p);
};

// Central directory file header, 46 bytes, then name, extra field, comment.
//   0 signature(4)  4 version made by(2)  6 version needed(2)  8 flags(2)
//  10 method(2)  12 time(2)  14 date(2)  16 crc32(4)  20 compressed size(4)
//  24 uncompressed size(4)  28 name length(2)  30 extra length(2)
//  32 comment length(2)  34 disk number start(2)  36 internal attributes(2)
//  38 external attributes(4)  42 local header offset(4)
struct TCentral {
    static constexpr std::int32_t kSize = 46;
    std::uint32_t Signature = 0;
    std::uint16_t VersionMadeBy = 0;
    std::uint16_t VersionNeeded = 0;
    std::uint16_t Flags = 0;
    std::uint16_t Method = 0;
    std::uint32_t DosDateTime = 0;
    std::uint32_t Crc = 0;
    std::uint32_t PackedSize = 0;
    std::uint32_t UnpackedSize = 0;
    std::uint16_t NameLength = 0;
    std::uint16_t ExtraLength = 0;
    std::uint16_t CommentLength = 0;
    std::uint16_t DiskNumberStart = 0;
    std::uint16_t InternalAttr = 0;
    std::uint32_t ExternalAttr = 0;
    std::uint32_t RelativeOffset = 0;
    static TCentral Parse(const std::uint8_t* p);
};

// End of central directory, 22 bytes, then the archive comment.
//   0 signature(4)  4 this disk(2)  6 disk with central dir(2)
//   8 entries on this disk(2)  10 total entries(2)  12 central dir size(4)
//  16 central dir offset(4)  20 comment length(2)
struct TEnd {
    static constexpr std::int32_t kSize = 22;
    std::uint32_t Signature = 0;
    std::uint16_t ThisDisk = 0;
    std::uint16_t CentralDisk = 0;
    std::uint16_t EntriesThisDisk = 0;
    std::uint16_t TotalEntries = 0;
    std::uint32_t CentralSize = 0;
    std::uint32_t CentralOffset = 0;
    std::uint16_t CommentLength = 0;
    static TEnd Parse(const std::uint8_t* p);
};

// The library's own 64-bit ending, 26 bytes: 0 signature(4), 16 central
// directory offset(8); the other bytes are not interpreted.
struct TVirOV_End64 {
    static constexpr std::int32_t kSize = 26;
    std::uint32_t Signature = 0;
    std::uint64_t CentralOffset = 0;
    static TVirOV_End64 Parse(const std::uint8_t* p);
};

// ZIP64 end of central directory locator, 20 bytes:
//   0 signature(4)  4 disk with the ZIP64 end record(4)
//   8 offset of the ZIP64 end record(8)  16 total disks(4)
struct TWZipLocator {
    static constexpr std::int32_t kSize = 20;
    std::uint32_t Signature = 0;
    std::uint32_t EndDisk = 0;
    std::uint64_t EndOffset = 0;
    std::uint32_t TotalDisks = 0;
    static TWZipLocator Parse(const std::uint8_t* p);
};

// ZIP64 end of central directory record, 56 bytes:
//   0 signature(4)  4 remaining size(8)  12 made by(2)  14 needed(2)
//  16 this disk(4)  20 central dir disk(4)  24 entries here(8)
//  32 total entries(8)  40 central dir size(8)  48 central dir offset(8)
struct TWZip_END64 {
    static constexpr std::int32_t kSize = 56;
    std::uint32_t Signature = 0;
    std::uint64_t RecordSize = 0;
    std::uint16_t VersionMadeBy = 0;
    std::uint16_t VersionNeeded = 0;
    std::uint32_t ThisDisk = 0;
    std::uint32_t CentralDisk = 0;
    std::uint64_t EntriesThisDisk = 0;
    std::uint64_t TotalEntries = 0;
    std::uint64_t CentralSize = 0;
    std::uint64_t CentralOffset = 0;
    static TWZip_END64 Parse(const std::uint8_t* p);
};

// The upper halves (bits 32 to 63) that widen entry sizes and offsets, and
// the id and size of the last extra field read. A ZIP64 field fills them
// whole; the library's own high-word field gives 16 bits of each.
struct TCentral64Hdr {
    std::uint16_t Id = 0;
    std::uint16_t DataSize = 0;
    std::uint32_t HighPacked = 0;
    std::uint32_t HighUnpacked = 0;
    std::uint32_t HighOffset = 0;
};

// A size or offset from its 32-bit header field and its upper half. A
// declared value beyond what a signed 64-bit number holds is a lie that
// could only wrap: it reads as the largest value instead.
inline std::int64_t WideValue(std::uint32_t low, std::uint32_t high)
{
    const std::uint64_t v = (static_cast<std::uint64_t>(high) << 32) | low;
    return v > static_cast<std::uint64_t>(INT64_MAX) ? INT64_MAX : static_cast<std::int64_t>(v);
}

// Adds two non-negative sizes (declared ones may be huge) without wrapping.
inline std::int64_t SaturatedAdd(std::int64_t a, std::int64_t b)
{
    return b > 0 && a > INT64_MAX - b ? INT64_MAX : a + b;
}

// WinZip AES extra field (id 0x9901), 7 data bytes: vendor version(2),
// vendor id "AE"(2), strength(1: 128, 2: 192, 3: 256 bits), real method(2).
struct TAesHeader {
    std::uint16_t Id = 0;
    std::uint16_t DataSize = 0;
    std::uint16_t VendorVersion = 0;
    std::uint16_t VendorId = 0;
    std::uint8_t Strength = 0;
    std::uint16_t Method = 0;
};

constexpr std::uint16_t EXTRA_ZIP64 = 0x0001;
constexpr std::uint16_t EXTRA_HIGH_WORDS = 0x0064;
constexpr std::uint16_t EXTRA_STRONG_ENCRYPTION = 0x0017;
constexpr std::uint16_t EXTRA_AES = 0x9901;

// The header fields an extra-field area may widen.
struct TExtraTarget {
    std::uint32_t* PackedSize = nullptr;
    std::uint32_t* UnpackedSize = nullptr;
    std::uint32_t* RelativeOffset = nullptr;  // central headers only
};

// Interprets an extra-field area of len bytes for a local (htLocal) or
// central (htCentral) header. Every field is checked against the bytes that
// remain; a field that claims more ends the reading there. Fixed records
// are filled only from fields large enough to hold them.
void ParseExtraField(const std::uint8_t* data, std::size_t len, THeaderType kind, const TExtraTarget& target,
                     TCentral64Hdr& hdr, TAesHeader& aes, std::vector<std::uint8_t>& strong);

// ---- names ----------------------------------------------------------------------------------
// A ZIP entry's name is stored as bytes whose character set depends on the
// program that wrote it:
//   - flag bit 11 set: UTF-8;
//   - otherwise by the host in the high byte of "version made by": Unix (3),
//     BeOS (16) and macOS (19) wrote their system's UTF-8, DOS, OS/2 and
//     Windows hosts (and every other) code page 437;
//   - a local header alone names no host (ncUnknown, see TNameCoding).
// Info-ZIP's Unicode path field (0x7075: version 1, the CRC-32 of the name
// as stored, the name in UTF-8) overrides the stored name when its CRC
// matches it; a name changed by a tool that did not know the field keeps
// the stored form. Local and central names are compared as stored.
constexpr std::uint16_t EXTRA_UNICODE_PATH = 0x7075;
TNameCoding ZipHostCoding(std::uint16_t versionMadeBy);
std::string ZipUnicodePath(const std::uint8_t* extra, std::size_t len, const std::string& rawName);
std::string ZipEntryName(const std::string& rawName, std::uint16_t flags, TNameCoding hostCoding, bool translate,
                         const std::uint8_t* extra, std::size_t extraLen);

// Finds the data descriptor that ends an entry whose sizes follow its data
// (a ZIP written to a pipe): the first "PK 07 08" record after dataAt whose
// compressed size equals its distance from dataAt. Returns its position
// (the record is 16 bytes), or -1 when there is none before size.
class TStream32;
std::int64_t FindDataDescriptor(TStream32& stream, std::int64_t dataAt, std::int64_t size, std::uint32_t& crc,
                                std::uint32_t& packed, std::uint32_t& unpacked);

// ---- times and modes --------------------------------------------------------------------------
// An entry's modification time from its extra field: the NTFS field
// (0x000A, tag 1: 100-nanosecond units since 1601) before the universal
// time field (0x5455: its flags, then, with flag bit 0, the modification
// time as seconds since 1970, unsigned as unzip, 7z and libarchive read it).
// Known is false when neither is there; the DOS date-time then stands.
constexpr std::uint16_t EXTRA_NTFS = 0x000A;
constexpr std::uint16_t EXTRA_UNIVERSAL_TIME = 0x5455;
TUnixTime ZipExtraModTime(const std::uint8_t* extra, std::size_t len);
// The Unix mode of a regular file that a Unix host keeps in the high half
// of the external attributes; -1 for other hosts, other kinds of file, or
// when none is stored.
std::int32_t ZipUnixMode(std::uint16_t versionMadeBy, std::uint32_t externalAttr);

// Signature helpers.
THeaderType VerSig(std::uint32_t signature, THeaderType kind, bool& encrypted);
bool IsHeaderEncrypted(std::uint32_t signature);
bool IsZipCompatible(std::uint32_t signature);
bool is64BitEndingHdr(std::uint32_t signature);
std::uint32_t DefSig(THeaderType kind, bool encrypted);
bool GetZipCompatible();

// Decodes or encodes a header in place with the header keys (restarted from
// their starting triple); the buffer starts with the signature and holds the
// record's full fixed size.
void DecodeHeader(std::uint8_t* buffer, THeaderType kind);
void EncodeHeader(std::uint8_t* buffer, THeaderType kind);
// Name and comment coding continue with the key state the header left.
void DecodeFilename(void* buffer, std::size_t length);
void DecodeComment(void* buffer, std::size_t length);
void EncodeFilename(void* buffer, std::size_t length);
void EncodeComment(void* buffer, std::size_t length);
