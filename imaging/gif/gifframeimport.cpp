// Making a frame from another frame or from any graphic. A bitmap of up to
// 8 bits per pixel gives its own indices and colours; a deeper one is first
// reduced to 8 bits by the image's colour reduction (or, with rmNone, taken
// colour by colour until the table is full). Icons and metafiles are drawn
// onto a bitmap first, and what they leave uncovered becomes transparent.
#include "imaging/gif/gifdib.h"
#include "imaging/gif/gifframe.h"
#include "imaging/gif/gifimage.h"
#include "imaging/gif/gifquantize.h"
#include "vcl/metafile.h"

#include <cstring>
#include <unordered_map>

namespace {

// A 24-bit copy of a picture, so that reading it switches no format of the
// caller's.
std::unique_ptr<TBitmap> TrueColorCopy(const TBitmap& source)
{
    auto copy = std::make_unique<TBitmap>();
    copy->Assign(source);
    copy->SetPixelFormat(pf24bit);
    return copy;
}

// Per pixel, 1 where the mask picture is not black: a mask is white (or
// any colour) where the picture lets the background through.
std::vector<std::uint8_t> MaskFlags(const TBitmap& mask, int width, int height)
{
    std::vector<std::uint8_t> flags(static_cast<std::size_t>(width) * static_cast<std::size_t>(height), 0);
    const auto rows = TrueColorCopy(mask);
    const int w = std::min(width, rows->Width());
    for (int y = 0; y < std::min(height, rows->Height()); ++y) {
        const std::uint8_t* row = rows->ScanLine(y);
        for (int x = 0; x < w; ++x)
            flags[static_cast<std::size_t>(y) * width + x] = (row[3 * x] | row[3 * x + 1] | row[3 * x + 2]) != 0;
    }
    return flags;
}

// The mask of a bitmap flagged transparent: the pixels of the colour of its
// bottom-left pixel, the class library's automatic transparent colour.
std::vector<std::uint8_t> TransparentColorFlags(const TBitmap& source)
{
    const auto rows = TrueColorCopy(source);
    const int width = rows->Width();
    const int height = rows->Height();
    std::uint8_t key[3];
    std::memcpy(key, rows->ScanLine(height - 1), 3);
    std::vector<std::uint8_t> flags(static_cast<std::size_t>(width) * static_cast<std::size_t>(height), 0);
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* row = rows->ScanLine(y);
        for (int x = 0; x < width; ++x)
            flags[static_cast<std::size_t>(y) * width + x] = std::memcmp(row + 3 * x, key, 3) == 0;
    }
    return flags;
}

// A 24-bit picture of the graphic's size with the graphic drawn on it.
std::unique_ptr<TBitmap> DrawnOn(TGraphic& graphic, TColor background)
{
    auto bitmap = std::make_unique<TBitmap>();
    bitmap->SetPixelFormat(pf24bit);
    bitmap->SetSize(graphic.Width(), graphic.Height());
    TCanvas& canvas = bitmap->Canvas();
    if (background != clWhite) {
        canvas.Brush().SetColor(background);
        canvas.FillRect(Rect(0, 0, graphic.Width(), graphic.Height()));
    }
    canvas.Draw(0, 0, &graphic);
    return bitmap;
}

// A metafile's mask: drawn on white and on black, the pixels it leaves
// alone differ, the ones it covers do not.
std::vector<std::uint8_t> MetafileFlags(TGraphic& metafile, const TBitmap& onWhite)
{
    const auto onBlack = DrawnOn(metafile, clBlack);
    auto white = TrueColorCopy(onWhite);
    for (int y = 0; y < white->Height(); ++y) {
        std::uint8_t* a = white->ScanLine(y);
        const std::uint8_t* b = onBlack->ScanLine(y);
        for (int i = 0; i < white->Width() * 3; ++i)
            a[i] ^= b[i];
    }
    return MaskFlags(*white, white->Width(), white->Height());
}

// Leaves the frame empty when the import fails half way.
template <class F>
void ClearOnFailure(TGIFSubImage& frame, F&& import)
{
    try {
        import();
    } catch (...) {
        frame.Clear();
        throw;
    }
}

}  // namespace

void TGIFSubImage::Assign(const TPersistent* source)
{
    if (source == this)
        return;
    if (!source) {
        Clear();
        return;
    }
    const auto* frame = dynamic_cast<const TGIFSubImage*>(source);
    if (!frame) {
        TGIFItem::Assign(source);
        return;
    }
    ClearOnFailure(*this, [&] { CopyFrame(*frame); });
}

