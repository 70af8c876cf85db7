// Moving GIF images through the clipboard: "GIF Image" holds the file's
// bytes in a global memory block; CF_BITMAP carries the rendered picture
// for programs that know no GIF.
#include "imaging/gif/gifimage.h"

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
    BITMAP bm {};
    if (!source || GetObject(source, sizeof bm, &bm) == 0 || bm.bmWidth <= 0 || bm.bmHeight == 0)
        return nullptr;
    const LONG height = bm.bmHeight < 0 ? -bm.bmHeight : bm.bmHeight;
    BITMAPINFO info {};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = bm.bmWidth;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP copy = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!copy)
        return nullptr;
    HDC dc = CreateCompatibleDC(nullptr);
    const int rows = dc ? GetDIBits(dc, source, 0, static_cast<UINT>(height), bits, &info, DIB_RGB_COLORS) : 0;
    if (dc)
        DeleteDC(dc);
    if (rows != height) {
        DeleteObject(copy);
        return nullptr;
    }
    // Every pixel opaque, whatever the unused fourth byte said.
    auto* p = static_cast<std::uint8_t*>(bits);
    const std::size_t pixels = static_cast<std::size_t>(bm.bmWidth) * static_cast<std::size_t>(height);
    for (std::size_t i = 0; i < pixels; ++i)
        p[4 * i + 3] = 0xFF;
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
