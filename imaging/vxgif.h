// GIF files read by the image classes.
//
// The viewer shows GIF files through the GIF graphic class; this reader
// serves format detection and callers that want one frame of a GIF as a
// plain image: the selected frame composed onto the logical screen, or,
// for a true-colour GIF spread over many small frames, all of them
// assembled into one 24-bit picture.
#pragma once

#include "imaging/vximage.h"

#include <cstdint>

class VxFile;

class VxImageGIF : public VxImage {
public:
    VxImageGIF() : VxImage(VXFMT_GIF) {}

    // Decodes the frame chosen with SetFrame; GetFrameCount then tells how
    // many frames lie inside the logical screen.
    bool Decode(VxFile* stream);
    // Writes a GIF89a file of one image (vxgifwrite.cpp); an image of more
    // than 8 bits per pixel as a mosaic of small frames with exact palettes.
    // The codec option of VXFMT_GIF picks the code stream: 1 uncompressed,
    // 2 run-length, any other LZW. False, with the last error set, for an
    // image wider or higher than 65,535 pixels and whenever the stream
    // reports a write error.
    bool Encode(VxFile* stream);
    // The comment written with the image (at most 255 characters are kept).
    void SetComment(const char* text);

    // What the file said, kept after decoding.
    const char* GetComment() const { return m_comment; }
    std::int32_t GetLoopCount() const { return m_loopCount; }
    std::int32_t GetDisposalMethod() const { return m_disposal; }
    std::uint16_t GetControlDelay() const { return m_control.delay; }

private:
    friend class GifDecodeRun;
    friend class GifEncodeRun;

    // The graphic control extension's data as read.
    struct GraphicControl {
        std::uint8_t flags = 0;  // bit 0 transparency, bits 2 to 4 disposal
        std::uint16_t delay = 0;  // hundredths of a second
        std::uint8_t transparentIndex = 0;
    };

    GraphicControl m_control;
    char m_comment[256] = {};
    std::int32_t m_loopCount = 0;
    std::int32_t m_disposal = 0;
};
