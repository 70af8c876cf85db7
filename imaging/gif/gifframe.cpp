// A frame's bounds, pixels, palette and its reading from the stream.
#include "imaging/gif/gifframe.h"

#include "imaging/gif/gifimage.h"
#include "imaging/gif/giflzw.h"
#include "imaging/gif/gifstream.h"
#include "win/memadvise.h"

#include <limits>

TGIFSubImage::TGIFSubImage(TGIFImage* image)
    : TGIFItem(image), m_colorMap(this), m_extensions(image, this)
{
}

TGIFSubImage::~TGIFSubImage()
{
    if (Image())
        Image()->Images().Remove(this);
    Clear();
    if (m_palette)
        DeleteObject(m_palette);
}

void TGIFSubImage::Clear()
{
    m_extensions.Clear();
    m_colorMap.Clear();
    FreeImage();
    m_descriptor.Width = m_descriptor.Height = 0;
    m_transparent = false;
    m_gce = nullptr;
    FreeBitmap();
    FreeMask();
}

bool TGIFSubImage::Empty() const { return m_pixels.empty() || Width() == 0 || Height() == 0; }

int TGIFSubImage::GetBounds(int index) const
{
    switch (index) {
    case bLeft: return Left();
    case bTop: return Top();
    case bWidth: return Width();
    case bHeight: return Height();
    default: return 0;
    }
}

void TGIFSubImage::SetBounds(int index, int value)
{
    switch (index) {
    case bLeft: DoSetBounds(value, Top(), Width(), Height()); break;
    case bTop: DoSetBounds(Left(), value, Width(), Height()); break;
    case bWidth: DoSetBounds(Left(), Top(), value, Height()); break;
    case bHeight: DoSetBounds(Left(), Top(), Width(), value); break;
    default: break;
    }
}

void TGIFSubImage::DoSetBounds(int left, int top, int width, int height)
{
    for (int v : {left, top, width, height})
        if (v < 0 || v > 0xFFFF)
            throw ERangeError("Range check error");
    const bool changed = width != Width() || height != Height();
    m_descriptor.Left = static_cast<std::uint16_t>(left);
    m_descriptor.Top = static_cast<std::uint16_t>(top);
    m_descriptor.Width = static_cast<std::uint16_t>(width);
    m_descriptor.Height = static_cast<std::uint16_t>(height);
    if (changed) {
        FreeBitmap();
        FreeMask();
        NewImage();
    }
    TGIFImage* image = Image();
    if (!image)
        return;
    // A frame placed in an empty image sizes it without a word; one that
    // reaches past a sized image grows it with warnings.
    bool tooLarge = false;
    if (image->Width() < left + width) {
        if (image->Width() > 0) {
            tooLarge = true;
            Warning(TGIFSeverity::Warning, gifmsg::BadWidth);
        }
        image->SetWidth(left + width);
    }
    if (image->Height() < top + height) {
        if (image->Height() > 0) {
            tooLarge = true;
            Warning(TGIFSeverity::Warning, gifmsg::BadHeight);
        }
        image->SetHeight(top + height);
    }
    if (tooLarge)
        Warning(TGIFSeverity::Warning, gifmsg::ScreenSizeExceeded);
}

TRect TGIFSubImage::GetBoundsRect() const { return Rect(Left(), Top(), Left() + Width(), Top() + Height()); }

void TGIFSubImage::SetBoundsRect(const TRect& rect)
{
    DoSetBounds(rect.Left, rect.Top, rect.Right - rect.Left + 1, rect.Bottom - rect.Top + 1);
}

void TGIFSubImage::SetInterlaced(bool on)
{
    m_descriptor.PackedFields =
        static_cast<std::uint8_t>(on ? m_descriptor.PackedFields | kInterlaced : m_descriptor.PackedFields & ~kInterlaced);
}

void TGIFSubImage::NewImage()
{
    FreeImage();
    const std::size_t count = static_cast<std::size_t>(Width()) * static_cast<std::size_t>(Height());
    if (count == 0)
        return;
    // Fresh pages are faulted in ahead of the fill in as few traps as the
    // kernel allows: most of the cost of a frame's pixels on a virtual machine.
    m_pixels.reserve(count);
    AdviseHugePages(m_pixels.data(), count);
    PopulateInBackground(m_pixels.data(), count);
    PopulatePages(m_pixels.data(), count);
    m_pixels.assign(count, 0);
}

void TGIFSubImage::FreeImage()
{
    m_pixels.clear();
    m_pixels.shrink_to_fit();
}

void TGIFSubImage::NeedImage()
{
    if (m_pixels.empty())
        NewImage();
    if (m_pixels.empty())
        GIFError(gifmsg::EmptyImage);
}

std::uint8_t* TGIFSubImage::GetScanline(int row)
{
    if (row < 0 || row >= Height())
        GIFError(gifmsg::BadPixelCoordinates);
    NeedImage();
    return m_pixels.data() + static_cast<std::size_t>(row) * static_cast<std::size_t>(Width());
}

std::uint8_t TGIFSubImage::GetPixel(int x, int y)
{
    if (x < 0 || x >= Width())
        GIFError(gifmsg::BadPixelCoordinates);
    return GetScanline(y)[x];
}

TGIFColorMap& TGIFSubImage::GetActiveColorMap()
{
    if (m_colorMap.Count() > 0 || !Image() || Image()->GetColorMap().Count() == 0)
        return m_colorMap;
    return Image()->GetColorMap();
}

void TGIFSubImage::NoteGraphicControlExtension(TGIFGraphicControlExtension* gce)
{
    if (!m_gce)
        m_gce = gce;
}

