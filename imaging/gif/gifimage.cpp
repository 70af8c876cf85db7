#include "imaging/gif/gifimage.h"

#include "imaging/gif/gifpainter.h"
#include "imaging/gif/gifstream.h"

#include <algorithm>
#include <vector>

namespace {

// Frames of a load may together claim this many pixels more than their
// data can encode (frames cut short are filled with their background);
// past it a load fails.
constexpr std::uint64_t kFreePixels = 1u << 24;

// The most pixels LZW data can give per byte: a code of w bits stands for
// at most 2^w pixels (a string never outgrows its table), and codes have at
// most 12 bits, so 4096 pixels per 12 bits.
constexpr std::uint64_t MaxPixelsFor(std::int64_t bytes)
{
    return bytes <= 0 ? 0 : static_cast<std::uint64_t>(bytes) * 4096 * 8 / 12;
}

}  // namespace

HPALETTE WebPalette()
{
    std::vector<std::uint8_t> storage(sizeof(LOGPALETTE) + sizeof(PALETTEENTRY) * 216);
    auto* pal = reinterpret_cast<LOGPALETTE*>(storage.data());
    pal->palVersion = 0x300;
    pal->palNumEntries = 216;
    for (int r = 0; r < 6; ++r)
        for (int g = 0; g < 6; ++g)
            for (int b = 0; b < 6; ++b)
                pal->palPalEntry[r * 36 + g * 6 + b] = {static_cast<BYTE>(r * 51), static_cast<BYTE>(g * 51),
                                                        static_cast<BYTE>(b * 51), 0};
    return CreatePalette(pal);
}

TGIFImage::TGIFImage()
    : m_images(this), m_header(this), m_drawOptions(GIFImageDefaultDrawOptions),
      m_colorReduction(GIFImageDefaultColorReduction), m_reductionBits(GIFImageDefaultColorReductionBits),
      m_ditherMode(GIFImageDefaultDitherMode), m_compression(GIFImageDefaultCompression),
      m_animationSpeed(GIFImageDefaultAnimationSpeed)
{
    NewImage();
}

TGIFImage::~TGIFImage()
{
    PaintStop();
    Clear();
    // Frames leave the list themselves; a header or list that warns while
    // going finds no handler.
    OnGIFWarning = nullptr;
    if (m_globalPalette)
        DeleteObject(m_globalPalette);
}

void TGIFImage::Clear()
{
    PaintStop();
    m_images.Clear();
    m_header.ColorMap().Clear();
    m_header.Descriptor().ScreenWidth = 0;
    m_header.Descriptor().ScreenHeight = 0;
    m_header.Prepare();
    SetPalette(nullptr);
}

void TGIFImage::Warning(TObject* sender, TGIFSeverity severity, const std::string& message)
{
    if (OnGIFWarning)
        OnGIFWarning(sender, severity, message);
}

void TGIFImage::Changed() { TGraphic::Changed(); }

void TGIFImage::NotifyChanged(TObject*) { Changed(); }

void TGIFImage::ReportProgress(TObject* sender, TProgressStage stage, std::uint8_t percent, bool redrawNow,
                               const std::string& message)
{
    if (OnProgress)
        OnProgress(sender, stage, percent, redrawNow, TRect {}, message);
}

void TGIFImage::ReserveFramePixels(std::uint64_t pixels, std::int64_t dataBytes)
{
    // A frame's own data cannot give more pixels than its bytes encode: what
    // a frame claims beyond that counts against one allowance for the whole
    // load, so a file of thousands of frames with a few bytes each cannot
    // make thousands of frame-sized buffers.
    const std::uint64_t backed = MaxPixelsFor(dataBytes);
    const std::uint64_t unbacked = pixels > backed ? pixels - backed : 0;
    if (m_loadPixels + unbacked > kFreePixels)
        GIFError(gifmsg::OutOfData);
    m_loadPixels += unbacked;
}

void TGIFImage::LoadFromResourceName(HINSTANCE instance, const std::string& name)
{
    TResourceStream stream(instance, name, RT_RCDATA);
    LoadFromStream(stream);
}

