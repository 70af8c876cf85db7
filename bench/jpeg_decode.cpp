// JPEG decoding against libjpeg-turbo's djpeg.
//
// ImageMagick draws a 4000 x 3000 photo-like picture (quality 90); our decode
// program (vx_decode) and `djpeg FILE > /dev/null` are timed as whole
// processes in alternating pairs. Goal: ratio <= 1.1.
#include "bench_support.h"
#include "decode_bench.h"

#include "imaging/vximage.h"

#include <filesystem>

int main()
{
    const std::string file = bench::DataDir() + "/jpeg_decode_plasma.jpg";
    if (!decodebench::WritePlasma(file, "-quality 90"))
        return 1;
    const bench::PairTimes t = decodebench::CompareWithPeer("jpeg_decode 4000 x 3000 quality 90", file, VXFMT_JPG, "djpeg");
    std::filesystem::remove(file);
    bench::PrintRatioLine(t.ratio, 1.1);
    return 0;
}
