// PNG decoding against netpbm's pngtopam.
//
// ImageMagick draws a 4000 x 3000 photo-like picture (8-bit RGB); our decode
// program (vx_decode) and `pngtopam FILE > /dev/null` are timed as whole
// processes in alternating pairs. Goal: ratio <= 0.8.
#include "decode_bench.h"

#include "imaging/vximage.h"

int main() { return decodebench::RunPlasmaBench("png_decode", "png", "-depth 8", VXFMT_PNG, "pngtopam", 0.8); }
