// gzip (RFC 1952) and compress files: the member header, read the same way
// by the lister and the extractor, and the decoder of a whole gzip file.
//
// A gzip member:
//
//   offset size field
//        0    2 ID1 ID2 (1F 8B; 1F 9E for the older gzip)
//        2    1 CM      (8: deflate)
//        3    1 FLG     (0x02 header CRC, 0x04 FEXTRA, 0x08 FNAME, 0x10 FCOMMENT, 0x20 encrypted)
//        4    4 MTIME   (Unix seconds, little-endian)
//        8    1 XFL
//        9    1 OS
//       10      [XLEN (2) and XLEN bytes] [name, zero-terminated] [comment, zero-terminated] [CRC16 (2)]
//               deflate data
//      end-8    4 CRC-32 of the member's data, 4 ISIZE (its size modulo 2^32)
//
// A file may hold several members one after the other (what "cat a.gz
// b.gz" makes); they decode to the concatenation of their data. A compress
// file (1F 9D) is its 3-byte header and LZW codes.
#pragma once

#include "archive/zadstreams.h"

#include <cstdint>
#include <functional>
#include <string>

inline constexpr std::uint16_t kGzipMagic = 0x8B1F;
inline constexpr std::uint16_t kGzipOldMagic = 0x9E1F;
inline constexpr std::uint16_t kCompressMagic = 0x9D1F;
inline constexpr int kGzipFixedHeader = 10;

struct TGzipHeader {
    std::uint16_t Magic = 0;
    std::uint8_t Method = 0;
    std::uint8_t Flags = 0;
    std::uint32_t MTime = 0;
    std::uint8_t ExtraFlags = 0;
    bool HasName = false;
    std::string Name;  // the stored name's last component
    std::int64_t DataOffset = 0;
    bool IsGzip() const { return Magic == kGzipMagic || Magic == kGzipOldMagic; }
};

// Reads the header of the member at pos. For gzip signatures the optional
// fields are stepped over and DataOffset is where the deflate data begins;
// other signatures have only their first bytes read. False when the stream
// ends inside the header or the signature is none of the five accepted.
bool ReadGzipHeader(TStream32& stream, std::int64_t pos, TGzipHeader& header);

// The last component of a stored name ("a/b\c.txt" gives "c.txt"), as
// "gzip -N" keeps it; empty for "..", "." and names of no component.
std::string GzipStoredBaseName(const std::string& stored);

enum class TGzipResult {
    Ok,
    BadData,       // invalid deflate data, a truncated member or a header that is no gzip
    BadCheck,      // a member whose CRC-32 or size does not match its trailer
    WriteFailed,
    Cancelled,
};

// Decodes every member of the gzip file in stream from its start: all of
// them are checked against their trailers; the members end where the input
// ends, at bytes that are no member header, or at zero padding. Decoded
// bytes go to write (false stops the decode); progress gets the input
// bytes consumed after each piece; cancel is polled between pieces.
TGzipResult DecodeGzipFile(TStream32& stream, const std::function<bool(const std::uint8_t*, std::size_t)>& write,
                           const std::function<void(std::int64_t)>& progress, const bool* cancel);

// The name of a compressed file's one entry: the stored name's last
// component, else the archive's name without its extension. A name ending
// in ".tgz" becomes ".tar" (also the archive's own name when nothing is
// stored); an extension equal to the archive's own is removed.
std::string GzipEntryName(const TGzipHeader& header, const std::string& archivePath);
