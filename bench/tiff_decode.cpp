// TIFF decoding against netpbm's tifftopnm.
//
// ImageMagick draws a 4000 x 3000 photo-like picture (8-bit RGB, LZW-coded strips); our decode
// program (vx_decode) and `tifftopnm FILE > /dev/null` are timed as whole
// processes in alternating pairs. Goal: ratio <= 1.0.
#include "bench_support.h"
#include "decode_bench.h"

#include "imaging/vximage.h"

#include <filesystem>

int main()
{
    const std::string file = bench::DataDir() + "/tiff_decode_plasma.tif";
    if (!decodebench::WritePlasma(file, "-depth 8 -compress LZW"))
        return 1;
    const bench::PairTimes t = decodebench::CompareWithPeer("tiff_decode 4000 x 3000 LZW RGB", file, VXFMT_TIF, "tifftopnm");
    std::filesystem::remove(file);
    bench::PrintRatioLine(t.ratio, 1.0);
    return 0;
}
