// TAR headers, read the same way by the lister and the extractor.
//
// A TAR archive is a chain of 512-byte headers, each followed by its data
// padded to a multiple of 512 bytes:
//
//   offset size field
//        0  100 name (zero-terminated unless it fills the field)
//      100    8 mode          (octal text)
//      108    8 owner id      (octal text)
//      116    8 group id      (octal text)
//      124   12 size          (octal text, or base-256 when the top bit of the first byte is set)
//      136   12 mtime         (octal text or base-256, Unix seconds)
//      148    8 checksum      (octal text: the header's byte sum with this field as blanks)
//      156    1 typeflag      ('0' or NUL file, '1' hard link, '2' symbolic link, '5' folder,
//                              'S' GNU sparse file, 'L'/'K' GNU long name/link, 'x'/'g' pax
//                              records, 'V' volume label)
//      157  100 linkname
//      257    6 magic         ("ustar")
//      345  155 prefix        (ustar: the folder part of a name too long for the name field)
//      386   96 GNU 'S': four (offset, size) pairs of 12 octal bytes each, the map of the
//                              data segments
//      482    1 GNU 'S': 1 when 512-byte blocks of 21 more pairs (and their own flag at
//                              504) follow the header, before the data
//      483   12 GNU 'S': the file's real size
//
// Records that describe the entry after them (GNU long names, pax records)
// are consumed by the reader and applied to that entry; they are never
// entries of their own. pax records give the entry's path, link, size and
// modification time (seconds with a fraction), and GNU's sparse maps:
// format 0.0 as repeated GNU.sparse.offset/numbytes records, 0.1 as one
// GNU.sparse.map record, 1.0 as decimal lines at the start of the data
// (count, then offset and size per segment, padded to a block); the real
// name and size stand in GNU.sparse.name and GNU.sparse.size/realsize.
// A sparse file's data are its segments one after the other; the rest of
// the file is holes.
#pragma once

#include "archive/zadstreams.h"

#include <cstdint>
#include <string>
#include <vector>

inline constexpr int kTarBlock = 512;

// The sum of the 512 header bytes as unsigned values, with the 8 bytes of
// the checksum field counted as blanks.
std::uint32_t CalcCheckSum(const std::uint8_t* header);
// True when the checksum field holds the header's sum (an all-zero block
// fails: its sum is 256).
bool ValidateTarHeader(const std::uint8_t* header);
// A numeric field: octal text (blanks and zeros end it), or the base-256
// form. False when the field holds no number or one above 2^63 - 1; with
// allowNegative the base-256 form may be negative (times before 1970).
bool TarNumber(const std::uint8_t* field, int length, std::int64_t& value, bool allowNegative = false);

// One data segment of a sparse file: where it stands in the file.
struct TTarSegment {
    std::int64_t Offset = 0;
    std::int64_t Size = 0;
};

struct TTarEntry {
    std::string Name;  // '/' separated, without a trailing '/'
    std::string LinkName;
    char Type = '0';
    std::int64_t Size = 0;  // bytes of data behind the header
    std::int64_t MTime = 0; // Unix seconds (negative before 1970)
    std::int32_t MTimeNs = 0;
    bool HasMTime = false;
    std::int32_t Mode = -1;  // the mode field's permission bits, -1 when it holds none
    std::uint32_t CheckSum = 0;
    std::int64_t HeaderOffset = 0;  // the entry's own header (after any long-name records)
    std::int64_t DataOffset = 0;
    // A sparse file: its real size and its segments, whose bytes follow one
    // another from SegmentsOffset. SparseBad: a map that contradicts itself
    // or the data (segments out of order, past the real size, more bytes
    // than the entry holds).
    bool Sparse = false;
    bool SparseBad = false;
    std::int64_t RealSize = 0;
    std::int64_t SegmentsOffset = 0;
    std::vector<TTarSegment> Segments;
    bool IsDir() const { return Type == '5'; }
    bool IsLink() const { return Type == '1' || Type == '2'; }
    bool IsHardLink() const { return Type == '1'; }
    bool IsFile() const { return Type == 0 || Type == '0' || Type == '7' || Type == 'S'; }
    // The size of the file the entry stands for (a sparse file's real size).
    std::int64_t FileSize() const { return Sparse ? RealSize : Size; }
    // Files, links and folders are entries; devices, FIFOs and the like are not.
    bool Listed() const;
};

// Walks the headers from a position. Next gives the next entry, with any
// long-name and pax records before it applied.
class TTarReader {
public:
    enum class TStep { Entry, End, BadHeader };
    TTarReader(TStream32& stream, std::int64_t position);
    TStep Next(TTarEntry& entry);
    // Where the header after the last entry given stands.
    std::int64_t Position() const { return m_pos; }

private:
    bool ReadData(std::int64_t offset, std::int64_t size, std::string& data);
    // GNU 'S': the pairs of the header and of the extension blocks after it;
    // moves dataAt past those blocks. False when the blocks run past the end.
    bool ReadGnuSparse(const std::uint8_t* header, std::int64_t& dataAt, TTarEntry& e);
    // pax 1.0: the map at the start of the data.
    void ReadSparseMap(TTarEntry& e);
    TStream32& m_stream;
    std::int64_t m_size;
    std::int64_t m_pos;
};
