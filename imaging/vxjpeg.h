// JPEG files through libjpeg (API 62), with the EXIF record of the file.
#pragma once

#include "imaging/vxexif.h"
#include "imaging/vximage.h"

#include <cstdint>
#include <memory>

class VxFile;

// Codec option bits of format 3.
enum : std::uint32_t {
    VXJPG_BASELINE = 0x01,      // encode: baseline quantisation tables
    VXJPG_ARITHMETIC = 0x02,    // encode: arithmetic coding
    VXJPG_GREY = 0x04,          // encode: greyscale file
    VXJPG_OPTIMIZE = 0x08,      // encode: optimised Huffman tables
    VXJPG_PROGRESSIVE = 0x10,   // encode: progressive file
    VXJPG_SMOOTHING = 0x40,     // encode: the class's smoothing factor
    VXJPG_DECODE_GREY = 0x80,   // decode: greyscale image
    VXJPG_QUANTIZE = 0x100,     // decode: a palette of as many colours as the JPEG quality byte
    VXJPG_DITHER = 0x200,       // decode: the class's dither mode
    VXJPG_ONE_PASS = 0x400,     // decode: no two-pass quantisation
    VXJPG_NO_FANCY = 0x800,     // decode: no fancy upsampling
};

class VxImageJPG : public VxImage {
public:
    using VxExifInfo = ::VxExifInfo;
    // The libjpeg source and destination over a VxFile (vxjpeg.cpp).
    class VxFileJpg;

    VxImageJPG();
    ~VxImageJPG() override;

    bool Decode(VxFile* stream);
    bool Encode(VxFile* stream);
    // Reads the marker sections before the scan into the EXIF record; true
    // when an EXIF segment was parsed. The stream position is restored.
    bool ReadExif(VxFile* stream);

    const ExifInfoRecord& GetExifInfo() const { return m_exifRecord; }
    // The section reader of the last decode (null before any), with its
    // error text.
    const VxExifInfo* GetExifReader() const { return m_exif.get(); }

private:
    struct DecodeJob;
    struct EncodeJob;
    bool RunDecode(DecodeJob& job, VxFileJpg& source, bool exifFound);
    bool RunEncode(EncodeJob& job, VxFileJpg& destination);

    std::unique_ptr<VxExifInfo> m_exif;
    ExifInfoRecord m_exifRecord{};
    std::int32_t m_smoothing = 0;
    std::uint8_t m_ditherMode;
};