void TGIFImage::LoadFromStream(TStream& stream)
{
    // The reader takes its data a byte at a time and steps back over a byte
    // to look ahead: on a file each of those is a system call. The rest of
    // any other stream is read into memory once, and the source is left just
    // after the bytes the image used, or where it was when the load fails.
    const std::int64_t start = stream.Position();
    const std::int64_t rest = stream.Size() - start;
    if (dynamic_cast<TMemoryStream*>(&stream) || rest <= 0) {
        LoadFromBufferedStream(stream);
        return;
    }
    TMemoryStream memory;
    try {
        memory.SetSize(rest);
        stream.ReadBuffer(memory.Memory(), rest);
        LoadFromBufferedStream(memory);
    } catch (...) {
        stream.SetPosition(start);
        throw;
    }
    stream.SetPosition(start + memory.Position());
}

void TGIFImage::LoadFromBufferedStream(TStream& stream)
{
    ReportProgress(this, psStarting, 0, false, gifmsg::Loading);
    try {
        Clear();
        const std::int64_t start = stream.Position();
        m_loadPixels = 0;
        try {
            m_header.LoadFromStream(stream);
            m_images.LoadFromStream(stream, this);
            TGIFTrailer trailer(this);
            trailer.LoadFromStream(stream);
        } catch (...) {
            stream.SetPosition(start);
            throw;
        }
    } catch (...) {
        ReportProgress(this, psEnding, 0, true, gifmsg::Loading);
        Changed();
        throw;
    }
    ReportProgress(this, psEnding, 100, true, gifmsg::Loading);
    Changed();
}

TGIFVersion TGIFImage::GetVersion() const
{
    if (m_images.Count() == 0)
        return gvUnknown;
    TGIFVersion v = gv87a;
    for (int i = 0; i < m_images.Count() && v != gv89a; ++i)
        v = std::max(v, m_images.Image(i)->GetVersion());
    return v;
}

int TGIFImage::GetColorResolution()
{
    int result = m_header.GetColorResolution();
    for (int i = 0; i < m_images.Count(); ++i)
        result = std::max(result, m_images.Image(i)->GetColorResolution());
    return result;
}

int TGIFImage::GetBitsPerPixel()
{
    int result = m_header.GetBitsPerPixel();
    for (int i = 0; i < m_images.Count(); ++i)
        result = std::max(result, m_images.Image(i)->GetBitsPerPixel());
    return result;
}

void TGIFImage::SetScreenSize(int value, bool width)
{
    if (value < 0 || value > 0xFFFF)
        throw ERangeError("Range check error");
    for (int i = 0; i < m_images.Count(); ++i) {
        const TGIFSubImage* f = m_images.Image(i);
        if ((width ? f->Left() + f->Width() : f->Top() + f->Height()) > value)
            GIFError(width ? gifmsg::BadWidth : gifmsg::BadHeight);
    }
    std::uint16_t& field = width ? m_header.Descriptor().ScreenWidth : m_header.Descriptor().ScreenHeight;
    if (value == field)
        return;
    field = static_cast<std::uint16_t>(value);
    FreeBitmap();
    Changed();
}

void TGIFImage::SetWidth(int width) { SetScreenSize(width, true); }

void TGIFImage::SetHeight(int height) { SetScreenSize(height, false); }

void TGIFImage::SetDrawOptions(TGIFDrawOptions options)
{
    if (options == m_drawOptions)
        return;
    m_drawOptions = options;
    // Frames built their bitmaps dithered or not by the options: all go.
    Pack();
    Changed();
}

void TGIFImage::SetAnimate(bool on)
{
    SetDrawOptions(on ? static_cast<TGIFDrawOptions>(m_drawOptions | goAnimate)
                      : static_cast<TGIFDrawOptions>(m_drawOptions & ~goAnimate));
}

void TGIFImage::SetAnimationSpeed(int speed)
{
    speed = std::clamp(speed, 0, 1000);
    if (speed == m_animationSpeed)
        return;
    m_animationSpeed = speed;
    m_painters.LockList();
    if (m_drawPainter)
        m_drawPainter->SetAnimationSpeed(speed);
    m_painters.UnlockList();
}

void TGIFImage::SetReductionBits(int bits)
{
    if (bits < 3 || bits > 8)
        GIFError(gifmsg::InvalidBitSize);
    m_reductionBits = bits;
}

bool TGIFImage::GetDoDither() const
{
    return (m_drawOptions & goDither) && (!(m_drawOptions & goAutoDither) || DoAutoDither);
}

