// The ZIP extractor TUnZip and its JAR twin TUnJar. A first pass walks the
// central directory and collects the selected entries; a second pass
// extracts them one by one: the local header is checked against the central
// one, then doOnBegin, the password (traditional cipher or WinZip AES), the
// output, the method's decoder (stored; deflate through zlib; Deflate64
// through the library's own decoder), CloseAndSetDate and doOnEnd.
//
// Entries are selected and written under their central name; sizes come
// whole from the central header and its ZIP64 field. Without a central
// directory (only local headers found) the entries are found by walking the
// local headers.
#pragma once

#include "archive/zadunbase.h"

#include <cstdint>
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
    std::int32_t ExternalAttr = 0;
    TEncryptionMethod Encryption = emNone;
    TAesHeader Aes;
    bool Strong = false;
};

class TUnZip : public TUnBase {
public:
    explicit TUnZip(TComponent* owner = nullptr);
    ~TUnZip() override;

    void _Extract(TStream32*& inStream, TStream32* outStream) override;
    bool VerifyPassword(std::uint8_t* header) override;

    int BuildHeadArray(TStream32* inStream);
    void ProcessHeaders(TStream32* inStream, TStream32* outStream);
    int RecoveryBuildHeadArray(TStream32* inStream);
    void RecoveryProcessHeaders(TStream32* inStream, TStream32* outStream);
    bool OpenAndExtractFile(TStream32* inStream, TStream32* outStream, int index, std::int32_t attr);
    bool ExtractFile(const TInflateRec& rec, TStream32*& outStream, TStream32* inStream);
    bool ExtractInflate(TStream32* inStream, TStream32*& outStream, std::int8_t maxBits);
    bool ExtractInflate32(TStream32* inStream, TStream32*& outStream, std::int8_t maxBits);
    bool ExtractInflate64(TStream32* inStream, TStream32*& outStream, std::int8_t maxBits);
    static TEncryptionMethod GetEncryptionMethod(WORD flags, const TAesHeader& aes, bool strong);

    TSeedKeys SeedDataKeys{skDataKeys};
    TSeedKeys SeedHeaderKeys{skHeaderKeys};

    const std::vector<TZipEntry>& Entries() const { return m_entries; }

protected:
    virtual bool IsDirectoryEntry(const TZipEntry& e) const;

private:
    bool ReadLocal(TStream32* in, const TZipEntry& e, std::int64_t& dataAt, std::string& localName);
    std::vector<TZipEntry> m_entries;
    const TZipEntry* m_current = nullptr;
};

class TUnJar : public TUnZip {
public:
    explicit TUnJar(TComponent* owner = nullptr);

protected:
    bool IsDirectoryEntry(const TZipEntry& e) const override;
};

// Reads the 64-bit values of a ZIP64 extra field (id 1) from an extra-field
// area: each is present only when the header's 32-bit field is 0xFFFFFFFF.
void ReadZip64Sizes(const std::uint8_t* extra, std::size_t len, bool central, std::int64_t& unpacked,
                    std::int64_t& packed, std::int64_t& offset);
