// GIF encoding against netpbm's pamtogif.
//
// A 4000 x 3000 picture in 256 colours (written as GIF by ImageMagick and
// read once by the GIF graphic class) is saved through the graphic class
// with LZW into a file stream on /dev/null, and `pamtogif` encodes the same
// pixels from a PAM to /dev/null, in alternating pairs (goal: at most 0.7).
// Printed above: the graphic class's run-length coder and the image
// classes' writer (LZW, through a C stream on /dev/null) against the same
// peer.
#include "bench_support.h"
#include "decode_bench.h"

#include "imaging/gif/gifimage.h"
#include "imaging/vxfile.h"
#include "imaging/vximage.h"

#include <cstdio>
#include <filesystem>

namespace {

constexpr int kWidth = 4000;
constexpr int kHeight = 3000;

// The picture as GIF and as the PAM the peer reads, made once.
bool MakeInputs(const std::string& gif, const std::string& pam)
{
    if (std::filesystem::exists(gif) && std::filesystem::exists(pam))
        return true;
    const std::string source = bench::DataDir() + "/gif_encode_source.ppm";
    const bool made = decodebench::WritePpm(source, kWidth, kHeight, decodebench::PhotoPixel) &&
                      bench::Run("convert " + bench::Quoted(source) + " -colors 256 GIF:" + bench::Quoted(gif)) &&
                      bench::Run("giftopnm " + bench::Quoted(gif) + " | pamtopam > " + bench::Quoted(pam));
    std::filesystem::remove(source);
    return made;
}

void SaveToNull(TGIFImage& image)
{
    TFileStream out("/dev/null", fmOpenWrite);
    image.SaveToStream(out);
}

void EncodeToNull(VxImage& image)
{
    std::FILE* f = std::fopen("/dev/null", "wb");
    VxIOFile out(f);
    if (!image.Encode(&out, VXFMT_GIF))
        std::fprintf(stderr, "VxImage GIF encode failed\n");
    std::fclose(f);
}

}  // namespace

int main()
{
    const std::string gif = bench::DataDir() + "/gif_encode_still.gif";
    const std::string pam = bench::DataDir() + "/gif_encode_still.pam";
    if (!MakeInputs(gif, pam))
        return 1;
    TGIFImage image;
    TFileStream in(gif, fmOpenRead);
    image.LoadFromStream(in);
    const bench::Side peer = bench::Command("pamtogif -quiet " + bench::Quoted(pam) + " > /dev/null");

    image.SetCompression(gcRLE);
    bench::PrintPair("gif_encode run-length, TGIFImage", "pamtogif",
                     bench::Alternate(bench::Timed([&] { SaveToNull(image); }), peer));

    VxImage vx;
    if (!vx.Load(gif.c_str(), VXFMT_GIF))
        return 1;
    bench::PrintPair("gif_encode LZW, VxImage", "pamtogif", bench::Alternate(bench::Timed([&] { EncodeToNull(vx); }), peer));

    image.SetCompression(gcLZW);
    const bench::PairTimes t = bench::Alternate(bench::Timed([&] { SaveToNull(image); }), peer);
    bench::PrintPair("gif_encode 4000 x 3000 256 colours LZW, TGIFImage", "pamtogif", t);
    bench::PrintRatioLine(t.ratio, 0.7);
    return 0;
}
