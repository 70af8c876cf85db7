// JPEG decoding against libjpeg-turbo's djpeg.
//
// ImageMagick draws a 4000 x 3000 photo-like picture (quality 90); our decode
// program (vx_decode) and `djpeg FILE > /dev/null` are timed as whole
// processes in alternating pairs. Goal: ratio <= 1.1.
#include "decode_bench.h"

#include "imaging/vximage.h"

int main() { return decodebench::RunPlasmaBench("jpeg_decode", "jpg", "-quality 90", VXFMT_JPG, "djpeg", 1.1); }
