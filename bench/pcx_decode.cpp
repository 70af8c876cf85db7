// PCX decoding against netpbm's pcxtoppm.
//
// Makes a 4000 x 3000 picture, has ImageMagick write it as a 24-bit PCX
// (three planes) and, in 256 colours, as an 8-bit one, then times our decode
// program (vx_decode) and `pcxtoppm FILE > /dev/null` as whole processes in
// alternating pairs. Prints the 8-bit comparison, the peak memory of both
// (goal for ours: the picture plus 16 MB) and, last, the 24-bit ratio
// (goal: at most 1).
#include "bench_support.h"
#include "decode_bench.h"

#include <cstdio>
#include <filesystem>

namespace {

constexpr int kWidth = 4000;
constexpr int kHeight = 3000;
constexpr std::uint32_t kPcxFormat = 8;
// Bytes of the decoded 24-bit picture: header and rows padded to 4 bytes.
constexpr double kPictureMb = (40.0 + (kWidth * 3 + 3) / 4 * 4.0 * kHeight) / (1024.0 * 1024.0);
constexpr double kMemoryAllowanceMb = 16;

}  // namespace

int main()
{
    const std::string dir = bench::DataDir() + "/pcx_decode_";
    const std::string photo = dir + "photo.ppm", palette = dir + "palette.ppm";
    const std::string rgb24 = dir + "rgb24.pcx", pal8 = dir + "pal8.pcx";
    using decodebench::Quoted;
    const bool made = decodebench::WritePpm(photo, kWidth, kHeight, decodebench::PhotoPixel) &&
                      decodebench::WritePpm(palette, kWidth, kHeight, decodebench::PalettePixel) &&
                      bench::Run("convert " + Quoted(photo) + " PCX:" + Quoted(rgb24)) &&
                      bench::Run("convert " + Quoted(palette) + " -type Palette PCX:" + Quoted(pal8));
    std::filesystem::remove(photo);
    std::filesystem::remove(palette);
    if (!made)
        return 1;

    const double ourPeak = decodebench::PeakMb(decodebench::OursCommand(rgb24, kPcxFormat));
    const double peerPeak = decodebench::PeakMb(decodebench::PeerCommand("pcxtoppm", rgb24));
    if (ourPeak < 0 || peerPeak < 0)
        return 1;

    decodebench::CompareWithPeer("pcx_decode 4000 x 3000 8-bit", pal8, kPcxFormat, "pcxtoppm");
    std::printf("pcx_decode 4000 x 3000 24-bit peak memory: ours %.1f MB (goal <= picture %.1f MB + %.0f MB), "
                "pcxtoppm %.1f MB\n",
                ourPeak, kPictureMb, kMemoryAllowanceMb, peerPeak);
    const bench::PairTimes full = decodebench::CompareWithPeer("pcx_decode 4000 x 3000 24-bit", rgb24, kPcxFormat, "pcxtoppm");
    bench::PrintRatioLine(full.ratio, 1.0);
    std::filesystem::remove(rgb24);
    std::filesystem::remove(pal8);
    return ourPeak <= kPictureMb + kMemoryAllowanceMb ? 0 : 1;
}
