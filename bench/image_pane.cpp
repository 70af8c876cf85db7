// The image pane on 4000 x 3000 pictures.
//
// Showing a quality-90 JPEG as the pane does for kind 2, up to a picture
// ready to paint (the JPEG graphic decodes the file at full size, a new
// bitmap receives it by a stretched draw), against `djpeg FILE > /dev/null`
// on the same file, in alternating pairs. Goal: ratio <= 1.5.
//
// Printed above it, without a peer: a quarter turn of a 24-bit BMP (the
// pane's fast rotation) and of the 32-bit bitmap an 8-bit PNG shows as
// (the per-pixel transform), each against copying the same bitmap. Goal:
// each at most 4 times the copy.
#include "bench_support.h"

#include "app/tools/imagefunc.h"
#include "imaging/vximage.h"
#include "vcl/graphics.h"
#include "vcl/jpeg.h"

#include <QGuiApplication>

#include <cstdio>
#include <memory>

namespace {
using bench::Quoted;


// What the pane does for a JPEG before painting.
void ShowJpeg(const std::string& file)
{
    TJPEGImage jpeg;
    jpeg.LoadFromFile(file);
    TBitmap bitmap;
    bitmap.SetSize(jpeg.Width(), jpeg.Height());
    bitmap.Canvas().StretchDraw(Rect(0, 0, jpeg.Width(), jpeg.Height()), &jpeg);
}

// A turn against a copy of the same bitmap, printed as a ratio of medians.
void TurnAgainstCopy(const std::string& name, TBitmap& picture, int operation)
{
    const bench::PairTimes t = bench::Alternate(
        bench::Timed([&] {
            std::unique_ptr<TBitmap> turned = TurnedOrMirrored(picture, operation);
            picture.TakeHandle(turned->ReleaseHandle(), turned->PixelFormat());
        }),
        bench::Timed([&] {
            TBitmap copy;
            copy.Assign(picture);
        }));
    bench::PrintPair(name, "copy of the bitmap", t, 4.0);
}

}  // namespace

int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QGuiApplication app(argc, argv);
    const std::string dir = bench::DataDir();
    const std::string jpg = dir + "/image_pane.jpg", bmp = dir + "/image_pane.bmp", png = dir + "/image_pane.png";
    const std::string plasma = "convert -seed 17 -size 4000x3000 plasma:fractal ";
    if (!bench::Run(plasma + "-quality 90 " + Quoted(jpg)) || !bench::Run(plasma + "-type TrueColor BMP3:" + Quoted(bmp))
        || !bench::Run(plasma + "-colors 256 PNG8:" + Quoted(png)))
        return 1;

    TBitmap bmp24;
    bmp24.LoadFromFile(bmp);
    TurnAgainstCopy("RotateImage, 24-bit BMP 4000 x 3000", bmp24, 2);

    VxImage image(0);
    if (!image.Load(png.c_str(), 4))
        return 1;
    TBitmap shown;
    shown.SetSize(static_cast<int>(image.GetWidth()), static_cast<int>(image.GetHeight()));
    image.Draw(shown.Canvas().Handle(), 0, 0, -1, -1, nullptr, false);
    TurnAgainstCopy("TransformImageByPixels, 8-bit PNG 4000 x 3000", shown, 2);

    const bench::PairTimes t =
        bench::Alternate(bench::Timed([&] { ShowJpeg(jpg); }), bench::Command("djpeg " + Quoted(jpg) + " > /dev/null"));
    bench::PrintPair("image_pane: JPEG quality 90, 4000 x 3000, ready to paint", "djpeg", t);
    for (const std::string& f : {jpg, bmp, png})
        std::remove(f.c_str());
    bench::PrintRatioLine(t.ratio, 1.5);
    return 0;
}
