// Decoding an LZW-coded 4000 x 3000 RGB TIFF file against netpbm's tifftopnm
// writing to /dev/null. Goal: ratio <= 1.0.
#include "image_decode_bench.h"

int main()
{
    return bench::RunDecodeBench({"tiff_decode", "tif", VXFMT_TIF, "-depth 8 -compress LZW", "tifftopnm", 1.0});
}
