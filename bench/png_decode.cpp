// Decoding a 4000 x 3000 RGB PNG file against netpbm's pngtopam writing to
// /dev/null. Goal: ratio <= 0.8.
#include "image_decode_bench.h"

int main()
{
    return bench::RunDecodeBench({"png_decode", "png", VXFMT_PNG, "-depth 8", "pngtopam", 0.8});
}
