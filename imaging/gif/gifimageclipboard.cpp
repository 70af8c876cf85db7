// Moving GIF images through the clipboard: "GIF Image" holds the file's
// bytes in a global memory block; CF_BITMAP carries the rendered picture
// for programs that know no GIF.
#include "imaging/gif/gifimage.h"

#include "gdi/gdiqt.h"
#include "ole/ole2.h"
#include "ole/winclip.h"

#include <cstring>
#include <vector>

namespace {

std::uint32_t GIFFormat() { return RegisterClipboardFormatA(gifmsg::GIFImageFile); }

// A 32-bit copy of a bitmap handle, which the clipboard may own while the
// caller keeps the original.
HBITMAP CopyOfBitmap(HBITMAP source)
{
    const QImage image = QImageFromBitmap(source);
    if (image.isNull())
        return nullptr;
    BITMAPINFO info {};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = image.width();
    info.bmiHeader.biHeight = -image.height();
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP copy = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!copy)
        return nullptr;
    const std::size_t row = static_cast<std::size_t>(image.width()) * 4;
    for (int y = 0; y < image.height(); ++y)
        std::memcpy(static_cast<std::uint8_t*>(bits) + row * static_cast<std::size_t>(y), image.constScanLine(y), row);
    return copy;
}

HPALETTE CopyOfPalette(HPALETTE source)
{
    if (!source)
        return nullptr;
    const UINT count = GetPaletteEntries(source, 0, 0, nullptr);
    if (count == 0)
        return nullptr;
    std::vector<std::uint8_t> storage(sizeof(LOGPALETTE) + sizeof(PALETTEENTRY) * count);
    auto* pal = reinterpret_cast<LOGPALETTE*>(storage.data());
    pal->palVersion = 0x300;
    pal->palNumEntries = static_cast<WORD>(count);
    GetPaletteEntries(source, 0, count, pal->palPalEntry);
    return CreatePalette(pal);
}

}  // namespace

void TGIFImage::LoadFromClipboardFormat(std::uint32_t format, HANDLE data, HPALETTE)
{
    if (!data)
        data = GetClipboardData(format);
    if (data && format == GIFFormat()) {
        TMemoryStream stream;
        const std::size_t size = GlobalSize(data);
        stream.SetSize(static_cast<std::int64_t>(size));
        if (size > 0)
            std::memcpy(stream.Memory(), GlobalLock(data), size);
        GlobalUnlock(data);
        LoadFromStream(stream);
        return;
    }
    if (data && format == CF_BITMAP) {
        HBITMAP copy = CopyOfBitmap(static_cast<HBITMAP>(data));
        if (!copy)
            GIFError(gifmsg::UnknownClipboardFormat);
        TBitmap bitmap;
        bitmap.TakeHandle(copy, pf32bit);
        Assign(&bitmap);
        return;
    }
    GIFError(gifmsg::UnknownClipboardFormat);
}

void TGIFImage::SaveToClipboardFormat(std::uint32_t& format, HANDLE& data, HPALETTE& palette)
{
    if (Empty())
        return;
    TBitmap* bitmap = GetBitmap();
    HBITMAP picture = bitmap ? CopyOfBitmap(bitmap->Handle()) : nullptr;
    HPALETTE colors = bitmap ? CopyOfPalette(bitmap->Palette()) : nullptr;
    // The caller sets the picture; the GIF goes onto the clipboard here.
    const auto handOver = [&] {
        if (!picture)
            return;
        format = CF_BITMAP;
        data = picture;
        palette = colors;
    };
    HGLOBAL block = nullptr;
    try {
        TMemoryStream stream;
        SaveToStream(stream);
        block = GlobalAlloc(GMEM_MOVEABLE | GMEM_DDESHARE, static_cast<SIZE_T>(stream.Size()));
        if (!block) {
            handOver();
            return;
        }
        std::memcpy(GlobalLock(block), stream.Memory(), static_cast<std::size_t>(stream.Size()));
        GlobalUnlock(block);
        if (!SetClipboardData(GIFFormat(), block))
            GIFError(gifmsg::ClipboardFailed);
    } catch (...) {
        if (block)
            GlobalFree(block);
        if (picture)
            DeleteObject(picture);
        if (colors)
            DeleteObject(colors);
        throw;
    }
    handOver();
}
