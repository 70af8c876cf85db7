// Drawing a frame onto a canvas: placed where the frame lies on the
// logical screen scaled into the target rectangle, or tiled, and
// transparent through its mask.
#include "imaging/gif/gifdib.h"
#include "imaging/gif/gifframe.h"
#include "imaging/gif/gifimage.h"

namespace {

// The destination kept where the mask is 1, the source copied where it is 0.
constexpr DWORD kKeepDestination = 0x00AA0029;

// Owns what one masked blit creates, so every path releases it.
struct MemoryDC {
    HDC dc = CheckGdiResult(CreateCompatibleDC(nullptr));
    HGDIOBJ old = nullptr;
    HBITMAP bitmap = nullptr;
    ~MemoryDC()
    {
        if (old)
            SelectObject(dc, old);
        if (bitmap)
            DeleteObject(bitmap);
        DeleteDC(dc);
    }
    void Select(HBITMAP b, bool own)
    {
        CheckGdiResult(b);
        HGDIOBJ previous = SelectObject(dc, b);
        if (!old)
            old = previous;
        if (own)
            bitmap = b;
    }
};

// Mask bit 1 keeps the destination, 0 shows the source. Unscaled: one
// masked blit. Scaled: the mask ANDed onto the destination (transparent
// pixels kept, the rest black) and the source with its transparent pixels
// blackened ORed over it.
void MaskedStretchBlit(HDC dst, const TRect& to, HDC src, int srcWidth, int srcHeight, HBITMAP mask)
{
    if (to.Width() == srcWidth && to.Height() == srcHeight) {
        MaskBlt(dst, to.Left, to.Top, srcWidth, srcHeight, src, 0, 0, mask, 0, 0, MAKEROP4(kKeepDestination, SRCCOPY));
        return;
    }
    MemoryDC maskDC;
    maskDC.Select(mask, false);
    MemoryDC inverted;
    inverted.Select(CreateBitmap(srcWidth, srcHeight, 1, 1, nullptr), true);
    BitBlt(inverted.dc, 0, 0, srcWidth, srcHeight, maskDC.dc, 0, 0, NOTSRCCOPY);
    MemoryDC colour;
    colour.Select(CreateCompatibleBitmap(dst, srcWidth, srcHeight), true);
    BitBlt(colour.dc, 0, 0, srcWidth, srcHeight, inverted.dc, 0, 0, SRCCOPY);
    BitBlt(colour.dc, 0, 0, srcWidth, srcHeight, src, 0, 0, SRCAND);

    const COLORREF text = SetTextColor(dst, RGB(0, 0, 0));
    const COLORREF back = SetBkColor(dst, RGB(255, 255, 255));
    const int mode = SetStretchBltMode(dst, COLORONCOLOR);
    StretchBlt(dst, to.Left, to.Top, to.Width(), to.Height(), maskDC.dc, 0, 0, srcWidth, srcHeight, SRCAND);
    StretchBlt(dst, to.Left, to.Top, to.Width(), to.Height(), colour.dc, 0, 0, srcWidth, srcHeight, SRCPAINT);
    SetStretchBltMode(dst, mode);
    SetBkColor(dst, back);
    SetTextColor(dst, text);
}

}  // namespace

TRect TGIFSubImage::ScaleRect(const TRect& rect) const
{
    const TGIFImage* image = Image();
    const int iw = image ? image->Width() : 0, ih = image ? image->Height() : 0;
    // MulDiv answers -1 for a zero divisor; a 0 x 0 screen puts the frame
    // at the rectangle's corner instead.
    const auto scale = [](int v, int size, int whole) { return whole > 0 ? MulDiv(v, size, whole) : 0; };
    return Rect(rect.Left + scale(Left(), rect.Width(), iw), rect.Top + scale(Top(), rect.Height(), ih),
                rect.Left + scale(Left() + Width(), rect.Width(), iw), rect.Top + scale(Top() + Height(), rect.Height(), ih));
}

void TGIFSubImage::Draw(TCanvas& canvas, const TRect& rect, bool transparent, bool tile)
{
    StretchDraw(canvas, tile ? rect : ScaleRect(rect), transparent, tile);
}

void TGIFSubImage::DrawTiles(const TRect& rect, const std::function<void(int x, int y)>& cell) const
{
    const TGIFImage* image = Image();
    const int iw = image ? image->Width() : 0, ih = image ? image->Height() : 0;
    // Tiles step by the screen's size: a screen without area has no tiles.
    if (iw <= 0 || ih <= 0)
        return;
    for (long long x = static_cast<long long>(rect.Left) + Left(); x < rect.Right; x += iw)
        for (long long y = static_cast<long long>(rect.Top) + Top(); y < rect.Bottom; y += ih)
            cell(static_cast<int>(x), static_cast<int>(y));
}

void TGIFSubImage::StretchDraw(TCanvas& canvas, const TRect& rect, bool transparent, bool tile)
{
    TBitmap* bitmap = GetBitmap();
    HDC dst = canvas.Handle();
    if (!bitmap || bitmap->Empty() || !dst)
        return;
    HDC src = bitmap->Canvas().Handle();
    if (transparent && m_transparent && HasMask()) {
        // Building the mask may have rebuilt the bitmap.
        bitmap = GetBitmap();
        src = bitmap->Canvas().Handle();
        if (!tile)
            MaskedStretchBlit(dst, rect, src, Width(), Height(), m_mask);
        else
            DrawTiles(rect, [&](int x, int y) {
                MaskedStretchBlit(dst, Rect(x, y, x + Width(), y + Height()), src, Width(), Height(), m_mask);
            });
        canvas.Changed();
        return;
    }
    if (!tile)
        canvas.StretchDraw(rect, bitmap);
    else
        DrawTiles(rect, [&](int x, int y) { canvas.StretchDraw(Rect(x, y, x + Width(), y + Height()), bitmap); });
}
