// GIF decoding against netpbm's giftopnm.
//
// Makes a 4000 x 3000 picture in 256 colours, written as GIF by ImageMagick,
// and times our decode program (vx_decode, the image classes' reader) and
// `giftopnm FILE > /dev/null` as whole processes in alternating pairs
// (goal: at most 1).
#include "bench_support.h"
#include "decode_bench.h"

#include <filesystem>

namespace {

constexpr int kWidth = 4000;
constexpr int kHeight = 3000;
constexpr std::uint32_t kGifFormat = 2;

// The still picture, made once and kept for later runs.
std::string StillGif()
{
    const std::string gif = bench::DataDir() + "/gif_decode_still.gif";
    if (std::filesystem::exists(gif))
        return gif;
    const std::string ppm = bench::DataDir() + "/gif_decode_still.ppm";
    const bool made = decodebench::WritePpm(ppm, kWidth, kHeight, decodebench::PalettePixel) &&
                      bench::Run("convert " + bench::Quoted(ppm) + " -colors 256 GIF:" + bench::Quoted(gif));
    std::filesystem::remove(ppm);
    return made ? gif : std::string();
}

}  // namespace

int main()
{
    const std::string still = StillGif();
    if (still.empty())
        return 1;
    const bench::PairTimes t = decodebench::CompareWithPeer("gif_decode 4000 x 3000 256 colours, VxImage", still,
                                                            kGifFormat, "giftopnm");
    bench::PrintRatioLine(t.ratio, 1.0);
    return 0;
}
