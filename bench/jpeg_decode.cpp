// Decoding a 4000 x 3000 JPEG file of quality 90 against libjpeg-turbo's
// djpeg writing to /dev/null. Goal: ratio <= 1.1.
#include "image_decode_bench.h"

int main()
{
    return bench::RunDecodeBench({"jpeg_decode", "jpg", VXFMT_JPG, "-quality 90", "djpeg", 1.1});
}
