#include "imaging/vxformats_p.h"

#include "imaging/vxbmp.h"
#include "imaging/vxgif.h"
#include "imaging/vxico.h"
#include "imaging/vxjp2.h"
#include "imaging/vxjpeg.h"
#include "imaging/vxpcx.h"
#include "imaging/vxpng.h"
#include "imaging/vxtga.h"
#include "imaging/vxtiff.h"
#include "imaging/vxwbmp.h"
#include "imaging/vxwmf.h"

namespace {

template <class T>
VxImage* Make()
{
    return new T;
}

template <class T>
bool DecodeAs(VxImage& instance, VxFile* stream, std::uint32_t)
{
    return static_cast<T&>(instance).Decode(stream);
}

template <class T>
bool EncodeAs(VxImage& instance, VxFile* stream, std::uint32_t)
{
    return static_cast<T&>(instance).Encode(stream);
}

template <class T>
constexpr VxFormatCodec Codec(const char* name)
{
    return VxFormatCodec{name, &Make<T>, &DecodeAs<T>, &EncodeAs<T>};
}

// The JPEG 2000 family class is told which of its formats it serves.
bool DecodeJas(VxImage& instance, VxFile* stream, std::uint32_t formatId)
{
    return static_cast<VxImageJAS&>(instance).Decode(stream, formatId);
}
bool EncodeJas(VxImage& instance, VxFile* stream, std::uint32_t formatId)
{
    return static_cast<VxImageJAS&>(instance).Encode(stream, formatId);
}
constexpr VxFormatCodec Jas(const char* name) { return VxFormatCodec{name, &Make<VxImageJAS>, &DecodeJas, &EncodeJas}; }

constexpr VxFormatCodec Absent(const char* name) { return VxFormatCodec{name, nullptr, nullptr, nullptr}; }

const VxFormatCodec kRows[VXFMT_COUNT] = {
    Absent("unknown"),
    Codec<VxImageBMP>("BMP"),
    Codec<VxImageGIF>("GIF"),
    Codec<VxImageJPG>("JPEG"),
    Codec<VxImagePNG>("PNG"),
    Codec<VxImageICO>("ICO"),
    Codec<VxImageTIF>("TIFF"),
    Codec<VxImageTGA>("TGA"),
    Codec<VxImagePCX>("PCX"),
    Codec<VxImageWBMP>("WBMP"),
    Codec<VxImageWMF>("WMF"),
    Jas("JP2"),
    Jas("JPC"),
    Jas("PGX"),
    Jas("PNM"),
    Jas("RAS"),
};

}  // namespace

const VxFormatCodec* VxFormatRow(std::uint32_t formatId)
{
    return formatId < VXFMT_COUNT ? &kRows[formatId] : nullptr;
}

const VxDetectStep kVxDetectOrder[] = {
    {VXFMT_BMP, VXFMT_BMP},   {VXFMT_JPG, VXFMT_JPG}, {VXFMT_ICO, VXFMT_ICO}, {VXFMT_GIF, VXFMT_GIF},
    {VXFMT_PNG, VXFMT_PNG},   {VXFMT_TIF, VXFMT_TIF}, {VXFMT_TGA, VXFMT_TGA}, {VXFMT_PCX, VXFMT_PCX},
    {VXFMT_WBMP, VXFMT_WBMP}, {VXFMT_WMF, VXFMT_WMF},
    // The JPEG 2000 family class reads all of its formats when given id 0.
    {VXFMT_JP2, VXFMT_UNKNOWN},
};
const std::size_t kVxDetectOrderCount = sizeof kVxDetectOrder / sizeof kVxDetectOrder[0];
