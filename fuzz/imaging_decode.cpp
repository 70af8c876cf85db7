// libFuzzer target: arbitrary bytes through the image format dispatch.
#include "fuzz/imaging_fuzz_one.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    VxFuzzDecodeOne(data, size);
    return 0;
}
