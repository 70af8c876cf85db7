// A frame's bitmap and transparency mask, built from its pixels on first
// use: plainly in the frame's own colours, or dithered to the web palette
// for a screen of 256 colours or fewer.
#include "imaging/gif/gifdib.h"
#include "imaging/gif/gifdither.h"
#include "imaging/gif/gifframe.h"
#include "imaging/gif/gifimage.h"

#include <cstring>

namespace {

// The transparency mask built beside a frame's bitmap: a 1 bit for every
// pixel of the transparent index, rows padded to 16 bits as monochrome
// bitmaps take them.
class MaskBuilder {
public:
    MaskBuilder(bool wanted, int width, int height) : m_stride((static_cast<std::size_t>(width) + 15) / 16 * 2)
    {
        if (wanted)
            m_bits.assign(m_stride * static_cast<std::size_t>(height), 0);
    }
    bool Wanted() const { return !m_bits.empty(); }
    void Set(int x, int y)
    {
        m_bits[m_stride * static_cast<std::size_t>(y) + static_cast<std::size_t>(x >> 3)] |=
            static_cast<std::uint8_t>(0x80 >> (x & 7));
        m_any = true;
    }
    // A mask only when some pixel is transparent.
    HBITMAP Create(int width, int height) const
    {
        return m_any ? CreateBitmap(width, height, 1, 1, m_bits.data()) : nullptr;
    }

private:
    std::size_t m_stride;
    std::vector<std::uint8_t> m_bits;
    bool m_any = false;
};

}  // namespace

void TGIFSubImage::NewBitmap()
{
    FreeBitmap();
    m_bitmap = std::make_unique<TBitmap>();
}

void TGIFSubImage::FreeBitmap() { m_bitmap.reset(); }

void TGIFSubImage::SetHasBitmap(bool on)
{
    if (on == GetHasBitmap())
        return;
    if (on)
        GetBitmap();
    else
        FreeBitmap();
}

void TGIFSubImage::FreeMask()
{
    if (m_mask)
        DeleteObject(m_mask);
    m_mask = nullptr;
    m_needMask = true;
}

bool TGIFSubImage::HasMask()
{
    if (m_needMask && m_transparent) {
        FreeBitmap();
        GetBitmap();
    }
    return m_mask != nullptr;
}

bool TGIFSubImage::TakeMaskRequest()
{
    const bool make = m_needMask && m_transparent && m_gce;
    m_needMask = false;
    return make;
}

void TGIFSubImage::ReportRenderRow(int row)
{
    if ((row & 31) == 0 && Image())
        Image()->ReportProgress(this, psRunning,
                                static_cast<std::uint8_t>((static_cast<std::int64_t>(row) * 100 + Height() / 2) / Height()),
                                false, gifmsg::Rendering);
}

void TGIFSubImage::StoreMask(HBITMAP mask)
{
    if (!mask)
        return;
    if (m_mask)
        DeleteObject(m_mask);
    m_mask = mask;
}

TBitmap* TGIFSubImage::GetBitmap()
{
    if (m_bitmap || Empty())
        return m_bitmap.get();
    TGIFImage* image = Image();
    const auto progress = [&](TProgressStage stage, std::uint8_t percent) {
        if (image)
            image->ReportProgress(this, stage, percent, stage == psEnding && image->PaletteModified(), gifmsg::Rendering);
    };
    progress(psStarting, 0);
    try {
        TBitmap* built = image && image->GetDoDither() ? DoGetDitherBitmap() : DoGetBitmap();
        m_bitmap.reset(built);
    } catch (const EAbort&) {
        // A progress handler asked to stop: the frame stays without a bitmap.
        progress(psEnding, 0);
        return m_bitmap.get();
    } catch (...) {
        progress(psEnding, 0);
        throw;
    }
    progress(psEnding, 100);
    if (image && image->PaletteModified())
        image->NotifyChanged(this);
    return m_bitmap.get();
}

TBitmap* TGIFSubImage::DoGetBitmap()
{
    auto bitmap = std::make_unique<TBitmap>();
    TDIBWriter writer(*bitmap, pf8bit, Width(), Height(), GetPalette());
    MaskBuilder mask(TakeMaskRequest(), Width(), Height());
    const int transparentIndex = mask.Wanted() ? m_gce->GetTransparentColorIndex() : -1;
    for (int r = 0; r < Height(); ++r) {
        ReportRenderRow(r);
        const std::uint8_t* src = GetScanline(r);
        std::memcpy(writer.GetScanline(r), src, static_cast<std::size_t>(Width()));
        if (mask.Wanted())
            for (int x = 0; x < Width(); ++x)
                if (src[x] == transparentIndex)
                    mask.Set(x, r);
    }
    writer.Store();
    StoreMask(mask.Create(Width(), Height()));
    return bitmap.release();
}

TBitmap* TGIFSubImage::DoGetDitherBitmap()
{
    auto bitmap = std::make_unique<TBitmap>();
    HPALETTE palette = GetPalette();
    TNetscapeColorLookup lookup;
    TFloydSteinbergDitherer ditherer(Width(), lookup);
    TDIBWriter writer(*bitmap, pf8bit, Width(), Height(), palette);
    TGIFColorMap& colors = GetActiveColorMap();
    MaskBuilder mask(TakeMaskRequest(), Width(), Height());
    const int transparentIndex = mask.Wanted() ? m_gce->GetTransparentColorIndex() : -1;
    // Transparent pixels take the web entry after their colour's, shown
    // only when the bitmap is drawn without its mask.
    std::uint8_t fill = 0;
    if (mask.Wanted() && colors.Count() > 0) {
        const TGIFColor c = TGIFColorMap::Color2RGB(colors.GetColor(transparentIndex));
        fill = static_cast<std::uint8_t>((MulDiv(36, c.Red, 51) + MulDiv(6, c.Green, 51) + c.Blue / 51 + 1) & 255);
    }
    for (int r = 0; r < Height(); ++r) {
        ReportRenderRow(r);
        const std::uint8_t* src = GetScanline(r);
        std::uint8_t* dst = writer.GetScanline(r);
        if (mask.Wanted())
            std::memset(dst, fill, static_cast<std::size_t>(Width()));
        for (int x = ditherer.Column(); x >= 0 && x < Width(); x = ditherer.Column()) {
            if (src[x] == transparentIndex) {
                mask.Set(x, r);
                ditherer.AdvanceColumn();
                continue;
            }
            // A pixel past the table's end takes entry 0, never bytes
            // beyond the table.
            const TGIFColor c = colors.Count() > 0 && src[x] < colors.Count() ? colors.Entry(src[x])
                                : colors.Count() > 0                          ? colors.Entry(0)
                                                                              : TGIFColor {};
            int rr, gg, bb;
            dst[x] = ditherer.DitherPixel(c.Red, c.Green, c.Blue, rr, gg, bb);
        }
        ditherer.AdvanceLine();
    }
    writer.Store();
    StoreMask(mask.Create(Width(), Height()));
    return bitmap.release();
}
