// libFuzzer target: arbitrary streams through the compress and ZOO LZW
// decoders.
#include "fuzz/lzw_decode_fuzz_one.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    LzwDecodeOne(data, size);
    return 0;
}
