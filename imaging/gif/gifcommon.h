// What every part of the GIF graphic class shares: its exception, the
// kinds and options of its objects, the module-wide defaults and the texts
// of the messages it raises or reports.
#pragma once

#include "rtl/sysutils.h"
#include "vcl/graphics.h"

#include <cstdint>

VISTREL_DECLARE_EXCEPTION(GIFException, EInvalidGraphic)

enum class TGIFSeverity { Info, Warning, Error };

enum TGIFVersion { gvUnknown, gv87a, gv89a };
enum TDisposalMethod { dmNone, dmNoDisposal, dmBackground, dmPrevious };
enum TGIFCompression { gcLZW, gcRLE };
enum TColorReduction {
    rmNone, rmWindows20, rmWindows256, rmWindowsGray, rmMonochrome, rmGrayScale, rmNetscape, rmQuantize,
    rmQuantizeWindows, rmPalette
};
enum TDitherMode { dmNearest, dmFloydSteinberg, dmStucki, dmSierra, dmJaJuNI, dmSteveArche, dmBurkes };

// Drawing options, one bit each (bit n is option n).
enum TGIFDrawOption : std::uint16_t {
    goAsync = 1 << 0,
    goTransparent = 1 << 1,
    goAnimate = 1 << 2,
    goLoop = 1 << 3,
    goLoopContinously = 1 << 4,
    goValidateCanvas = 1 << 5,
    goDirectDraw = 1 << 6,
    goClearOnLoop = 1 << 7,
    goTile = 1 << 8,
    goDither = 1 << 9,
    goAutoDither = 1 << 10,
};
using TGIFDrawOptions = std::uint16_t;

// Delays are counted in units of GIFDelayExp milliseconds.
inline int GIFDelayExp = 12;
inline int GIFDefaultDelay = 10;
inline int GIFMinimumDelay = 3;
inline int GIFMaximumDelay = 1000;

inline TGIFDrawOptions GIFImageDefaultDrawOptions = goAsync | goTransparent | goAnimate | goLoop | goDither | goAutoDither;
inline TColorReduction GIFImageDefaultColorReduction = rmNetscape;
inline int GIFImageDefaultColorReductionBits = 8;
inline TDitherMode GIFImageDefaultDitherMode = dmNearest;
inline TGIFCompression GIFImageDefaultCompression = gcLZW;
inline int GIFImageDefaultAnimationSpeed = 100;
// The screen shows at most 256 colours; set when the GIF unit starts, and by
// tests that draw as a palette screen would.
inline bool PaletteDevice = false;
inline bool DoAutoDither = false;
// Build each frame's bitmap as soon as the frame is read.
inline bool GIFImageRenderOnLoad = false;
inline bool GIFImageOptimizeOnStream = false;

namespace gifmsg {
inline constexpr const char* OutOfData = "Premature end of data";
inline constexpr const char* TooManyColors = "Color table overflow";
inline constexpr const char* BadColorIndex = "Invalid color index";
inline constexpr const char* BadVersion = "Unsupported GIF version";
inline constexpr const char* BadSignature = "Invalid GIF signature";
inline constexpr const char* UnknownExtension = "Unknown extension type";
inline constexpr const char* BadExtensionLabel = "Invalid extension introducer";
inline constexpr const char* OutOfMemDIB = "Failed to allocate memory for GIF DIB";
inline constexpr const char* BadTrailer = "Invalid Image trailer";
inline constexpr const char* BadExtensionInstance = "Internal error: Extension Instance does not match Extension Label";
inline constexpr const char* BadBlockSize = "Unsupported Application Extension block size";
inline constexpr const char* BadBlock = "Unknown GIF block type";
inline constexpr const char* InvalidData = "Invalid GIF data";
inline constexpr const char* BadHeight = "Image height too small for contained frames";
inline constexpr const char* BadWidth = "Image width too small for contained frames";
inline constexpr const char* ScreenSizeExceeded = "Image exceeds Logical Screen size";
inline constexpr const char* NoColorTable = "No global or local color table defined";
inline constexpr const char* BadPixelCoordinates = "Invalid pixel coordinates";
inline constexpr const char* InvalidPixelFormat = "Unsupported PixelFormat";
inline constexpr const char* BadDimension = "Invalid image dimensions";
inline constexpr const char* InvalidBitmap = "Bitmap image is not valid";
inline constexpr const char* NoDIB = "Image has no DIB";
inline constexpr const char* InvalidBitSize = "Invalid Bits Per Pixel value";
inline constexpr const char* EmptyColorMap = "Color table is empty";
inline constexpr const char* EmptyImage = "Image is empty";
inline constexpr const char* GIFImageFile = "GIF Image";
inline constexpr const char* Loading = "Loading...";
inline constexpr const char* Saving = "Saving...";
inline constexpr const char* ColorNotInTable = "Color not in color table";
inline constexpr const char* Rendering = "Rendering...";
inline constexpr const char* Converting = "Converting...";
inline constexpr const char* InvalidReduction = "Invalid reduction method";
}  // namespace gifmsg

[[noreturn]] inline void GIFError(const char* message) { throw GIFException(message); }
