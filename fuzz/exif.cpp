// libFuzzer target: arbitrary bytes through the JPEG section reader and the
// EXIF parser.
#include "fuzz/exif_fuzz_one.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    VxFuzzExifOne(data, size);
    return 0;
}
