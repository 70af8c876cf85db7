// ARJ headers, as the lister and the ARJ extractor read them.
//
// An archive is a main header, one local header per entry followed by the
// entry's packed data, and an end header whose basic size is 0. Every
// header has the same frame (little-endian):
//
//   +0   2  header id 0xEA60 (bytes 60 EA)
//   +2   2  basic header size n (0: end of archive; at most 2,600)
//   +4   n  basic header (below)
//   +4+n 4  CRC-32 of the basic header
//   +8+n 2  size of an extended header (0: none), then that many bytes and
//           their CRC-32 (4), repeated until a size of 0
//   ...     the entry's packed data (local headers)
//
// Basic header:
//   0  first_hdr_size: where the name begins (30 and more; ARJ 3 writes 46)
//   1  archiver version     2 minimum version to extract     3 host OS
//   4  flags: 0x01 garbled, 0x04 continues in the next volume (main
//      header: a multi-volume archive), 0x08 continued from the previous
//      volume, 0x10 the path separators were '\'
//   5  method (0 stored, 1-3 LZH, 4 fastest)   6 file type (0 binary,
//      1 text, 2 comment header, 3 directory, 4 volume label)
//   7  garble password modifier
//   8  date-time: DOS (time low), or Unix seconds when the host is Unix (2)   12 packed size   16 original size
//   20 CRC-32 of the file   24 file-spec position   26 access mode
//   28 host data            (30.. extended fields up to first_hdr_size)
//   first_hdr_size: name, zero-terminated, then the comment, zero-terminated,
//   both inside the basic header.
#pragma once

#include "archive/zadgbls.h"

#include <cstdint>
#include <string>

class TStream32;
class TVirOV;

struct TArjHeader {
    static constexpr int kMaxBasicSize = 2600;
    static constexpr int kMinFirstSize = 30;
    std::int64_t Offset = 0;  // of the header id
    std::uint16_t BasicSize = 0;
    std::uint8_t FirstSize = 0;
    std::uint8_t Version = 0;
    std::uint8_t MinVersion = 0;
    std::uint8_t HostOS = 0;
    std::uint8_t Flags = 0;
    std::uint8_t Method = 0;
    std::uint8_t FileType = 0;
    std::uint8_t Modifier = 0;
    std::uint32_t TimeStamp = 0;  // as stored (see DosDate)
    std::uint32_t PackedSize = 0;
    std::uint32_t UnpackedSize = 0;
    std::uint32_t Crc = 0;
    std::uint16_t AccessMode = 0;
    std::string Name;  // raw (OEM) bytes, '\' or '/' separated
    std::string Comment;
    std::int64_t DataOffset = 0;  // behind the extended headers

    bool Garbled() const { return Flags & 0x01; }
    bool ContinuesInNext() const { return Flags & 0x04; }
    bool ContinuedFromPrevious() const { return Flags & 0x08; }
    bool IsDirectory() const { return FileType == 3; }
    // The archive's first header, of file type 2.
    bool IsMainHeader() const { return FileType == 2; }
    bool IsVolumeLabel() const { return FileType == 4; }
    std::int64_t NextOffset() const { return DataOffset + PackedSize; }
    // What a Unix host stores beyond a DOS date: the time in seconds since
    // 1970 and the permission bits of a file (the access mode's low 9 bits).
    TEntryStamp Stamp() const;
    // The name as the lister shows it and the extractor writes it: ARJ on
    // Unix hosts stores the system's UTF-8, on DOS and Windows code page 437.
    std::string EntryName(bool translate) const;
    // The date as a DOS date-time: ARJ on Unix hosts stores Unix seconds.
    std::int32_t DosDate() const;
    // The attributes as the library shows them: a Unix host's mode becomes
    // directory (0x10) or archive (0x20), read-only (0x01) without write
    // permission.
    std::int32_t WindowsAttributes() const;
};

enum class TArjRead {
    Header,  // h holds the header
    End,     // the end header (or the file ends exactly here)
    Bad,     // no header id, a size or name the header cannot hold, a wrong header CRC
    Cut,     // the header or its extended headers run past the end of the file
};

// What the lister and the extractor say when the first header found is an
// entry's, its archive's main header before it being damaged.
inline constexpr const char* kDamagedMainHeader = "the archive's main header is damaged";

// Reads the header at pos of a file of fileSize bytes.
TArjRead ReadArjHeader(TStream32& stream, std::int64_t pos, std::int64_t fileSize, TArjHeader& h);

// Gives the lister the ARJ walk (plain and self-extracting).
void RegisterArjListFormat();
