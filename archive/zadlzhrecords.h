// The headers of the BH, LHA/LZH and ZOO archives, read once for the lister
// and the extractors alike. Every reader takes its bytes from the stream
// within the file's size, reads a header no further than the header itself
// announces, and moves a walk only forward (a ZOO entry linking back to a
// position at or before its own is refused, so a walk never loops).
#pragma once

#include "archive/zadgbls.h"

#include <cstdint>
#include <string>

class TStream32;

// What reading one header of a walk gave.
enum class TLzhRead {
    Entry,  // a header was read
    End,    // the chain ends here (its end mark, or the file ends between headers)
    Bad,    // the header contradicts itself or is cut off (25114)
};

// ---- BH -------------------------------------------------------------------------------------

struct TBhHeader {
    static constexpr int kSize = 37;
    static constexpr std::uint32_t kSignature = 0x07054842;
    static constexpr int kCipherHeader = 12;
    std::uint16_t HeaderSize = 0;
    std::uint8_t VersionMadeBy = 0;
    std::uint8_t VersionNeeded = 0;
    std::uint8_t Flags = 0;
    std::uint8_t Method = 0;
    std::uint32_t DosDateTime = 0;  // time low, date high
    std::uint32_t PackedSize = 0;   // with the 12-byte cipher header of an encrypted entry
    std::uint32_t UnpackedSize = 0;
    std::uint32_t Crc = 0;
    std::uint32_t Attributes = 0;
    std::uint16_t NameLength = 0;
    std::uint16_t ExtraLength = 0;
    std::string RawName;  // OEM code page, '\' separators
    std::int64_t DataOffset = 0;
    std::int64_t NextOffset = 0;

    bool Encrypted() const { return Flags & 1; }
    bool IsDirectory() const { return Attributes & 0x10; }
    // The packed bytes of the entry's data proper (no cipher header).
    std::int64_t DataSize() const;
    // Whether the name is one the format allows (below 256 bytes); an entry
    // with a longer name is stepped over.
    bool NameUsable() const { return NameLength < 256; }
};

// Reads the BH header at pos: Entry, or End at a wrong signature, a header
// size of 0 or the end of the file; Bad past the end of the file (the data
// before was cut off).
TLzhRead ReadBhHeader(TStream32& s, std::int64_t pos, std::int64_t fileSize, TBhHeader& h);

// ---- LHA and LZH ----------------------------------------------------------------------------

struct TLhaHeader {
    static constexpr int kBaseSize = 22;
    int Level = 0;
    char MethodId[5] = {};
    std::uint32_t PackedSize = 0;  // the data's packed bytes (level 1: without its extended headers)
    std::uint32_t UnpackedSize = 0;
    std::uint32_t Time = 0;  // DOS date-time for levels 0 and 1, Unix time for level 2
    std::uint8_t Attribute = 0;
    std::uint16_t Crc = 0;
    char OsId = 0;
    std::string RawName;    // the name as stored
    std::string RawFolder;  // the folder extended header's text as stored
    std::int64_t DataOffset = 0;
    std::int64_t NextOffset = 0;
    // From the Unix extended headers: the mode (0x50) and the time in
    // seconds since 1970 (0x54); -1 and 0 when absent.
    std::int32_t UnixMode = -1;
    bool HasUnixTime = false;
    std::uint32_t UnixTime = 0;

    char MethodChar() const { return MethodId[3]; }
    // A folder entry; LHA on Unix stores a symbolic link as one named
    // "name|target" (IsLink).
    bool IsDirectory() const { return MethodChar() == 'd' && !IsLink(); }
    bool IsLink() const { return MethodChar() == 'd' && RawName.find('|') != std::string::npos; }
    // The link's target text, as stored after the '|'.
    std::string LinkTarget(bool translate) const;
    // Whether the id has the form "-??x-" with a method character the
    // extractor knows (0, 1, 4 to 7, d).
    bool MethodKnown() const;
    // The entry's name with its folder, '/' separators.
    std::string StoredName() const;
    // The same as the lister shows it and the extractor writes it: LHA on
    // Unix ('U') stores the system's UTF-8; DOS, OS/2 and Windows ('M', '2',
    // 'w', 'W') code page 437; other systems and level 0 do not say.
    std::string EntryName(bool translate) const;
    // The time as a DOS date-time (level 2 keeps Unix time whatever the system).
    std::int32_t DosDateTime() const;
    // The Unix time of a level-2 header or of the 0x54 extended header, the
    // permission bits of a file from 0x50.
    TEntryStamp Stamp() const;
};

// Reads the LHA header at pos with its extended headers. End at the zero
// byte that ends an archive, at a level above 2 or at the end of the file;
// Bad past the end of the file (the data before was cut off).
TLzhRead ReadLhaHeader(TStream32& s, std::int64_t pos, std::int64_t fileSize, TLhaHeader& h);

// ---- ZOO ------------------------------------------------------------------------------------

struct TZooEntry {
    static constexpr int kSize = 58;
    static constexpr std::uint32_t kTag = 0xFDC4A7DC;
    std::uint8_t Type = 0;
    std::uint8_t Method = 0;
    std::int32_t NextOffset = 0;
    std::int32_t DataOffset = 0;
    std::uint16_t Date = 0;
    std::uint16_t Time = 0;
    std::uint16_t Crc = 0;
    std::uint32_t UnpackedSize = 0;
    std::uint32_t PackedSize = 0;
    std::uint8_t MajorVersion = 0;
    std::uint8_t MinorVersion = 0;
    bool Deleted = false;
    std::int32_t CommentOffset = 0;
    std::uint16_t CommentLength = 0;
    std::string ShortName;  // 8.3
    std::string LongName;   // from the variable part, when there is one
    std::string Folder;     // from the variable part, '/' separators
    std::int64_t Offset = 0;

    std::int32_t DosDateTime() const { return static_cast<std::int32_t>(Time | (static_cast<std::uint32_t>(Date) << 16)); }
    // The long name when there is one, else the short name, behind the folder.
    std::string StoredName() const;
};

// Reads the archive header at the start of the file: the position of the
// first directory entry, or -1 when the header is missing or its position
// and the negated copy disagree.
std::int64_t ReadZooArchiveHeader(TStream32& s, std::int64_t fileSize);

// A walk over the directory entries from the first one. Next gives the next
// live entry: deleted entries are stepped over, the entry whose next
// position is 0 closes the chain (End), and a position that does not lie
// after the last one or lies outside the file, or a wrong tag, is Bad.
class TZooWalk {
public:
    TZooWalk(TStream32& s, std::int64_t fileSize, std::int64_t first) : m_s(s), m_size(fileSize), m_next(first) {}
    TLzhRead Next(TZooEntry& e);

private:
    TStream32& m_s;
    std::int64_t m_size;
    std::int64_t m_next;
    std::int64_t m_last = -1;
};

// Reads the entry at pos; Bad for a wrong tag or a cut entry.
TLzhRead ReadZooEntry(TStream32& s, std::int64_t pos, std::int64_t fileSize, TZooEntry& e);

// ---- the lister ---------------------------------------------------------------------------

// Gives the lister the steps of BH, LHA/LZH and ZOO archives.
void RegisterLzhListFormats();
