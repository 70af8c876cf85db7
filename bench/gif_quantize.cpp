// Colour reduction against ImageMagick.
//
// A 4000 x 3000 photograph-like picture (smooth gradients with noise, so
// that it holds far more than 256 colours) is reduced by the GIF graphic
// class's `ReduceColors` to 256 quantized colours with Floyd-Steinberg
// dithering, and ImageMagick's `convert -dither FloydSteinberg -colors 256`
// reduces the same pixels from a PPM to a PPM on /dev/null, on one thread,
// in alternating pairs (goal: at most 0.5).
#include "bench_support.h"
#include "decode_bench.h"

#include "imaging/gif/gifimage.h"
#include "imaging/gif/gifquantize.h"
#include "vcl/graphics.h"

#include <cmath>
#include <filesystem>

namespace {

constexpr int kWidth = 4000;
constexpr int kHeight = 3000;

// Gradients running across the picture in different directions and
// frequencies, with up to +-12 of noise per channel.
decodebench::Rgb GradientPixel(int x, int y)
{
    std::uint32_t h = static_cast<std::uint32_t>(x) * 2654435761u ^ static_cast<std::uint32_t>(y) * 2246822519u;
    h ^= h >> 15;
    h *= 2246822519u;
    h ^= h >> 13;
    auto noise = [h](int shift) { return static_cast<int>((h >> shift) % 25) - 12; };
    auto clamp = [](double v) { return static_cast<std::uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v); };
    const double u = static_cast<double>(x) / kWidth, v = static_cast<double>(y) / kHeight;
    return decodebench::Rgb{clamp(40 + 180 * u + 30 * std::sin(6 * v) + noise(0)),
                            clamp(30 + 160 * v + 40 * std::cos(4 * u + 2 * v) + noise(8)),
                            clamp(200 - 120 * (u + v) / 2 + 35 * std::sin(9 * u * v) + noise(16))};
}

// The picture as a 24-bit bitmap.
std::unique_ptr<TBitmap> MakeBitmap()
{
    auto bitmap = std::make_unique<TBitmap>();
    bitmap->SetPixelFormat(pf24bit);
    bitmap->SetSize(kWidth, kHeight);
    for (int y = 0; y < kHeight; ++y) {
        std::uint8_t* row = bitmap->ScanLine(y);
        for (int x = 0; x < kWidth; ++x, row += 3) {
            const decodebench::Rgb c = GradientPixel(x, y);
            row[0] = c.b;
            row[1] = c.g;
            row[2] = c.r;
        }
    }
    return bitmap;
}

}  // namespace

int main()
{
    const std::string ppm = bench::DataDir() + "/gif_quantize.ppm";
    if (!std::filesystem::exists(ppm) && !decodebench::WritePpm(ppm, kWidth, kHeight, GradientPixel))
        return 1;
    const auto bitmap = MakeBitmap();
    const bench::Side ours = bench::Timed([&] {
        const auto reduced = ReduceColors(*bitmap, rmQuantize, dmFloydSteinberg, 8, nullptr);
        if (reduced->Width() != kWidth || reduced->Height() != kHeight)
            std::fprintf(stderr, "ReduceColors gave no picture\n");
    });
    const bench::Side peer = bench::Command("MAGICK_THREAD_LIMIT=1 convert " + bench::Quoted(ppm) +
                                            " -dither FloydSteinberg -colors 256 PPM:- > /dev/null");
    const bench::PairTimes t = bench::Alternate(ours, peer);
    bench::PrintPair("gif_quantize 4000 x 3000 to 256 colours, Floyd-Steinberg, ReduceColors", "convert", t);
    bench::PrintRatioLine(t.ratio, 0.5);
    return 0;
}
