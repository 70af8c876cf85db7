// A frame's bitmap and transparency mask, built from its pixels on first
// use: plainly in the frame's own colours, or dithered to the web palette
// for a screen of 256 colours or fewer.
#include "imaging/gif/gifdib.h"
#include "imaging/gif/gifdither.h"
#include "imaging/gif/gifframe.h"
#include "imaging/gif/gifimage.h"

#include <cstring>

namespace {

// Mask rows are padded to 16 bits, as monochrome bitmaps take them.
std::size_t MaskStride(int width) { return (static_cast<std::size_t>(width) + 15) / 16 * 2; }

std::uint8_t RoundedPercent(int row, int height)
{
    return static_cast<std::uint8_t>((static_cast<std::int64_t>(row) * 100 + height / 2) / height);
}

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

void TGIFSubImage::StoreMask(const std::vector<std::uint8_t>& bits)
{
    if (m_mask)
        DeleteObject(m_mask);
    m_mask = CreateBitmap(Width(), Height(), 1, 1, bits.data());
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
    const bool makeMask = m_needMask && m_transparent && m_gce;
    m_needMask = false;
    const std::uint8_t transparentIndex = makeMask ? static_cast<std::uint8_t>(m_gce->GetTransparentColorIndex()) : 0;
    const std::size_t maskStride = MaskStride(Width());
    std::vector<std::uint8_t> mask;
    if (makeMask)
        mask.assign(maskStride * static_cast<std::size_t>(Height()), 0);
    bool anyTransparent = false;
    TGIFImage* image = Image();
    for (int r = 0; r < Height(); ++r) {
        if ((r & 31) == 0 && image)
            image->ReportProgress(this, psRunning, RoundedPercent(r, Height()), false, gifmsg::Rendering);
        const std::uint8_t* src = GetScanline(r);
        std::memcpy(writer.GetScanline(r), src, static_cast<std::size_t>(Width()));
        if (!makeMask)
            continue;
        std::uint8_t* maskRow = mask.data() + maskStride * static_cast<std::size_t>(r);
        for (int x = 0; x < Width(); ++x)
            if (src[x] == transparentIndex) {
                maskRow[x >> 3] |= static_cast<std::uint8_t>(0x80 >> (x & 7));
                anyTransparent = true;
            }
    }
    writer.Store();
    if (anyTransparent)
        StoreMask(mask);
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
    const bool makeMask = m_needMask && m_transparent && m_gce;
    m_needMask = false;
    const int transparentIndex = makeMask ? m_gce->GetTransparentColorIndex() : -1;
    // Transparent pixels take the web entry nearest their colour, shown
    // only when the bitmap is drawn without its mask.
    std::uint8_t fill = 0;
    if (makeMask && colors.Count() > 0) {
        const TGIFColor c = TGIFColorMap::Color2RGB(colors.GetColor(transparentIndex));
        fill = static_cast<std::uint8_t>((MulDiv(36, c.Red, 51) + MulDiv(6, c.Green, 51) + c.Blue / 51 + 1) & 255);
    }
    const std::size_t maskStride = MaskStride(Width());
    std::vector<std::uint8_t> mask;
    if (makeMask)
        mask.assign(maskStride * static_cast<std::size_t>(Height()), 0);
    bool anyTransparent = false;
    TGIFImage* image = Image();
    for (int r = 0; r < Height(); ++r) {
        if ((r & 31) == 0 && image)
            image->ReportProgress(this, psRunning, RoundedPercent(r, Height()), false, gifmsg::Rendering);
        const std::uint8_t* src = GetScanline(r);
        std::uint8_t* dst = writer.GetScanline(r);
        std::uint8_t* maskRow = makeMask ? mask.data() + maskStride * static_cast<std::size_t>(r) : nullptr;
        if (makeMask)
            std::memset(dst, fill, static_cast<std::size_t>(Width()));
        for (int x = ditherer.Column(); x >= 0 && x < Width(); x = ditherer.Column()) {
            if (src[x] == transparentIndex) {
                maskRow[x >> 3] |= static_cast<std::uint8_t>(0x80 >> (x & 7));
                anyTransparent = true;
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
    if (anyTransparent)
        StoreMask(mask);
    return bitmap.release();
}
