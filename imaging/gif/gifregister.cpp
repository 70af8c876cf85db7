// Linked into the program as an object file, so that its registration runs
// before main whether or not anything names the GIF class.
#include "imaging/gif/gifregister.h"

#include "gdi/wingdi.h"
#include "imaging/gif/gifimage.h"
#include "ole/ole2.h"

namespace {

std::uint32_t g_clipboardFormat = 0;

struct GIFUnit {
    GIFUnit()
    {
        const auto factory = [] { return std::unique_ptr<TGraphic>(std::make_unique<TGIFImage>()); };
        TPicture::RegisterFileFormat("gif", gifmsg::GIFImageFile, factory);
        g_clipboardFormat = RegisterClipboardFormatA(gifmsg::GIFImageFile);
        if (g_clipboardFormat)
            TPicture::RegisterClipboardFormat(g_clipboardFormat, factory);
        DetectPaletteDevice();
    }
    ~GIFUnit() { TPicture::UnregisterFileFormat("gif"); }
};

const GIFUnit g_unit;

}  // namespace

std::uint32_t GIFClipboardFormat() { return g_clipboardFormat; }

void DetectPaletteDevice()
{
    HDC screen = GetDC(nullptr);
    if (!screen)
        return;
    const int bits = GetDeviceCaps(screen, BITSPIXEL) * GetDeviceCaps(screen, PLANES);
    ReleaseDC(nullptr, screen);
    PaletteDevice = bits > 0 && bits <= 8;
    DoAutoDither = PaletteDevice;
}
