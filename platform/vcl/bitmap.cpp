// The graphic base and the bitmap graphic over GDI DIB sections.
#include "graphics.h"

#include "gdi/dibread.h"
#include "gdi/gdi_p.h"
#include "win/memlimit.h"
#include "gdi/wingdi.h"
#include "rtl/streams.h"

#include <QImage>
#include <QPainter>

#include <algorithm>
#include <cstring>
#include <typeinfo>
#include <vector>

TGraphic::TGraphic() = default;
TGraphic::~TGraphic() = default;

void TGraphic::SetWidth(int) { throw EInvalidGraphicOperation("Cannot change the size of this graphic"); }
void TGraphic::SetHeight(int) { throw EInvalidGraphicOperation("Cannot change the size of this graphic"); }

void TGraphic::SetTransparent(bool transparent)
{
    if (transparent == m_transparent)
        return;
    m_transparent = transparent;
    Changed();
}

void TGraphic::SetModified(bool modified)
{
    if (modified)
        Changed();
    else
        m_modified = false;
}

void TGraphic::Changed()
{
    m_modified = true;
    if (OnChange)
        OnChange(this);
}

void TGraphic::Progress(TProgressStage stage, std::uint8_t percent, const std::string& message)
{
    if (OnProgress)
        OnProgress(this, stage, percent, false, TRect {}, message);
}

void TGraphic::LoadFromFile(const std::string& fileName)
{
    // TFileStream opens reading through OpenRegularFile: a pipe or a device
    // is refused at once instead of blocking or never ending.
    TFileStream stream(fileName, fmOpenRead | fmShareDenyWrite);
    LoadFromStream(stream);
}

bool TGraphic::Equals(TGraphic* graphic)
{
    if (graphic == this)
        return true;
    if (!graphic || typeid(*graphic) != typeid(*this))
        return false;
    if (Empty() || graphic->Empty())
        return Empty() && graphic->Empty();
    TMemoryStream mine, theirs;
    SaveToStream(mine);
    graphic->SaveToStream(theirs);
    return mine.Size() == theirs.Size() &&
           std::memcmp(mine.Memory(), theirs.Memory(), static_cast<std::size_t>(mine.Size())) == 0;
}

void TGraphic::SaveToFile(const std::string& fileName)
{
    TMemoryStream stream;
    SaveToStream(stream);
    WriteFileAtomically(fileName,
        std::string_view(reinterpret_cast<const char*>(stream.Memory()), static_cast<std::size_t>(stream.Size())));
}