void TGIFSubImage::ForgetGraphicControlExtension(TGIFGraphicControlExtension* gce)
{
    if (m_gce == gce)
        m_gce = nullptr;
}

HPALETTE TGIFSubImage::GetPalette()
{
    if (m_bitmap && m_bitmap->Palette())
        return m_bitmap->Palette();
    if (m_palette)
        return m_palette;
    if (Image() && Image()->GetDoDither())
        m_palette = WebPalette();
    else if (m_colorMap.Count() == 0)
        return Image() ? Image()->GetPalette() : nullptr;
    else
        m_palette = m_colorMap.ExportPalette();
    return m_palette;
}

void TGIFSubImage::SetPalette(HPALETTE palette)
{
    if (palette == m_palette)
        return;
    if (m_palette)
        DeleteObject(m_palette);
    const bool drop = m_bitmap != nullptr;
    m_palette = palette;
    if (drop) {
        FreeBitmap();
        if (Image()) {
            Image()->SetPaletteModified(true);
            Image()->NotifyChanged(this);
        }
    }
}

TGIFVersion TGIFSubImage::GetVersion() const
{
    if (m_colorMap.Optimized())
        return gv89a;
    TGIFVersion v = gv87a;
    for (int i = 0; i < m_extensions.Count() && v != gv89a; ++i)
        v = std::max(v, m_extensions.Extension(i)->GetVersion());
    return v;
}

void TGIFSubImage::LoadFromStream(TStream& stream)
{
    Clear();
    m_extensions.LoadFromStream(stream);
    const int next = gifio::GetStreamByte(stream);
    if (next < 0)
        return;
    gifio::PutBack(stream);
    // Extensions with no image after them make an empty frame.
    if (next == ';' || next == 0)
        return;
    std::uint8_t d[10];
    gifio::ReadExact(stream, d, 10);
    const auto word = [&](int at) { return static_cast<std::uint16_t>(d[at] | (d[at + 1] << 8)); };
    m_descriptor = {d[0], word(1), word(3), word(5), word(7), d[9]};
    if (Width() == 0 || Height() == 0) {
        const TGIFImage* image = Image();
        m_descriptor.Height = static_cast<std::uint16_t>(image ? image->Height() : 0);
        m_descriptor.Width = static_cast<std::uint16_t>(image ? image->Width() : 0);
        Warning(TGIFSeverity::Warning, gifmsg::ScreenSizeExceeded);
    }
    if (m_descriptor.PackedFields & kLocalTable)
        LoadColorMap(m_colorMap, stream, 2 << (m_descriptor.PackedFields & kTableSize));
    Decompress(stream);
    if (GIFImageRenderOnLoad)
        GetBitmap();
}

namespace {

// Passes over a frame's compressed data: the code size byte and the
// sub-blocks up to their terminator. The bytes of data the sub-blocks hold.
std::int64_t SkipImageData(TStream& stream)
{
    std::int64_t bytes = 0;
    if (gifio::GetStreamByte(stream) < 0)
        return bytes;
    for (int n = gifio::GetStreamByte(stream); n > 0; n = gifio::GetStreamByte(stream)) {
        bytes += std::min<std::int64_t>(n, gifio::Remaining(stream));
        gifio::Skip(stream, n);
    }
    return bytes;
}

}  // namespace

void TGIFSubImage::Decompress(TStream& stream)
{
    const std::uint64_t count = static_cast<std::uint64_t>(Width()) * static_cast<std::uint64_t>(Height());
    if (count == 0) {
        // Nothing to fill (a frame of a 0 x 0 screen): its data is passed
        // over so that the next block is read where it starts.
        SkipImageData(stream);
        return;
    }
    if (Image()) {
        // The frame's data is measured first, without decoding it.
        const std::int64_t at = stream.Position();
        const std::int64_t bytes = SkipImageData(stream);
        stream.SetPosition(at);
        Image()->ReserveFramePixels(count, bytes);
    }
    NewImage();
    const std::uint8_t fill =
        m_transparent && m_gce ? static_cast<std::uint8_t>(m_gce->GetTransparentColorIndex()) : 0;
    TGIFLzwDecoder decoder(stream, [this](TGIFSeverity severity, const std::string& message) { Warning(severity, message); });
    decoder.Decompress(m_pixels, Width(), Height(), GetInterlaced(), fill);
}

void TGIFImageList::LoadFromStream(TStream& stream, TGIFImage* parent)
{
    const auto nextBlock = [&] {
        int b;
        do
            b = gifio::GetStreamByte(stream);
        while (b == 0);
        return b;
    };
    int b = nextBlock();
    while (b >= 0 && b != ';') {
        gifio::PutBack(stream);
        if (b != '!' && b != ',') {
            Warning(TGIFSeverity::Warning, gifmsg::BadBlock);
            return;
        }
        auto frame = std::make_unique<TGIFSubImage>(parent);
        frame->LoadFromStream(stream);
        Add(frame.release());
        const std::int64_t size = stream.Size();
        // Positions times 100 are 64-bit: past 21 MB they no longer fit 32 bits.
        const std::int64_t percent = size > 0 ? (stream.Position() * 100 + size / 2) / size : 100;
        parent->ReportProgress(this, psRunning, static_cast<std::uint8_t>(std::clamp<std::int64_t>(percent, 0, 100)),
                               GIFImageRenderOnLoad, gifmsg::Loading);
        b = nextBlock();
    }
    // The trailer's ";" is left for the trailer to read.
    if (b == ';')
        gifio::PutBack(stream);
}
