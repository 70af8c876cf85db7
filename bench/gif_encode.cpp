// GIF encoding against netpbm's pamtogif.
//
// A 4000 x 3000 picture in 256 colours (written as GIF by ImageMagick and
// read once by the GIF graphic class) is saved through the graphic class
// with LZW into a stream that drops the bytes, and `pamtogif` encodes the
// same pixels from a PPM to /dev/null, in alternating pairs (goal: at most
// 0.7). Printed above: the graphic class's run-length coder and the image
// classes' writer against the same peer.
#include "bench_support.h"
#include "decode_bench.h"

#include "imaging/gif/gifimage.h"
#include "imaging/vxfile.h"
#include "imaging/vximage.h"

#include <filesystem>

namespace {

constexpr int kWidth = 4000;
constexpr int kHeight = 3000;

// Takes every byte and keeps none.
class NullStream : public TStream {
public:
    std::int64_t Read(void*, std::int64_t) override { return 0; }
    std::int64_t Write(const void*, std::int64_t count) override { return count; }
    std::int64_t Seek(std::int64_t, TSeekOrigin) override { return 0; }
};

// The picture as GIF and as the PPM the peer reads, made once.
bool MakeInputs(const std::string& gif, const std::string& ppm)
{
    if (std::filesystem::exists(gif) && std::filesystem::exists(ppm))
        return true;
    const std::string source = bench::DataDir() + "/gif_encode_source.ppm";
    const bool made = decodebench::WritePpm(source, kWidth, kHeight, decodebench::PalettePixel) &&
                      bench::Run("convert " + bench::Quoted(source) + " -colors 256 GIF:" + bench::Quoted(gif)) &&
                      bench::Run("giftopnm " + bench::Quoted(gif) + " > " + bench::Quoted(ppm));
    std::filesystem::remove(source);
    return made;
}

}  // namespace

int main()
{
    const std::string gif = bench::DataDir() + "/gif_encode_still.gif";
    const std::string ppm = bench::DataDir() + "/gif_encode_still.ppm";
    if (!MakeInputs(gif, ppm))
        return 1;
    TGIFImage image;
    TFileStream in(gif, fmOpenRead);
    image.LoadFromStream(in);
    const bench::Side peer = bench::Command("pamtogif " + bench::Quoted(ppm) + " > /dev/null");

    image.SetCompression(gcRLE);
    bench::PrintPair("gif_encode run-length, TGIFImage", "pamtogif",
                     bench::Alternate(bench::Timed([&] { NullStream s; image.SaveToStream(s); }), peer));

    VxImage vx;
    vx.Load(gif.c_str(), VXFMT_GIF);
    bench::PrintPair("gif_encode LZW, VxImage", "pamtogif", bench::Alternate(bench::Timed([&] {
                         VxMemFile out;
                         out.Open();
                         vx.Encode(&out, VXFMT_GIF);
                     }),
                                                                                peer));

    image.SetCompression(gcLZW);
    const bench::PairTimes t = bench::Alternate(bench::Timed([&] { NullStream s; image.SaveToStream(s); }), peer);
    bench::PrintPair("gif_encode 4000 x 3000 256 colours LZW, TGIFImage", "pamtogif", t);
    bench::PrintRatioLine(t.ratio, 0.7);
    return 0;
}
