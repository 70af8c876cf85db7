// The class library's JPEG graphic over libjpeg-turbo: a JPEG file decoded
// whole at full size into a bitmap, and a bitmap encoded as a JPEG file.
#pragma once

#include "graphics.h"

#include <memory>
#include <string>

class TJPEGImage : public TGraphic {
public:
    TJPEGImage();
    ~TJPEGImage() override;

    int Width() const override { return m_bitmap->Width(); }
    int Height() const override { return m_bitmap->Height(); }
    bool Empty() const override { return m_bitmap->Empty(); }
    void Draw(TCanvas& canvas, const TRect& rect) override;

    // Raises EInvalidGraphic (and keeps the picture it had) for data
    // libjpeg refuses and for pictures over the memory limit.
    void LoadFromStream(TStream& stream) override;
    // A picture loaded and not changed is written as the bytes it was read
    // from; one assigned from a bitmap is encoded at CompressionQuality,
    // in colour unless Grayscale, baseline unless ProgressiveEncoding.
    void SaveToStream(TStream& stream) override;
    void Assign(const TBitmap& bitmap);
    // The decoded picture (32 bits per pixel).
    const TBitmap& Bitmap() const { return *m_bitmap; }

    int CompressionQuality = 90;
    bool Grayscale = false;
    bool ProgressiveEncoding = false;

private:
    std::unique_ptr<TBitmap> m_bitmap;
    std::string m_data;  // the file read, while the picture is unchanged
};
