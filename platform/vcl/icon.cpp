// The icon graphic.
//
// Icon file (little-endian): a 6-byte directory header (reserved 0, type 1,
// entry count) and one 16-byte entry per image:
//
//    0  1  width        0 means 256
//    1  1  height       0 means 256
//    2  1  colour count
//    3  1  reserved
//    4  2  planes
//    6  2  bit count
//    8  4  bytes in the image
//   12  4  offset of the image from the file's start
//
// An image is a packed DIB of twice the icon's height (the colours, then a
// 1-bit AND mask) or a whole PNG file.
#include "graphics.h"

#include "graphicbytes_p.h"

#include "gdi/dibread.h"
#include "win/memlimit.h"
#include "gdi/gdi_p.h"
#include "gdi/wingdi.h"
#include "rtl/streams.h"

#include <QImage>
#include <QPainter>

#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

constexpr std::size_t kDirSize = 6;
constexpr std::size_t kEntrySize = 16;
constexpr std::uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
// An icon file larger than this is not an icon.
constexpr std::int64_t kMaxIconFile = 64 * 1024 * 1024;


struct Entry {
    int width;
    int height;
    int bits;
    std::size_t offset;
    std::size_t size;
    bool png;
};

// The bit depth an entry's image really has: the DIB header's, or 32 for
// a PNG, whatever the directory claims.
int EntryBits(const std::uint8_t* image, std::size_t size, bool png)
{
    if (png)
        return 32;
    return size >= 16 ? static_cast<int>(GraphicGet16(image + 14)) : 0;
}

GdiBitmap* NewMask(int width, int height)
{
    GdiBitmap* mask = CreateBitmap(width, height, 1, 1, nullptr);
    return mask;
}

}  // namespace

TIcon::TIcon() = default;
TIcon::~TIcon() = default;