bool TGIFImage::GetIsTransparent() const
{
    for (int i = 0; i < m_images.Count(); ++i)
        if (const TGIFGraphicControlExtension* gce = m_images.Image(i)->GraphicControlExtension(); gce && gce->GetTransparent())
            return true;
    return false;
}

HPALETTE TGIFImage::GetPalette()
{
    if (m_inPalette)
        GIFError(gifmsg::NoColorTable);
    m_inPalette = true;
    struct Leave {
        bool& flag;
        ~Leave() { flag = false; }
    } leave {m_inPalette};
    if (m_bitmap && m_bitmap->Palette())
        return m_bitmap->Palette();
    if (m_globalPalette)
        return m_globalPalette;
    if (GetDoDither())
        return m_globalPalette = WebPalette();
    if (GetColorMap().Count() > 0)
        return m_globalPalette = GetColorMap().ExportPalette();
    if (m_images.Count() > 0)
        return m_images.Image(0)->GetPalette();
    return nullptr;
}

GdiPalette* TGIFImage::Palette() const { return const_cast<TGIFImage*>(this)->GetPalette(); }

void TGIFImage::SetPalette(GdiPalette* palette)
{
    if (palette == m_globalPalette)
        return;
    if (m_globalPalette)
        DeleteObject(m_globalPalette);
    const bool drop = m_bitmap != nullptr;
    m_globalPalette = palette;
    if (drop) {
        FreeBitmap();
        m_paletteModified = true;
        Changed();
    }
}

TBitmap* TGIFImage::NewBitmap()
{
    if (!m_bitmap) {
        m_bitmap = std::make_unique<TBitmap>();
        m_bitmap->OnChange = [this](TObject*) { Changed(); };
        m_bitmap->SetSize(Width(), Height());
    }
    return m_bitmap.get();
}

TBitmap* TGIFImage::GetBitmap()
{
    if (Empty())
        return nullptr;
    if (m_bitmap)
        return m_bitmap.get();
    TGIFSubImage* first = m_images.Image(0);
    if (first->Width() == Width() && first->Height() == Height()) {
        auto bitmap = std::make_unique<TBitmap>();
        if (TBitmap* frame = first->GetBitmap())
            bitmap->Assign(*frame);
        m_bitmap = std::move(bitmap);
        m_bitmap->OnChange = [this](TObject*) { Changed(); };
        return m_bitmap.get();
    }
    TBitmap* bitmap = NewBitmap();
    if (!bitmap->Empty())
        first->Draw(bitmap->Canvas(), Rect(0, 0, Width(), Height()), false, false);
    return bitmap;
}

void TGIFImage::FreeBitmap()
{
    // The painter draws on the bitmap: it is asked to stop, and a drawing
    // call it queued before looks at the request before it draws.
    if (m_drawPainter)
        m_drawPainter->Stop();
    m_bitmap.reset();
}

void TGIFImage::DrawBitmap(TCanvas& canvas, const TRect& rect)
{
    TBitmap* bitmap = GetBitmap();
    if (!bitmap)
        return;
    if (!(m_drawOptions & goTile)) {
        canvas.StretchDraw(rect, bitmap);
        return;
    }
    // Cells step by the image's size: an image without area has none.
    if (Width() <= 0 || Height() <= 0)
        return;
    for (long long x = rect.Left; x < rect.Right; x += Width())
        for (long long y = rect.Top; y < rect.Bottom; y += Height())
            canvas.Draw(static_cast<int>(x), static_cast<int>(y), bitmap);
}

void TGIFImage::Draw(TCanvas& canvas, const TRect& rect)
{
    if (m_drawing || Empty())
        return;
    m_drawing = true;
    struct Leave {
        bool& flag;
        ~Leave() { flag = false; }
    } leave {m_drawing};
    if (m_images.Count() == 1 || !(m_drawOptions & goAnimate)) {
        m_images.Image(0)->Draw(canvas, rect, m_drawOptions & goTransparent, m_drawOptions & goTile);
        return;
    }
    if (m_bitmap && !(m_drawOptions & goDirectDraw)) {
        DrawBitmap(canvas, rect);
        return;
    }
    DrawAnimation(canvas, rect);
}
