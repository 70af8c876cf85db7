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
// The buffers an entry needs (input, window, output, the zlib state and the
// AES context) live for the whole run.
#pragma once

#include "archive/zadunbase.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// One collected entry, as the central directory (or, in recovery, the
// local header) describes it.
struct TZipEntry {
    std::string Name;  // '/' separators
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
    std::vector<TZipEntry> m_entries;
    const TZipEntry* m_current = nullptr;
    std::unique_ptr<TRunBuffers> m_run;
};

class TUnJar : public TUnZip {
public:
    explicit TUnJar(TComponent* owner = nullptr);

protected:
    bool IsDirectoryEntry(const TZipEntry& e) const override;
};