void TGIFSubImage::CopyFrame(const TGIFSubImage& source)
{
    Clear();
    if (source.m_extensions.Count() > 0) {
        // Written out and read back: the copies are this frame's own, and
        // its graphic control extension is found as a read would find it.
        // A frame of extensions only (a trailing comment, a loop extension
        // on its own) is copied too: dropping them loses what the file said.
        TMemoryStream stream;
        for (int i = 0; i < source.m_extensions.Count(); ++i)
            source.m_extensions.Extension(i)->SaveToStream(stream);
        stream.SetPosition(0);
        m_extensions.LoadFromStream(stream);
    }
    // Through the bounds, so that an image the frame reaches past grows, as
    // far as a screen's 16 bits reach (a damaged file's frame may reach
    // further; it is copied as it is). A frame without pixels grows nothing.
    if (!source.Empty() && source.Left() + source.Width() <= 0xFFFF && source.Top() + source.Height() <= 0xFFFF)
        DoSetBounds(source.Left(), source.Top(), source.Width(), source.Height());
    // Every field, for a frame without pixels too: its table and its
    // transparency are what the source says, not what reading back its
    // extensions makes of them (a graphic control record cut short in the
    // file has its flags in memory but never made the frame transparent).
    m_descriptor = source.m_descriptor;
    m_transparent = source.m_transparent;
    m_colorMap.Assign(&source.m_colorMap);
    if (source.Empty())
        return;
    m_pixels = source.m_pixels;
    if (source.m_bitmap) {
        auto bitmap = std::make_unique<TBitmap>();
        bitmap->Assign(*source.m_bitmap);
        m_bitmap = std::move(bitmap);
    }
}

void TGIFSubImage::Assign(const TPicture* source)
{
    Assign(source ? source->Graphic() : nullptr);
}

void TGIFSubImage::Assign(TGraphic* source)
{
    if (!source) {
        Clear();
        return;
    }
    ClearOnFailure(*this, [&] {
        if (const auto* bitmap = dynamic_cast<const TBitmap*>(source))
            ImportBitmap(*bitmap);
        else
            ImportGraphic(*source);
    });
}

void TGIFSubImage::ImportGraphic(TGraphic& source)
{
    Clear();
    if (source.Empty())
        return;
    auto* gif = dynamic_cast<TGIFImage*>(&source);
    if (gif) {
        // A GIF image gives what it shows, copied: this frame may be the
        // image's own, and its bitmap go while the frame changes.
        if (TBitmap* shown = gif->GetBitmap()) {
            TBitmap picture;
            picture.Assign(*shown);
            ImportBitmap(picture);
        }
        return;
    }
    const auto picture = DrawnOn(source, clWhite);
    ImportBitmap(*picture);
    if (const auto* icon = dynamic_cast<const TIcon*>(&source)) {
        if (const TBitmap* mask = icon->MaskBitmap())
            ApplyMask(MaskFlags(*mask, Width(), Height()));
    } else if (dynamic_cast<const TMetafile*>(&source)) {
        ApplyMask(MetafileFlags(source, *picture));
    }
}

void TGIFSubImage::ImportBitmap(const TBitmap& source)
{
    Clear();
    if (source.Empty())
        return;
    DoSetBounds(Left(), Top(), source.Width(), source.Height());

    std::unique_ptr<TBitmap> picture;
    const TPixelFormat format = source.PixelFormat();
    if (format == pf1bit || format == pf4bit || format == pf8bit) {
        picture = std::make_unique<TBitmap>();
        picture->Assign(source);
    } else {
        TBitmap work;
        work.Assign(source);
        TGIFImage* image = Image();
        picture = ReduceColors(work, image ? image->ColorReduction() : GIFImageDefaultColorReduction,
                               image ? image->DitherMode() : GIFImageDefaultDitherMode,
                               image ? image->ReductionBits() : GIFImageDefaultColorReductionBits, nullptr);
        // A reduction without a palette to map onto (rmPalette has none
        // here) gives no picture: say so rather than make a blank frame.
        if (picture->Empty())
            GIFError(gifmsg::InvalidReduction);
    }

    NewImage();
    TGIFImage* image = Image();
    const auto progress = [&](TProgressStage stage, std::uint8_t percent) {
        if (image)
            image->ReportProgress(this, stage, percent, stage == psEnding && image->PaletteModified(),
                                  gifmsg::Converting);
    };
    progress(psStarting, 0);
    try {
        ReadPixels(*picture);
    } catch (...) {
        progress(psEnding, 0);
        throw;
    }
    progress(psEnding, 100);
    // The picture read is what the frame shows until something changes.
    m_bitmap = std::move(picture);

    if (source.Transparent())
        ApplyMask(TransparentColorFlags(source));
}

