// TIFF decoding against netpbm's tifftopnm.
//
// ImageMagick draws a 4000 x 3000 photo-like picture (8-bit RGB, LZW-coded strips); our decode
// program (vx_decode) and `tifftopnm FILE > /dev/null` are timed as whole
// processes in alternating pairs. Goal: ratio <= 1.0.
#include "decode_bench.h"

#include "imaging/vximage.h"

int main() { return decodebench::RunPlasmaBench("tiff_decode", "tif", "-depth 8 -compress LZW", VXFMT_TIF, "tifftopnm", 1.0); }
