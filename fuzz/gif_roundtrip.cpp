// libFuzzer target: bytes the GIF graphic class reads are written and read
// again, and must come back the same.
#include "fuzz/gif_roundtrip_fuzz_one.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    GifRoundTripFuzzOne(data, size);
    return 0;
}