namespace {

constexpr std::uint16_t kBitmapSignature = 0x4D42;  // "BM"
constexpr std::size_t kFileHeaderSize = 14;

int BppOf(TPixelFormat format)
{
    static constexpr int table[] = {32, 1, 4, 8, 32, 32, 24, 32, 32};
    return table[format];
}

// The colours a palette format gets when the source has none of its own:
// black and white, the 16 standard colours, or the 6 x 6 x 6 cube and greys.
std::vector<RGBQUAD> DefaultPalette(int bpp)
{
    if (bpp == 1)
        return {RGBQUAD {0, 0, 0, 0}, RGBQUAD {255, 255, 255, 0}};
    if (bpp == 4) {
        static constexpr std::uint32_t vga[16] = {0x000000, 0x800000, 0x008000, 0x808000, 0x000080, 0x800080,
            0x008080, 0x808080, 0xC0C0C0, 0xFF0000, 0x00FF00, 0xFFFF00, 0x0000FF, 0xFF00FF, 0x00FFFF, 0xFFFFFF};
        std::vector<RGBQUAD> p;
        for (std::uint32_t c : vga)
            p.push_back(RGBQUAD {static_cast<BYTE>(c), static_cast<BYTE>(c >> 8), static_cast<BYTE>(c >> 16), 0});
        return p;
    }
    std::vector<RGBQUAD> p;
    for (int r = 0; r < 6; ++r)
        for (int g = 0; g < 6; ++g)
            for (int b = 0; b < 6; ++b)
                p.push_back(RGBQUAD {static_cast<BYTE>(b * 51), static_cast<BYTE>(g * 51), static_cast<BYTE>(r * 51), 0});
    for (int i = 0; p.size() < 256; ++i) {
        const auto v = static_cast<BYTE>(8 + i * 6);
        p.push_back(RGBQUAD {v, v, v, 0});
    }
    return p;
}

GdiBitmap* NewSection(int width, int height, int bpp)
{
    struct {
        BITMAPINFOHEADER header;
        RGBQUAD colors[256];
    } bmi {};
    bmi.header.biSize = sizeof(BITMAPINFOHEADER);
    bmi.header.biWidth = width;
    bmi.header.biHeight = -height;
    bmi.header.biPlanes = 1;
    bmi.header.biBitCount = static_cast<WORD>(bpp);
    if (bpp <= 8) {
        const std::vector<RGBQUAD> colors = DefaultPalette(bpp);
        std::copy(colors.begin(), colors.end(), bmi.colors);
    }
    return CreateDIBSection(nullptr, reinterpret_cast<const BITMAPINFO*>(&bmi), DIB_RGB_COLORS, nullptr, nullptr, 0);
}

// Copies every pixel of one surface onto another of the same size.
void CopyPixels(GdiBitmap* from, GdiBitmap* to)
{
    HDC a = CreateCompatibleDC(nullptr);
    HDC b = CreateCompatibleDC(nullptr);
    HGDIOBJ oldA = SelectObject(a, from);
    HGDIOBJ oldB = SelectObject(b, to);
    BitBlt(b, 0, 0, to->surface.width, to->surface.height, a, 0, 0, SRCCOPY);
    SelectObject(a, oldA);
    SelectObject(b, oldB);
    DeleteDC(a);
    DeleteDC(b);
}

void Put16(std::uint8_t* p, std::uint32_t v)
{
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}

void Put32(std::uint8_t* p, std::uint32_t v)
{
    Put16(p, v);
    Put16(p + 2, v >> 16);
}

}  // namespace

TBitmap::TBitmap() = default;

TBitmap::TBitmap(int width, int height) { SetSize(width, height); }

TBitmap::~TBitmap() { Release(); }

void TBitmap::UnbindCanvas()
{
    EndPainting();
    m_view.reset();
}

void TBitmap::EndPainting()
{
    if (m_painter) {
        m_canvas.SetPainter(nullptr);
        m_painter->end();
        m_painter.reset();
    }
    if (m_dc) {
        m_canvas.SetHandle(nullptr);
        DeleteDC(m_dc);
        m_dc = nullptr;
    }
}

void TBitmap::Release()
{
    UnbindCanvas();
    if (m_bitmap)
        DeleteObject(m_bitmap);
    m_bitmap = nullptr;
}

int TBitmap::Width() const { return m_bitmap ? m_bitmap->surface.width : 0; }
int TBitmap::Height() const { return m_bitmap ? m_bitmap->surface.height : 0; }
int TBitmap::BitsPerPixel() const { return BppOf(m_format); }

void TBitmap::Reallocate(int width, int height, TPixelFormat format, bool fillWhite)
{
    width = std::max(0, width);
    height = std::max(0, height);
    GdiBitmap* next = nullptr;
    if (width > 0 && height > 0) {
        const std::uint64_t bytes = static_cast<std::uint64_t>(GdiStride(width, BppOf(format))) * static_cast<std::uint64_t>(height);
        if (bytes == 0 || !PictureFitsInMemory(bytes) || !(next = NewSection(width, height, BppOf(format))))
            throw EOutOfMemory(PictureTooBigMessage(static_cast<std::uint64_t>(width), static_cast<std::uint64_t>(height)));
        if (fillWhite) {
            if (BppOf(format) > 8)
                std::memset(next->surface.bits, 0xFF, next->surface.stride * static_cast<std::size_t>(height));
            else
                for (int y = 0; y < height; ++y) {
                    const std::uint32_t white = 0xFFFFFF;
                    std::vector<std::uint32_t> span(static_cast<std::size_t>(width), white);
                    next->surface.WriteSpan(0, y, width, span.data());
                }
        }
    }
    Release();
    m_bitmap = next;
    m_format = format;
}