void TGIFSubImage::ReportConvertRow(int row)
{
    if ((row & 31) == 0 && Image())
        Image()->ReportProgress(this, psRunning,
                                static_cast<std::uint8_t>(static_cast<std::int64_t>(row) * 100 / Height()), false,
                                gifmsg::Converting);
}

void TGIFSubImage::ReadPixels(TBitmap& picture)
{
    TPixelFormat format = picture.PixelFormat();
    if (format != pf1bit && format != pf4bit && format != pf8bit)
        format = pf24bit;
    TDIBReader reader(picture, format);
    const int width = Width();

    if (format != pf24bit) {
        std::vector<std::uint32_t> quads(static_cast<std::size_t>(picture.ColorCount()));
        picture.GetColors(0, static_cast<int>(quads.size()), quads.data());
        m_colorMap.ImportColorTable(reinterpret_cast<const RGBQUAD*>(quads.data()), static_cast<int>(quads.size()));
        const int bits = format == pf1bit ? 1 : format == pf4bit ? 4 : 8;
        const int perByte = 8 / bits;
        const std::uint8_t valueMask = static_cast<std::uint8_t>((1 << bits) - 1);
        for (int y = 0; y < Height(); ++y) {
            ReportConvertRow(y);
            const std::uint8_t* row = reader.GetScanline(y);
            std::uint8_t* out = GetScanline(y);
            if (bits == 8) {
                std::memcpy(out, row, static_cast<std::size_t>(width));
                continue;
            }
            // The leftmost pixel in the highest bits.
            for (int x = 0; x < width; ++x) {
                const int shift = (perByte - 1 - x % perByte) * bits;
                out[x] = static_cast<std::uint8_t>((row[x / perByte] >> shift) & valueMask);
            }
        }
        return;
    }

    // True colour: every new colour takes the next entry, in the order the
    // rows show them from the top; a 257th raises "Color table overflow".
    std::unordered_map<std::uint32_t, std::uint8_t> indices;
    std::uint32_t last = 0xFFFFFFFF;
    std::uint8_t lastIndex = 0;
    for (int y = 0; y < Height(); ++y) {
        ReportConvertRow(y);
        const std::uint8_t* row = reader.GetScanline(y);
        std::uint8_t* out = GetScanline(y);
        for (int x = 0; x < width; ++x) {
            const std::uint8_t* p = row + 3 * static_cast<std::size_t>(x);
            const std::uint32_t rgb = static_cast<std::uint32_t>(p[2]) | (p[1] << 8) | (p[0] << 16);
            if (rgb != last) {
                const auto found = indices.find(rgb);
                lastIndex = found != indices.end() ? found->second
                                                   : indices[rgb] = static_cast<std::uint8_t>(m_colorMap.Add(rgb));
                last = rgb;
            }
            out[x] = lastIndex;
        }
    }
}

void TGIFSubImage::ApplyMask(const std::vector<std::uint8_t>& transparent)
{
    if (Empty())
        return;
    // Sorted by use, unused colours dropped: room for the transparent entry.
    m_colorMap.Optimize();
    const int count = m_colorMap.Count();
    if (count == 0)
        return;
    int index = -1;
    if (count < TGIFColorMap::kMaxColors) {
        index = m_colorMap.Add(RGB(0, 0, 0));
    } else {
        // A full table: an entry that only masked pixels use is free.
        std::vector<bool> opaqueUse(static_cast<std::size_t>(count), false);
        for (std::size_t i = 0; i < m_pixels.size(); ++i)
            if (!transparent[i])
                opaqueUse[m_pixels[i]] = true;
        for (int i = count - 1; i >= 0 && index < 0; --i)
            if (!opaqueUse[static_cast<std::size_t>(i)])
                index = i;
        if (index < 0)
            return;
    }
    bool any = false;
    for (std::size_t i = 0; i < m_pixels.size(); ++i)
        if (transparent[i]) {
            m_pixels[i] = static_cast<std::uint8_t>(index);
            any = true;
        }
    if (!any) {
        if (count < TGIFColorMap::kMaxColors)
            m_colorMap.Delete(index);
        return;
    }
    FreeBitmap();
    FreeMask();
    auto gce = std::make_unique<TGIFGraphicControlExtension>(this);
    gce->SetTransparentColorIndex(index);
    gce->SetTransparent(true);
    m_extensions.Add(gce.get());
    NoteGraphicControlExtension(gce.release());
}

void TGIFSubImage::AssignTo(TBitmap& dest)
{
    if (TBitmap* bitmap = GetBitmap())
        dest.Assign(*bitmap);
    else
        dest.Assign(TBitmap());
}

void TGIFSubImage::SetBitmap(TBitmap* value)
{
    FreeBitmap();
    if (value)
        Assign(static_cast<TGraphic*>(value));
}
