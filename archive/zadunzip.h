// The ZIP extractor TUnZip and its JAR twin TUnJar. A first pass walks the
// central directory and collects the selected entries; a second pass
// extracts them one by one: the local header is checked against the central
// one, then doOnBegin, the password (traditional cipher or WinZip AES), the
// output, the method's decoder (stored; deflate through zlib; Deflate64,
// shrink, reduce and explode through the library's own decoders),
// CloseAndSetDate and doOnEnd.
//
// Entries are selected and written under their central name; sizes come
// whole from the central header and its ZIP64 field. Without a central
// directory (only local headers found) the entries are found by walking the
// local headers.
//
// Sizes and offsets are claims, not facts:
//   - an entry whose local header is missing fails alone (25115), wherever
//     it stands in the directory;
//   - entries whose data ranges overlap (several entries on one record, or
//     data that runs over another entry's header or into the central
//     directory) are refused (25252), the way unzip refuses a possible zip
//     bomb: of entries sharing a record the first in the directory keeps
//     it, and an entry whose data covers another's header is refused;
//   - an entry whose data passes the end of the archive, a stored entry
//     whose packed and unpacked sizes differ, and an entry whose data gives
//     more or fewer bytes than declared fail with 25193;
//   - an end record whose entry count or directory offset the directory
//     does not bear out is reported once (25114) and the run goes on.
//
// Split sets (.z01, .z02 ... .zip, atZipMV) and sets spanned over removable
// disks (atZipDS) are read part by part: the central directory on the last
// part, each entry from the part it starts on, asked for through
// OnNextVolume or the three disk events, and an entry's data goes on into
// the parts after it as far as its declared packed size reaches. Where the
// sizes of the parts before an entry are known (split sets, or parts
// opened already), its data is held to the set's end, to the next record
// and to the central directory as above; an entry whose part is refused or
// missing fails and leaves nothing, and the run ends.
//
// The buffers an entry needs (input, window, output, the zlib state and the
// AES context) live for the whole run.
#pragma once

#include "archive/zadunbase.h"
#include "archive/zadvolume.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// One collected entry, as the central directory (or, in recovery, the
// local header) describes it.
struct TZipEntry {
    std::string Name;     // as shown and written: UTF-8, '/' separators
    std::string RawName;  // as stored
    WORD Flags = 0;
    WORD Method = 0;
    std::uint32_t DosDateTime = 0;
    std::uint32_t Crc = 0;
    std::int64_t PackedSize = 0;
    std::int64_t UnpackedSize = 0;
    std::int64_t HeaderOffset = 0;
    std::int64_t DataOffset = 0;  // after the local header, its name and extra field
    std::int32_t ExternalAttr = 0;
    WORD DiskNumber = 0;
    TEncryptionMethod Encryption = emNone;
    TAesHeader Aes;
    bool Strong = false;
    std::vector<std::uint8_t> CentralHeader;  // the 46 fixed bytes; empty in recovery
    TEntryStamp Stamp;  // the time of the extra field, a Unix host's mode
    // Where the packed data claims to end (it may claim past the archive).
    std::int64_t DataEnd() const { return SaturatedAdd(DataOffset, PackedSize); }
};

class TUnZip : public TUnBase {
public:
    explicit TUnZip(TComponent* owner = nullptr);
    ~TUnZip() override;

    bool SupportsType(TArcType type) const override;
    void _Extract(TStream32*& inStream, TStream32* outStream) override;
    bool VerifyPassword(std::uint8_t* header) override;

    int BuildHeadArray(TStream32* inStream);
    void ProcessHeaders(TStream32* inStream, TStream32* outStream);
    int RecoveryBuildHeadArray(TStream32* inStream);
    void RecoveryProcessHeaders(TStream32* inStream, TStream32* outStream);
    bool OpenAndExtractFile(TStream32* inStream, TStream32* outStream, int index, std::int32_t attr);
    // Decodes the current entry; false when its data ended before the
    // decoder was done (the sizes then decide the failure).
    bool ExtractFile(const TInflateRec& rec, TStream32*& outStream, TStream32* inStream);
    bool ExtractInflate(TStream32* inStream, TStream32*& outStream, std::int8_t maxBits);
    bool ExtractLegacy(std::uint32_t method, TStream32* inStream, TStream32*& outStream);
    bool ExtractInflate32(TStream32* inStream, TStream32*& outStream, std::int8_t maxBits);
    bool ExtractInflate64(TStream32* inStream, TStream32*& outStream, std::int8_t maxBits);
    static TEncryptionMethod GetEncryptionMethod(WORD flags, const TAesHeader& aes, bool strong);

    TSeedKeys SeedDataKeys{skDataKeys};
    TSeedKeys SeedHeaderKeys{skHeaderKeys};
    TDiskSpannObj DiskSpann;

    const std::vector<TZipEntry>& Entries() const { return m_entries; }

protected:
    virtual bool IsDirectoryEntry(const TZipEntry& e) const;

private:
    struct TLocalInfo;
    struct TRunBuffers;
    bool ReadLocal(TStream32* in, std::int64_t offset, TLocalInfo& local);
    bool FindDisplacedLocal(TStream32* in, TZipEntry& e, std::int64_t& displacement);
    // Refuses (25252) the entries whose data ranges overlap another entry's
    // or run into the central directory.
    void RefuseOverlaps();
    // Hands the entries that survive RefuseOverlaps to HeaderList and adds
    // them to the totals.
    void CommitEntries();
    // The checks of an entry's declared sizes that need no decoding; false
    // after reporting 25193 or 25254.
    bool DeclaredSizesHold(const TZipEntry& e, std::uint32_t method);
    // Sets: the reader over the parts (after asking for the last disk of a
    // spanned set); false when the set cannot be read.
    bool OpenSet(TStream32*& inStream);
    bool OpenPart(int disk, std::int64_t offset, TStream32*& part);
    // Sets: where a position stands from the start of the first part; -1
    // while a part before it has no known size.
    std::int64_t SetPosition(int disk, std::int64_t offset) const;
    // Sets: the entry's data ends within the set and before the next
    // record (25193, 25252 otherwise).
    bool SetRangeHolds(const TZipEntry& e);
    struct TRecordAt {
        int disk;
        std::int64_t offset;
        std::string name;
    };
    std::vector<TZipEntry> m_entries;
    std::unique_ptr<TZipSetReader> m_set;
    int m_lastDisk = 0;
    std::vector<TRecordAt> m_records;
    const TZipEntry* m_current = nullptr;
    std::unique_ptr<TRunBuffers> m_run;
};

class TUnJar : public TUnZip {
public:
    explicit TUnJar(TComponent* owner = nullptr);

protected:
    bool IsDirectoryEntry(const TZipEntry& e) const override;
};
