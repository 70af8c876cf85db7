// The headers of the ARC, PAK, cabinet, RAR, ACE, HA and MsGZ archives as
// the lister reads them, and the ARC and RAR header readers the extractors
// share with it. Every reader takes the bytes it was given and a length,
// and never looks past them.
#pragma once

#include "archive/zadgbls.h"

#include <cstdint>
#include <string>

class TVirOV;
class TStream32;
class TZipCommon;

// ---- ARC and PAK ------------------------------------------------------------------------

// A 29-byte ARC header. Method 1 (the oldest stored form) has no unpacked
// size: its header is 25 bytes and both sizes are the packed size.
struct TArcHeader {
    static constexpr int kSize = 29;
    static constexpr int kOldSize = 25;
    std::uint8_t Signature = 0;
    std::uint8_t Method = 0;
    std::string Name;  // up to the first zero of the 13 name bytes (empty without one)
    std::uint32_t PackedSize = 0;
    std::uint32_t DateTime = 0;  // DOS date low, DOS time high
    std::uint16_t Crc = 0;
    std::uint32_t UnpackedSize = 0;

    // Reads the header from the n bytes at p (n below 29 leaves the fields
    // beyond it as 0).
    static TArcHeader Parse(const std::uint8_t* p, int n);
    int HeaderSize() const { return Method == 1 ? kOldSize : kSize; }
    // The usual DOS date-time (time low, date high).
    std::int32_t DosDateTime() const { return static_cast<std::int32_t>((DateTime >> 16) | (DateTime << 16)); }
    bool IsDirectory() const { return Method == 30; }
};

// Whether an ARC walk goes on at a header of this signature and method
// (PAK archives end only at method 0).
bool ArcWalkGoesOn(const TArcHeader& h, bool pak);

// ---- cabinets -----------------------------------------------------------------------------

// What a cabinet's header says of it and of its set.
struct TCabinetSetInfo {
    WORD Flags = 0;  // 1: a previous cabinet, 2: a next one, 4: reserved areas
    int Files = 0;
    BYTE Minor = 0, Major = 0;
    WORD SetId = 0;
    WORD Index = 0;  // in the set, the first being 0
    std::uint32_t FirstFile = 0;  // the first file entry's offset
    WORD FirstMethod = 0;
    std::string PrevCabinet, PrevDisk, NextCabinet, NextDisk;
    bool HasPrevious() const { return (Flags & 0x01) && !PrevCabinet.empty(); }
};
// Reads the header of the cabinet at start; false when there is none.
bool ReadCabinetSetInfo(TStream32& stream, std::int64_t start, std::int64_t fileSize, TCabinetSetInfo& info);

// ---- RAR (the 1.5 to 4 format) --------------------------------------------------------------

// The fixed part of a RAR file header (type 0x74) and its name.
struct TRarFileHeader {
    static constexpr int kBlockSize = 7;
    static constexpr int kFixedSize = 32;
    std::uint16_t HeadCrc = 0;
    std::uint8_t Type = 0;
    std::uint16_t Flags = 0;
    std::uint16_t HeadSize = 0;
    std::uint64_t PackedSize = 0;  // with the high part when flag 0x100 is set
    std::uint64_t UnpackedSize = 0;
    std::uint8_t HostOS = 0;
    std::uint32_t FileCrc = 0;
    std::uint32_t DosDateTime = 0;
    std::uint8_t UnpackVersion = 0;
    std::uint8_t Method = 0;
    std::uint16_t NameSize = 0;
    std::uint32_t Attributes = 0;
    std::string RawName;  // NameSize bytes, read within the header

    bool ContinuedFromPrevious() const { return Flags & 0x01; }
    bool ContinuedInNext() const { return Flags & 0x02; }
    bool IsEncrypted() const { return Flags & 0x04; }
    bool IsUnicode() const { return Flags & 0x200; }
    // The attributes as the library shows them: Unix modes become 16 or 32.
    std::uint32_t WindowsAttributes() const;
    // A Unix host's permission bits of a regular file (none for others).
    TEntryStamp Stamp() const;
    bool IsDirectory() const;
};

// Whether a RAR archive of the format 5 starts at start ("Rar!" 1A 07 01
// 00), which neither the walk nor the RAR library reads.
bool IsRar5(TStream32& stream, std::int64_t start);
// What the lister and the extractor say of such an archive.
inline constexpr const char* kRar5Remark = "RAR 5 archives are not supported";

// What one block of a RAR walk is.
enum class TRarBlock { File, Skip, End, Bad, Cut };

// Reads the block at pos of a RAR 1.5-4 archive. File: h holds the file
// header and its name; Skip: a block to step over to next; End: the walk
// ends (a block without the long-block flag, a zero size); Bad: the block
// contradicts itself (its name runs past its header, a size too small for
// its fields); Cut: it runs past the end of the stream.
TRarBlock ReadRarBlock(TStream32& stream, std::int64_t pos, std::int64_t size, TRarFileHeader& h, std::int64_t& next);
// Where the first block after the marker and main header of a RAR archive
// at start lies; -1 when there is no 1.5-4 RAR archive there (a RAR 5
// archive is none).
std::int64_t RarFirstBlock(TStream32& stream, std::int64_t start);
// The place of a volume in its set, counted from 1, by its name:
// name.part3.rar is the third; name.rar the first, name.r00 the second,
// name.r99 the 101st and name.s00 the 102nd.
int RarVolumeOrdinal(const std::string& path);
// The name of a file header as the library shows it ('/' separators).
std::string RarEntryName(const TZipCommon& c, const TRarFileHeader& h);

// ---- the lister ---------------------------------------------------------------------------

// Gives the lister the steps of the formats of this file.
void RegisterRecordListFormats();

// For the format steps: counts and reports the current entry when the masks
// select it (a folder is shown only with ShowEmptyDirs and never counted),
// and resets the entry fields a header may not set.
void ReportEntry(TVirOV& v, std::int64_t offset, bool isDir, std::int64_t unpacked, std::int64_t packed);
void ClearEntry(TVirOV& v);