void TIcon::LoadFromStream(TStream& stream)
{
    const std::int64_t size = stream.Size() - stream.Position();
    if (size < static_cast<std::int64_t>(kDirSize) || size > kMaxIconFile)
        throw EInvalidGraphic("Icon image is not valid");
    std::string file(static_cast<std::size_t>(size), '\0');
    stream.ReadBuffer(file.data(), size);
    const auto* data = reinterpret_cast<const std::uint8_t*>(file.data());
    if (GraphicGet16(data) != 0 || GraphicGet16(data + 2) != 1 || GraphicGet16(data + 4) == 0)
        throw EInvalidGraphic("Icon image is not valid");
    const std::size_t count = GraphicGet16(data + 4);
    if (kDirSize + count * kEntrySize > file.size())
        throw EInvalidGraphic("Icon image is not valid");

    // The entry nearest 32 x 32, and of those the one with the most colours.
    const Entry* best = nullptr;
    std::vector<Entry> entries;
    entries.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t* e = data + kDirSize + i * kEntrySize;
        Entry entry {e[0] ? e[0] : 256, e[1] ? e[1] : 256, 0, GraphicGet32(e + 12), GraphicGet32(e + 8), false};
        if (entry.offset >= file.size() || entry.size > file.size() - entry.offset || entry.size < 8)
            continue;
        entry.png = std::memcmp(data + entry.offset, kPngSignature, 8) == 0;
        entry.bits = EntryBits(data + entry.offset, entry.size, entry.png);
        entries.push_back(entry);
    }
    for (const Entry& e : entries) {
        auto distance = [](const Entry& x) { return std::abs(x.width - 32) + std::abs(x.height - 32); };
        if (!best || distance(e) < distance(*best) || (distance(e) == distance(*best) && e.bits > best->bits))
            best = &e;
    }
    if (!best)
        throw EInvalidGraphic("Icon image is not valid");

    auto colors = std::make_unique<TBitmap>();
    GdiBitmap* mask = nullptr;
    bool cut = false;  // rows or mask beyond the end of the file
    const std::uint8_t* image = data + best->offset;
    if (best->png) {
        QImage png;
        if (!png.loadFromData(image, static_cast<int>(best->size), "PNG") || png.isNull())
            throw EInvalidGraphic("Icon image is not valid");
        if (!PictureFitsInMemory(static_cast<std::uint64_t>(png.width()) * static_cast<std::uint64_t>(png.height()) * 4))
            throw EInvalidGraphic("Icon image is too large");
        png = png.convertToFormat(QImage::Format_ARGB32);
        colors->SetPixelFormat(pf32bit);
        colors->SetSize(png.width(), png.height());
        mask = NewMask(png.width(), png.height());
        for (int y = 0; y < png.height(); ++y) {
            auto* line = reinterpret_cast<const QRgb*>(png.constScanLine(y));
            std::uint8_t* dst = colors->ScanLine(y);
            std::vector<std::uint32_t> bits(static_cast<std::size_t>(png.width()));
            for (int x = 0; x < png.width(); ++x) {
                // Half transparent and more counts as transparent.
                const bool clear = qAlpha(line[x]) < 128;
                const QRgb c = clear ? 0 : line[x];
                dst[4 * x] = static_cast<std::uint8_t>(qBlue(c));
                dst[4 * x + 1] = static_cast<std::uint8_t>(qGreen(c));
                dst[4 * x + 2] = static_cast<std::uint8_t>(qRed(c));
                dst[4 * x + 3] = 0;
                bits[static_cast<std::size_t>(x)] = clear ? 0xFFFFFF : 0;
            }
            mask->surface.WriteSpan(0, y, png.width(), bits.data());
        }
    } else {
        if (best->size < 40)
            throw EInvalidGraphic("Icon image is not valid");
        const int dibHeight = static_cast<std::int32_t>(GraphicGet32(image + 8));
        const int height = std::abs(dibHeight) / 2;
        PackedDibInfo info;
        GdiBitmap* xorBits = height > 0 ? ReadPackedDib(image, best->size, PictureMemoryLimit(), info, height) : nullptr;
        if (!xorBits)
            throw EInvalidGraphic("Icon image is not valid");
        const TPixelFormat format = info.fileBitCount == 1 ? pf1bit : info.fileBitCount == 4 ? pf4bit
            : info.fileBitCount == 8 ? pf8bit : info.fileBitCount == 24 ? pf24bit : pf32bit;
        colors->TakeHandle(xorBits, format);
        cut = info.cutShort;
        const int width = info.width;
        mask = NewMask(width, height);
        // The AND mask follows the colour rows, bottom row first; a mask
        // cut short by the file leaves the rest opaque.
        const std::size_t start = PackedDibPixelOffset(image, best->size)
            + xorBits->surface.stride * static_cast<std::size_t>(height);
        const std::size_t maskStride = (static_cast<std::size_t>(width) + 31) / 32 * 4;
        for (int y = 0; y < height; ++y) {
            const std::size_t at = start + maskStride * static_cast<std::size_t>(y);
            if (at + maskStride > best->size) {
                cut = true;
                break;
            }
            std::memcpy(mask->surface.Row(height - 1 - y), image + at, std::min(maskStride, mask->surface.stride));
        }
        // A 32-bit image with an alpha channel says with it what shows.
        if (info.fileBitCount == 32) {
            bool anyAlpha = false;
            for (int y = 0; y < height && !anyAlpha; ++y)
                for (int x = 0; x < width && !anyAlpha; ++x)
                    anyAlpha = xorBits->surface.Row(y)[4 * x + 3] != 0;
            for (int y = 0; anyAlpha && y < height; ++y) {
                std::uint8_t* row = xorBits->surface.Row(y);
                std::vector<std::uint32_t> m(static_cast<std::size_t>(width));
                mask->surface.ReadSpan(0, y, width, m.data());
                for (int x = 0; x < width; ++x)
                    if (row[4 * x + 3] < 128) {
                        m[static_cast<std::size_t>(x)] = 0xFFFFFF;
                        std::memset(row + 4 * x, 0, 4);
                    }
                mask->surface.WriteSpan(0, y, width, m.data());
            }
        }
    }
    m_colors = std::move(colors);
    m_mask = std::make_unique<TBitmap>();
    m_mask->TakeHandle(mask, pf1bit);
    m_width = m_colors->Width();
    m_height = m_colors->Height();
    m_bitCount = best->bits;
    m_file = std::move(file);
    SetDamaged(cut);
    Changed();
}

void TIcon::SaveToStream(TStream& stream)
{
    if (m_file.empty())
        throw EInvalidGraphicOperation("Cannot save an empty icon");
    stream.WriteBuffer(m_file.data(), static_cast<std::int64_t>(m_file.size()));
}

void TIcon::Draw(TCanvas& canvas, const TRect& rect)
{
    if (Empty() || rect.IsEmpty())
        return;
    if (canvas.Handle()) {
        const std::uint32_t mode = canvas.CopyMode;
        canvas.CopyMode = SRCAND;
        m_mask->Draw(canvas, rect);
        canvas.CopyMode = SRCINVERT;
        m_colors->Draw(canvas, rect);
        canvas.CopyMode = mode;
        return;
    }
    if (QPainter* p = canvas.Painter()) {
        QImage shown = m_colors->Image().convertToFormat(QImage::Format_ARGB32);
        const QImage& mask = m_mask->Image();
        for (int y = 0; y < shown.height(); ++y) {
            auto* line = reinterpret_cast<QRgb*>(shown.scanLine(y));
            auto* m = reinterpret_cast<const QRgb*>(mask.constScanLine(y));
            for (int x = 0; x < shown.width(); ++x)
                if (qRed(m[x]))
                    line[x] = 0;
        }
        p->drawImage(QRect(rect.Left, rect.Top, rect.Width(), rect.Height()), shown);
    }
}
