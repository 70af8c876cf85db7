// PNG decoding against netpbm's pngtopam.
//
// ImageMagick draws a 4000 x 3000 photo-like picture (8-bit RGB); our decode
// program (vx_decode) and `pngtopam FILE > /dev/null` are timed as whole
// processes in alternating pairs. Goal: ratio <= 0.8.
#include "bench_support.h"
#include "decode_bench.h"

#include "imaging/vximage.h"

#include <filesystem>

int main()
{
    const std::string file = bench::DataDir() + "/png_decode_plasma.png";
    if (!decodebench::WritePlasma(file, "-depth 8"))
        return 1;
    const bench::PairTimes t = decodebench::CompareWithPeer("png_decode 4000 x 3000 RGB", file, VXFMT_PNG, "pngtopam");
    std::filesystem::remove(file);
    bench::PrintRatioLine(t.ratio, 0.8);
    return 0;
}
