// libFuzzer target: arbitrary data through the ARC decoders of methods 2 to 9.
#include "fuzz/arc_decode_fuzz_one.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    ArcDecodeOne(data, size);
    return 0;
}
