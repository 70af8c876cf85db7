// GIF decoding against netpbm's giftopnm.
//
// Makes a 4000 x 3000 picture in 256 colours, written as GIF by ImageMagick,
// and a 200-frame 640 x 480 animation assembled by gifsicle. Times, as whole
// processes in alternating pairs, the image classes' reader (vx_decode) on
// the still against `giftopnm FILE > /dev/null`, printed first, then the GIF
// graphic class loading both files and building every frame's bitmap
// (gif_load) against `giftopnm -image=all` of both, the last line (goal for
// both: at most 1).
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

// The animation: 200 frames of a picture moving across the screen, made
// once and kept for later runs.
std::string AnimationGif()
{
    const std::string gif = bench::DataDir() + "/gif_decode_anim.gif";
    if (std::filesystem::exists(gif))
        return gif;
    const std::string dir = bench::DataDir() + "/gif_decode_frames";
    std::filesystem::create_directories(dir);
    std::string frames;
    bool made = true;
    for (int i = 0; i < 200 && made; ++i) {
        const std::string ppm = dir + "/f.ppm", one = dir + "/f" + std::to_string(1000 + i) + ".gif";
        made = decodebench::WritePpm(ppm, 640, 480,
                                     [i](int x, int y) { return decodebench::PalettePixel(x + 7 * i, y + 3 * i); }) &&
               bench::Run("convert " + bench::Quoted(ppm) + " -colors 256 GIF:" + bench::Quoted(one));
        frames += " " + bench::Quoted(one);
    }
    made = made && bench::Run("gifsicle --delay 4 --loop --colors 256" + frames + " > " + bench::Quoted(gif));
    std::filesystem::remove_all(dir);
    return made ? gif : std::string();
}

}  // namespace

int main()
{
    const std::string still = StillGif();
    const std::string anim = AnimationGif();
    if (still.empty() || anim.empty())
        return 1;
    decodebench::CompareWithPeer("gif_decode 4000 x 3000 256 colours, VxImage", still, kGifFormat, "giftopnm");
    using bench::Quoted;
    const bench::PairTimes t = bench::Alternate(
        bench::Command(Quoted(GIF_LOAD_PROGRAM) + " " + Quoted(still) + " " + Quoted(anim)),
        bench::Command("giftopnm -image=all " + Quoted(still) + " > /dev/null 2>&1 && giftopnm -image=all " +
                       Quoted(anim) + " > /dev/null 2>&1"));
    bench::PrintPair("gif_decode 4000 x 3000 still and 200 frames of 640 x 480, graphic class", "giftopnm -image=all", t);
    bench::PrintRatioLine(t.ratio, 1.0);
    return 0;
}