void TBitmap::SetSize(int width, int height)
{
    if (width == Width() && height == Height() && m_bitmap)
        return;
    if (!m_bitmap || width <= 0 || height <= 0) {
        Reallocate(width, height, m_format, true);
    } else {
        // The pixels that still fit stay, the new ones are white.
        GdiBitmap* old = m_bitmap;
        m_bitmap = nullptr;
        const std::vector<RGBQUAD> palette = old->surface.palette;
        UnbindCanvas();
        try {
            Reallocate(width, height, m_format, true);
        } catch (...) {
            m_bitmap = old;
            throw;
        }
        if (!palette.empty())
            m_bitmap->surface.palette = palette;
        CopyPixels(old, m_bitmap);
        DeleteObject(old);
    }
    Changed();
}

void TBitmap::Allocate(int width, int height)
{
    Reallocate(width, height, m_format, false);
    Changed();
}

void TBitmap::SetPixelFormat(TPixelFormat format)
{
    if (format == m_format)
        return;
    if (!m_bitmap) {
        m_format = format;
        Changed();
        return;
    }
    GdiBitmap* next = NewSection(Width(), Height(), BppOf(format));
    if (!next)
        throw EOutOfMemory("Out of system resources");
    // A palette format taken from a palette bitmap keeps its colours: the
    // same table at the same depth, the table padded with black at a larger
    // one, its first entries at a smaller one (enough for indices that came
    // from that depth).
    const std::vector<RGBQUAD>& from = m_bitmap->surface.palette;
    if (BppOf(format) <= 8 && !from.empty()) {
        std::vector<RGBQUAD>& to = next->surface.palette;
        const std::size_t n = std::min(from.size(), to.size());
        std::fill(to.begin(), to.end(), RGBQUAD {0, 0, 0, 0});
        std::copy(from.begin(), from.begin() + static_cast<std::ptrdiff_t>(n), to.begin());
    }
    CopyPixels(m_bitmap, next);
    Release();
    m_bitmap = next;
    m_format = format;
    Changed();
}

std::uint8_t* TBitmap::ScanLine(int row)
{
    if (!m_bitmap || row < 0 || row >= Height())
        throw EInvalidGraphicOperation("Scan line index out of range");
    Changed();
    return m_bitmap->surface.Row(row);
}

int TBitmap::ColorCount() const { return m_bitmap ? static_cast<int>(m_bitmap->surface.palette.size()) : 0; }

void TBitmap::GetColors(int start, int count, std::uint32_t* rgbQuads) const
{
    for (int i = 0; i < count && start + i < ColorCount(); ++i)
        std::memcpy(&rgbQuads[i], &m_bitmap->surface.palette[static_cast<std::size_t>(start + i)], 4);
}

void TBitmap::SetColors(int start, int count, const std::uint32_t* rgbQuads)
{
    for (int i = 0; i < count && start >= 0 && start + i < ColorCount(); ++i)
        std::memcpy(&m_bitmap->surface.palette[static_cast<std::size_t>(start + i)], &rgbQuads[i], 4);
    m_view.reset();
    Changed();
}

void TBitmap::BindCanvas()
{
    if (m_dc || !m_bitmap)
        return;
    m_dc = CreateCompatibleDC(nullptr);
    SelectObject(m_dc, m_bitmap);
    m_canvas.SetHandle(m_dc);
    m_canvas.OnChange = [this](TObject*) { Changed(); };
    // Shapes and text go through a painter over the same bytes where Qt can
    // paint on them (32 and 24 bits); palette bitmaps take graphics and
    // pixels through the device context only.
    const GdiSurface& s = m_bitmap->surface;
    if (s.bpp == 32 || s.bpp == 24) {
        RefreshView();
        m_painter = std::make_unique<QPainter>(m_view.get());
        m_canvas.SetPainter(m_painter.get());
    }
}

TCanvas& TBitmap::Canvas()
{
    BindCanvas();
    return m_canvas;
}

