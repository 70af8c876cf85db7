// The marker sections of a JPEG file and the EXIF camera data in them.
//
// A section holds one marker segment as stored after its marker: the two
// big-endian length bytes, then the contents. The marker itself is the
// section's type. A pseudo-section of type 0x123 holds everything after the
// start-of-scan segment (the compressed picture and what follows it).
#pragma once

#include <cstdint>
#include <vector>

class VxFile;

// What a JPEG file tells about itself: the camera's EXIF record, the
// comment and the frame.
struct ExifInfoRecord {
    char version[5];
    char cameraMake[32];
    char cameraModel[40];
    char dateTime[20];
    std::int32_t height;
    std::int32_t width;
    std::int32_t orientation;  // 1 to 8, 0 when undefined
    std::int32_t isColor;
    std::int32_t process;  // marker of the frame header, 0xC0 to 0xCF
    std::int32_t flashUsed;
    float focalLength;
    float exposureTime;
    float apertureFNumber;
    float distance;
    float ccdWidth;
    float exposureBias;
    std::int32_t lightSource;
    std::int32_t meteringMode;
    std::int32_t exposureProgram;
    std::int32_t isoEquivalent;
    std::int32_t compressionLevel;
    float focalPlaneXRes;
    float focalPlaneYRes;
    float focalPlaneUnits;  // inches per unit
    float xResolution;
    float yResolution;
    float resolutionUnit;  // inches per unit
    float brightness;
    char comments[1000];
    const std::uint8_t* thumbnailPointer;  // inside the kept EXIF section
    std::uint32_t thumbnailSize;
    bool isExif;
};

class VxExifInfo {
public:
    // Read modes of ReadSections.
    static constexpr int kReadExif = 1;   // parse EXIF and the comment, stop at the scan
    static constexpr int kReadImage = 2;  // keep everything up to the end of the stream
    static constexpr int kMaxSections = 20;
    static constexpr int kRestOfImage = 0x123;

    struct Section {
        std::uint8_t* data;
        int type;
        std::uint32_t size;
    };

    // Fills the given record, or a record of its own.
    explicit VxExifInfo(ExifInfoRecord* record = nullptr);
    ~VxExifInfo();
    VxExifInfo(const VxExifInfo&) = delete;
    VxExifInfo& operator=(const VxExifInfo&) = delete;

    bool ReadSections(VxFile* stream, int readMode);
    // The contents of an APP1 segment after its length bytes.
    bool ParseExifBlock(const std::uint8_t* data, std::uint32_t length);
    // The directory `offset` bytes after the offset base (byte 6 of the
    // block), in a block of `length` bytes counted from that base.
    bool ParseDirectory(std::uint64_t offset, const std::uint8_t* offsetBase, std::uint32_t length,
                        ExifInfoRecord* record, const std::uint8_t** lastReferenced, int depth = 0);
    double ReadNumber(const std::uint8_t* value, int format) const;
    std::uint16_t ReadUInt16(const std::uint8_t* p) const;
    std::int32_t ReadInt32(const std::uint8_t* p) const;
    std::uint32_t ReadUInt32(const std::uint8_t* p) const;
    static std::uint16_t ReadUInt16BigEndian(const std::uint8_t* p);
    // A comment segment as stored in its section (length bytes first).
    void ParseComment(const std::uint8_t* segment, std::uint32_t length);
    // A frame header segment as stored in its section.
    void ParseFrameHeader(const std::uint8_t* segment, std::uint32_t length, int marker);
    void KeepExifOnly();
    const Section* FindSection(int type) const;
    bool WriteSections(VxFile* stream);

    const ExifInfoRecord& Record() const { return *m_record; }
    const char* GetLastError() const { return m_error; }
    int SectionCount() const { return m_count; }
    const Section& SectionAt(int i) const { return m_sections[i]; }

private:
    bool Fail(const char* text);
    void DropLast();
    void ParseTag(std::uint16_t tag, int format, const std::uint8_t* value, std::uint64_t byteCount,
                  ExifInfoRecord* record);

    ExifInfoRecord* m_record;
    char m_error[256] = {};
    std::int32_t m_exifImageWidth = 0;
    bool m_motorola = false;  // "MM": big-endian
    Section m_sections[kMaxSections] = {};
    int m_count = 0;
    bool m_ownRecord = false;
    std::vector<std::uint64_t> m_parsed;  // directory offsets already parsed in this block
};