void TBitmap::RefreshView() const
{
    if (!m_bitmap) {
        if (!m_view)
            m_view = std::make_unique<QImage>();
        return;
    }
    const GdiSurface& s = m_bitmap->surface;
    if (s.bpp == 32 || s.bpp == 24) {
        if (!m_view || m_view->constBits() != s.bits)
            m_view = std::make_unique<QImage>(s.bits, s.width, s.height, static_cast<qsizetype>(s.stride),
                s.bpp == 32 ? QImage::Format_RGB32 : QImage::Format_BGR888);
        return;
    }
    auto copy = std::make_unique<QImage>(s.width, s.height, QImage::Format_RGB32);
    for (int y = 0; y < s.height; ++y)
        s.ReadSpan(0, y, s.width, reinterpret_cast<std::uint32_t*>(copy->scanLine(y)));
    m_view = std::move(copy);
}

QImage& TBitmap::Image()
{
    // An open painter would keep drawing into the image behind a caller's
    // back; the canvas binds it again on its next use.
    if (m_painter)
        EndPainting();
    if (m_bitmap && m_bitmap->surface.bpp <= 8)
        m_view.reset();
    RefreshView();
    return *m_view;
}

const QImage& TBitmap::Image() const
{
    if (m_bitmap && m_bitmap->surface.bpp <= 8)
        m_view.reset();
    RefreshView();
    return *m_view;
}

void TBitmap::Draw(TCanvas& canvas, const TRect& rect)
{
    if (Empty() || rect.IsEmpty())
        return;
    if (HDC target = canvas.Handle()) {
        BindCanvas();
        const int mode = SetStretchBltMode(target, COLORONCOLOR);
        StretchBlt(target, rect.Left, rect.Top, rect.Width(), rect.Height(), m_dc, 0, 0, Width(), Height(),
            canvas.CopyMode);
        SetStretchBltMode(target, mode);
        return;
    }
    if (QPainter* p = canvas.Painter())
        p->drawImage(QRect(rect.Left, rect.Top, rect.Width(), rect.Height()), Image());
}

void TBitmap::Assign(const TBitmap& other)
{
    if (&other == this)
        return;
    if (other.Empty()) {
        Release();
        m_format = other.m_format;
        Changed();
        return;
    }
    GdiBitmap* next = NewSection(other.Width(), other.Height(), other.m_bitmap->surface.bpp);
    if (!next)
        throw EOutOfMemory("Out of system resources");
    next->surface.palette = other.m_bitmap->surface.palette;
    std::memcpy(next->surface.bits, other.m_bitmap->surface.bits,
        next->surface.stride * static_cast<std::size_t>(next->surface.height));
    Release();
    m_bitmap = next;
    m_format = other.m_format;
    Changed();
}

void TBitmap::TakeHandle(GdiBitmap* bitmap, TPixelFormat format)
{
    Release();
    m_bitmap = bitmap;
    m_format = format;
    Changed();
}

GdiBitmap* TBitmap::ReleaseHandle()
{
    UnbindCanvas();
    GdiBitmap* handle = m_bitmap;
    m_bitmap = nullptr;
    Changed();
    return handle;
}

void TBitmap::LoadFromDib(const std::uint8_t* data, std::size_t size)
{
    PackedDibInfo info;
    GdiBitmap* next = ReadPackedDib(data, size, PictureMemoryLimit(), info);
    if (!next)
        throw EInvalidGraphic(info.error.empty() ? "Invalid bitmap" : info.error);
    TPixelFormat format = pf32bit;
    switch (info.fileBitCount) {
    case 1: format = pf1bit; break;
    case 4: format = pf4bit; break;
    case 8: format = pf8bit; break;
    case 24: format = pf24bit; break;
    case 16:
        // Five bits of green are the 15-bit layout, six the 16-bit one.
        format = info.masks[1] == 0x03E0 ? pf15bit : info.masks[1] == 0x07E0 ? pf16bit : pfCustom;
        break;
    default:
        format = info.compression == BI_BITFIELDS && !(info.masks[0] == 0xFF0000 && info.masks[1] == 0xFF00
                     && info.masks[2] == 0xFF) ? pfCustom : pf32bit;
    }
    TakeHandle(next, format);
    SetDamaged(info.cutShort);
}

void TBitmap::LoadFromStream(TStream& stream)
{
    const std::int64_t start = stream.Position();
    const std::int64_t available = stream.Size() - start;
    if (available < static_cast<std::int64_t>(kFileHeaderSize) + 12)
        throw EInvalidGraphic("Bitmap image is not valid");
    std::uint8_t fh[kFileHeaderSize];
    stream.ReadBuffer(fh, sizeof fh);
    if ((fh[0] | (fh[1] << 8)) != kBitmapSignature)
        throw EInvalidGraphic("Bitmap image is not valid");
    const std::uint32_t offBits = static_cast<std::uint32_t>(fh[10]) | (static_cast<std::uint32_t>(fh[11]) << 8)
        | (static_cast<std::uint32_t>(fh[12]) << 16) | (static_cast<std::uint32_t>(fh[13]) << 24);
    // The DIB is read whole; more than a picture may take and a header
    // could hold is never a picture this class takes.
    const std::int64_t dibSize = available - static_cast<std::int64_t>(kFileHeaderSize);
    if (static_cast<std::uint64_t>(dibSize) > PictureMemoryLimit() + 65536)
        throw EInvalidGraphic("Bitmap image is not valid");
    std::vector<std::uint8_t> dib(static_cast<std::size_t>(dibSize));
    stream.ReadBuffer(dib.data(), dibSize);
    // The file header's offset places the pixels; a packed DIB has them
    // right after its colour table, so the bytes between are dropped.
    const std::size_t natural = PackedDibPixelOffset(dib.data(), dib.size());
    if (natural == 0)
        throw EInvalidGraphic("Bitmap image is not valid");
    if (offBits >= kFileHeaderSize + natural && offBits - kFileHeaderSize <= dib.size()) {
        const std::size_t gap = offBits - kFileHeaderSize - natural;
        dib.erase(dib.begin() + static_cast<std::ptrdiff_t>(natural),
            dib.begin() + static_cast<std::ptrdiff_t>(natural + gap));
    }
    LoadFromDib(dib.data(), dib.size());
}

void TBitmap::SaveToStream(TStream& stream)
{
    if (Empty()) {
        // An empty bitmap writes a valid file of no pixels.
        std::uint8_t empty[kFileHeaderSize + 40] = {};
        Put16(empty, kBitmapSignature);
        Put32(empty + 2, sizeof empty);
        Put32(empty + 10, sizeof empty);
        Put32(empty + 14, 40);
        Put16(empty + 14 + 12, 1);
        Put16(empty + 14 + 14, 24);
        stream.WriteBuffer(empty, sizeof empty);
        return;
    }
    const GdiSurface& s = m_bitmap->surface;
    const std::size_t paletteBytes = s.bpp <= 8 ? s.palette.size() * 4 : 0;
    const std::size_t pixelBytes = s.stride * static_cast<std::size_t>(s.height);
    const std::size_t offBits = kFileHeaderSize + 40 + paletteBytes;
    std::uint8_t head[kFileHeaderSize + 40] = {};
    Put16(head, kBitmapSignature);
    Put32(head + 2, static_cast<std::uint32_t>(offBits + pixelBytes));
    Put32(head + 10, static_cast<std::uint32_t>(offBits));
    std::uint8_t* bih = head + kFileHeaderSize;
    Put32(bih, 40);
    Put32(bih + 4, static_cast<std::uint32_t>(s.width));
    Put32(bih + 8, static_cast<std::uint32_t>(s.height));
    Put16(bih + 12, 1);
    Put16(bih + 14, static_cast<std::uint32_t>(s.bpp));
    Put32(bih + 20, static_cast<std::uint32_t>(pixelBytes));
    Put32(bih + 32, static_cast<std::uint32_t>(s.bpp <= 8 ? s.palette.size() : 0));
    // The file is put together first and written in one piece.
    std::vector<std::uint8_t> file(offBits + pixelBytes);
    std::memcpy(file.data(), head, sizeof head);
    if (paletteBytes)
        std::memcpy(file.data() + sizeof head, s.palette.data(), paletteBytes);
    // Files keep the bottom row first.
    for (int y = 0; y < s.height; ++y)
        std::memcpy(file.data() + offBits + s.stride * static_cast<std::size_t>(s.height - 1 - y), s.Row(y), s.stride);
    stream.WriteBuffer(file.data(), static_cast<std::int64_t>(file.size()));
}
